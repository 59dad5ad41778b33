#include "statisticdata.h"
#include "ui_statisticdata.h"

#include "datafile.h"
#include "plotstyle.h"
#include "runview.h"
#include "viewsave.h"

#include <qcustomplot.h>

StatisticData::StatisticData(QWidget *parent) : QWidget(parent), ui(new Ui::StatisticData)
{
    ui->setupUi(this);
    panel = std::make_unique<runview::RunPanel>(this, ui->wgCurve, ui->wgCurve->xAxis);
    panel->ConnectControls(this);

    QCustomPlot *plot = ui->wgCurve;
    plotstyle::DarkBackground(plot);
    plotstyle::GreyAxis(plot->xAxis);
    plotstyle::GreyAxis(plot->yAxis);

    bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setName(QStringLiteral("Bars"));
    bars->setAntialiased(true);
    bars->setPen(QPen(plotstyle::kAxis.lighter(130)));
    bars->setBrush(QColor(78, 81, 88));
    bars->setWidth(0.7);

    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int i = 1; i <= kHistogramBins; ++i)
        ticker->addTick(i, QString::number(i));
    plot->xAxis->setTicker(ticker);
    plot->xAxis->setTickLabelRotation(0);
    plot->xAxis->setSubTicks(true);
    plot->xAxis->setTickLength(0, 4);
    plot->xAxis->setRange(-1, 20);
    plot->xAxis->setUpperEnding(QCPLineEnding(QCPLineEnding::esSpikeArrow, 8, 10));

    plot->yAxis->setRange(0, 14);
    plot->yAxis->setPadding(35);
    plot->yAxis->setLabel(tr("占比(%)"));
    plot->yAxis->setUpperEnding(QCPLineEnding(QCPLineEnding::esSpikeArrow, 8, 10));
}

StatisticData::~StatisticData() { delete ui; }

QCustomPlot *StatisticData::Plot() const { return ui->wgCurve; }

void StatisticData::SetRunState(bool running) { panel->SetRunState(running); }

void StatisticData::SetUnit(QString unitToken) { panel->SetUnit(unitToken); }

void StatisticData::SetScale(const displayunit::Scale &s) { panel->SetScale(s); }

void StatisticData::UpdateData(const double &current, const StatBlock &block,
                               const QVector<double> &, const QVector<double> &values, const bool &)
{
    UpdateRun(current, block, values.size());
}

void StatisticData::UpdateRun(double current, const StatBlock &block, int windowSamples)
{
    stats = block;
    panel->ShowNumbers(current, block, windowSamples);

    const QVector<double> &h = block.histogram;
    if (h.size() < kHistogramBins * kHistogramBinFields)
        return;  // no complete histogram yet: the chart keeps its picture
    const auto lower = [&h](int bin) { return h[bin * kHistogramBinFields + kBinLower]; };
    const auto upper = [&h](int bin) { return h[bin * kHistogramBinFields + kBinUpper]; };
    const auto share = [&h](int bin) { return h[bin * kHistogramBinFields + kBinShare]; };
    constexpr int last = kHistogramBins - 1;

    QCustomPlot *plot = ui->wgCurve;
    QSharedPointer<QCPAxisTickerText> ticker =
        qSharedPointerDynamicCast<QCPAxisTickerText>(plot->xAxis->ticker());
    if (ticker) {
        ticker->clear();
        // QMap keys: bins of width 0 share one position and one label.
        const displayunit::Scale &scale = panel->Scale();
        const double factor = panel->Factor();
        for (int i = 0; i < kHistogramBins; ++i)
            ticker->addTick(lower(i), scale.EdgeText(lower(i), factor));
        ticker->addTick(upper(last), scale.EdgeText(upper(last), factor));
    }
    QVector<double> keys(kHistogramBins), heights(kHistogramBins);
    for (int i = 0; i < kHistogramBins; ++i) {
        keys[i] = (lower(i) + upper(i)) / 2.0;
        heights[i] = share(i);
    }
    bars->setData(keys, heights);
    const double w = upper(0) - lower(0);
    bars->setWidth(0.8 * w);
    // A range of zero width is refused by the axis, which then keeps its previous range.
    plot->xAxis->setRange(lower(0) - w, upper(last) + w);
    plot->yAxis->rescale();
    panel->Replot();
}

void StatisticData::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    panel->ReplotNow();
}

void StatisticData::on_pbReset_clicked()
{
    panel->Clear();
    bars->data()->clear();
    panel->Replot();
    emit SigResetCurve();
}

void StatisticData::on_pbSave_clicked()
{
    const QString path = viewsave::AskCsvName(this);
    if (path.isEmpty())
        return;
    datafile::HeaderInfo info;
    panel->FillStatistics(&info);
    // The edges in the shown unit; the shares stay percentages.
    QVector<double> bins = stats.histogram;
    const displayunit::Scale &scale = panel->Scale();
    if (scale.IsLog()) {
        const double factor = panel->Factor();
        for (int i = 0; i + kBinUpper < bins.size(); i += kHistogramBinFields) {
            bins[i + kBinLower] = scale.Number(bins[i + kBinLower], factor);
            bins[i + kBinUpper] = scale.Number(bins[i + kBinUpper], factor);
        }
    }
    const QString failure = viewsave::WriteOrExplain(path, datafile::HistogramFile(info, bins));
    if (!failure.isEmpty())
        emit SigShowMessage(failure);
}
