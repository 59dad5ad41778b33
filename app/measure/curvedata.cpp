#include "curvedata.h"
#include "ui_curvedata.h"

#include <qcustomplot.h>

#include "caxisticker.h"
#include "datafile.h"
#include "devmanage.h"
#include "measureformat.h"
#include "tickstep.h"
#include "viewsave.h"

#include <QResizeEvent>
#include <QTimeZone>

#include <algorithm>

namespace {

constexpr int kAntialiasedPoints = 5000;

void StyleAxis(QCPAxis *axis)
{
    const QColor grey(180, 180, 180);
    axis->setBasePen(QPen(grey));
    axis->setTickPen(QPen(grey));
    axis->setSubTickPen(QPen(grey));
    axis->setTickLabelColor(grey);
    axis->setLabelColor(grey);
    QFont font = axis->tickLabelFont();
    font.setPixelSize(14);
    axis->setTickLabelFont(font);
    axis->setSubTicks(false);
}

}  // namespace

CurveData::CurveData(QWidget *parent) : QWidget(parent), ui(new Ui::CurveData)
{
    ui->setupUi(this);
    connect(ui->pbSet, &QPushButton::clicked, this, &CurveData::SigShowSetting);
    connect(ui->pbRunStop, &QPushButton::clicked, this, &CurveData::SigCurveControl);

    QCustomPlot *plot = ui->wgCurve;
    plot->setInteraction(QCP::iRangeDrag, true);
    plot->setSelectionRectMode(QCP::srmNone);
    plot->setBackground(QBrush(QColor(29, 30, 34)));
    StyleAxis(plot->xAxis);
    StyleAxis(plot->yAxis);

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
    plot->yAxis->setLabel(tr("功率(%1)").arg(unit));

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

QCustomPlot *CurveData::Plot() const
{
    return ui->wgCurve;
}

void CurveData::SetRunState(bool running)
{
    if (ui->pbRunStop->isChecked() != running)
        ui->pbRunStop->setChecked(running);
}

void CurveData::SetUnit(QString unitToken)
{
    if (unitToken == unit)
        return;
    unit = std::move(unitToken);
    unitChanged = true;  // the next window arrives converted anew: replace it whole
    ui->wgCurve->yAxis->setLabel(tr("功率(%1)").arg(unit));
}

bool CurveData::SlideOn(const QVector<double> &times, const QVector<double> &values)
{
    // The graph holds the previous window; the new one is the same series with old points
    // dropped at the front and new ones appended. Anything else (a restart, a unit change
    // that rescaled every value) gives up and lets the caller replace everything.
    QSharedPointer<QCPGraphDataContainer> points = graph->data();
    const int n = times.size();
    if (points->isEmpty() || n == 0)
        return false;
    const double lastKey = (points->constEnd() - 1)->key;
    const double lastValue = (points->constEnd() - 1)->value;
    // The graph's newest point must still be in the window with the same value.
    const auto it = std::upper_bound(times.constBegin(), times.constEnd(), lastKey);
    const int firstNew = static_cast<int>(it - times.constBegin());
    if (firstNew == 0 || values[firstNew - 1] != lastValue || times[firstNew - 1] != lastKey)
        return false;
    points->removeBefore(times.first());
    if (points->size() != firstNew || points->constBegin()->value != values.first())
        return false;
    if (firstNew < n) {
        graph->addData(times.mid(firstNew), values.mid(firstNew), true);
    }
    return points->size() == n;
}

void CurveData::UpdateData(const double &current, const StatBlock &stats,
                           const QVector<double> &times, const QVector<double> &values,
                           const bool &replaceAll)
{
    ui->lbCurVal->setText(measurefmt::Fixed2(current));
    ui->lbMaxVal->setText(measurefmt::Fixed2(stats.statMax));
    ui->lbMinVal->setText(measurefmt::Fixed2(stats.statMin));
    ui->lbAveVal->setText(measurefmt::Fixed2(stats.statMean));
    ui->lbDeviationVal->setText(measurefmt::Fixed2(stats.statStdDev));
    ui->lbRatioVal->setText(measurefmt::Fixed2(stats.statRatio));
    ui->lbSampleVal->setText(QString::number(values.size()));
    ui->lbTimeVal->setText(measurefmt::Elapsed(stats.statElapsed));

    if (replaceAll) {
        if (!incremental || unitChanged || !SlideOn(times, values))
            graph->setData(times, values, true);
        unitChanged = false;
    } else {
        graph->addData(times, values, true);
    }
    // A dense trace looks the same without antialiasing and paints in about half the time.
    graph->setAntialiased(graph->data()->size() < kAntialiasedPoints);
    QCustomPlot *plot = ui->wgCurve;
    plot->xAxis->rescale();
    plot->yAxis->rescale();
    Replot();
}

void CurveData::Replot()
{
    // A hidden page is painted when it is shown again (showEvent).
    if (isVisible())
        ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
}

void CurveData::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
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
    for (QLabel *l : {ui->lbCurVal, ui->lbMaxVal, ui->lbMinVal, ui->lbAveVal, ui->lbRatioVal,
                      ui->lbDeviationVal, ui->lbSampleVal, ui->lbTimeVal})
        l->setText(QString());
    graph->data()->clear();
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
    emit SigResetCurve();
}

void CurveData::on_pbSave_clicked()
{
    const QString path = viewsave::AskCsvName(this);
    if (path.isEmpty())
        return;
    datafile::HeaderInfo info;
    datafile::FillIdentity(DevManage::Instance()->GetSelDev(), &info);
    info.elapsedText = ui->lbTimeVal->text();
    info.countText = ui->lbSampleVal->text();
    info.maxText = ui->lbMaxVal->text();
    info.minText = ui->lbMinVal->text();
    info.meanText = ui->lbAveVal->text();
    info.stdDevText = ui->lbDeviationVal->text();
    info.ratioText = ui->lbRatioVal->text();
    info.unit = unit;
    QVector<double> values;
    values.reserve(graph->data()->size());
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        values.append(it->value);
    viewsave::WriteOrReport(path, datafile::CurveFile(info, values));
}
