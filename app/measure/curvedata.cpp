#include "curvedata.h"
#include "ui_curvedata.h"

#include <qcustomplot.h>

#include "caxisticker.h"
#include "datafile.h"
#include "devmanage.h"
#include "plotstyle.h"
#include "runview.h"
#include "tickstep.h"
#include "viewsave.h"

#include <QResizeEvent>
#include <QTimeZone>

namespace {
// A dense trace looks the same without antialiasing and paints in about half the time.
constexpr int kAntialiasedPoints = 5000;
}  // namespace

CurveData::CurveData(QWidget *parent) : QWidget(parent), ui(new Ui::CurveData)
{
    ui->setupUi(this);
    panel = std::make_unique<runview::RunPanel>(this, ui->wgCurve, ui->wgCurve->yAxis);
    panel->ConnectControls(this);

    QCustomPlot *plot = ui->wgCurve;
    plot->setInteraction(QCP::iRangeDrag, true);
    plot->setSelectionRectMode(QCP::srmNone);
    plotstyle::DarkBackground(plot);
    plotstyle::CurveAxis(plot->xAxis);
    plotstyle::CurveAxis(plot->yAxis);

    ticker.reset(new CAxisTicker);
    ticker->setTimeZone(QTimeZone::utc());
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    ticker->setTickStepStrategy(QCPAxisTicker::tssMeetTickCount);
    ticker->setTickCount(tickCount);
    plot->xAxis->setTicker(ticker);
    plot->xAxis->grid()->setVisible(false);
    plot->xAxis->setTickLabelPadding(5);
    plot->xAxis->setRange(0, 60);

    plot->yAxis->setRange(0, 65535);

    graph = plot->addGraph();
    graph->setPen(QPen(Qt::red, 1));
    graph->setBrush(Qt::NoBrush);
    graph->setAdaptiveSampling(true);
}

CurveData::~CurveData()
{
    ui->wgCurve->clearGraphs();
    delete ui;
}

QCustomPlot *CurveData::Plot() const { return ui->wgCurve; }

void CurveData::SetRunState(bool running) { panel->SetRunState(running); }

void CurveData::SetUnit(QString unitToken) { panel->SetUnit(unitToken); }

void CurveData::SetScale(const displayunit::Scale &s) { panel->SetScale(s); }

void CurveData::UpdateData(const double &current, const StatBlock &stats,
                           const QVector<double> &times, const QVector<double> &values,
                           const bool &replaceAll)
{
    held = WindowCursor{};  // fed from outside: the next read after a cursor is whole
    panel->ShowNumbers(current, stats, values.size());
    if (replaceAll)
        graph->setData(times, values, true);
    else
        graph->addData(times, values, true);
    FitAndReplot();
}

WindowCursor CurveData::Cursor(const QString &key) const
{
    return key == heldKey ? held : WindowCursor{};
}

void CurveData::UpdateRun(double current, const StatBlock &stats, const QVector<double> &times,
                          const QVector<double> &values, const WindowPart &part, const QString &key)
{
    panel->ShowNumbers(current, stats, part.windowSize);
    if (part.whole) {
        graph->setData(times, values, true);
    } else {
        graph->addData(times, values, true);
        KeepNewest(part.windowSize);
    }
    held = part.end;
    heldKey = key;
    FitAndReplot();
}

void CurveData::KeepNewest(int windowSize)
{
    QSharedPointer<QCPGraphDataContainer> points = graph->data();
    const int excess = points->size() - windowSize;
    if (excess <= 0)
        return;
    // Dropping by key is O(1) per point; only where the first kept point shares its time
    // stamp with a dropped one does the key not tell them apart, and a copy does.
    points->removeBefore((points->constBegin() + excess)->key);
    const int left = points->size() - windowSize;
    if (left > 0) {
        const QVector<QCPGraphData> kept(points->constBegin() + left, points->constEnd());
        points->set(kept, true);
    }
}

void CurveData::FitAndReplot()
{
    graph->setAntialiased(graph->data()->size() < kAntialiasedPoints);
    QCustomPlot *plot = ui->wgCurve;
    plot->xAxis->rescale();
    plot->yAxis->rescale();
    panel->Replot();
}

void CurveData::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    panel->ReplotNow();
}

void CurveData::resizeEvent(QResizeEvent *event)
{
    const int n = tickstep::CountForWidth(event->size().width());
    if (n != tickCount) {
        ticker->setTickCount(n);  // QCustomPlot refuses 0 with a debug message
        tickCount = n;
        ui->wgCurve->replot();
    }
    QWidget::resizeEvent(event);
}

void CurveData::on_pbBoxSelect_clicked(bool checked)
{
    ui->wgCurve->setInteraction(QCP::iRangeDrag, !checked);
    ui->wgCurve->setSelectionRectMode(checked ? QCP::srmZoom : QCP::srmNone);
}

void CurveData::on_pbShrink_clicked()
{
    ui->wgCurve->rescaleAxes();
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
}

void CurveData::on_pbRestoreY_clicked()
{
    ui->wgCurve->yAxis->rescale();
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
}

void CurveData::on_pbReset_clicked()
{
    panel->Clear();
    graph->data()->clear();
    held = WindowCursor{};
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
    emit SigResetCurve();
}

void CurveData::on_pbSave_clicked()
{
    const QString path = viewsave::AskCsvName(this);
    if (path.isEmpty())
        return;
    datafile::HeaderInfo info;
    runview::FillIdentity(DevManage::Instance()->GetSelDev(), &info);
    panel->FillStatistics(&info);
    QVector<double> values;
    values.reserve(graph->data()->size());
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        values.append(it->value);
    const QString failure = viewsave::WriteOrExplain(path, datafile::CurveFile(info, values));
    if (!failure.isEmpty())
        emit SigShowMessage(failure);
}
