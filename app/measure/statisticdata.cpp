#include "statisticdata.h"
#include "ui_statisticdata.h"

#include "datafile.h"
#include "measureformat.h"
#include "viewsave.h"

#include <qcustomplot.h>

namespace {

void StyleAxis(QCPAxis *axis)
{
    const QColor grey(180, 180, 180);
    axis->setBasePen(QPen(grey));
    axis->setTickPen(QPen(grey));
    axis->setSubTickPen(QPen(grey));
    axis->setTickLabelColor(grey);
    axis->setLabelColor(grey);
}

}  // namespace

StatisticData::StatisticData(QWidget *parent) : QWidget(parent), ui(new Ui::StatisticData)
{
    ui->setupUi(this);
    connect(ui->pbSet, &QPushButton::clicked, this, &StatisticData::SigShowSetting);
    connect(ui->pbRunStop, &QPushButton::clicked, this, &StatisticData::SigCurveControl);

    QCustomPlot *plot = ui->wgCurve;
    plot->setBackground(QBrush(QColor(29, 30, 34)));
    StyleAxis(plot->xAxis);
    StyleAxis(plot->yAxis);

    bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setName(QStringLiteral("Bars"));
    bars->setAntialiased(true);
    bars->setPen(QPen(QColor(180, 180, 180).lighter(130)));
    bars->setBrush(QColor(78, 81, 88));
    bars->setWidth(0.7);

    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int i = 1; i <= 10; ++i)
        ticker->addTick(i, QString::number(i));
    plot->xAxis->setTicker(ticker);
    plot->xAxis->setTickLabelRotation(0);
    plot->xAxis->setSubTicks(true);
    plot->xAxis->setTickLength(0, 4);
    plot->xAxis->setRange(-1, 20);
    plot->xAxis->setLabel(tr("功率(%1)").arg(unit));
    plot->xAxis->setUpperEnding(QCPLineEnding(QCPLineEnding::esSpikeArrow, 8, 10));

    plot->yAxis->setRange(0, 14);
    plot->yAxis->setPadding(35);
    plot->yAxis->setLabel(tr("占比(%)"));
    plot->yAxis->setUpperEnding(QCPLineEnding(QCPLineEnding::esSpikeArrow, 8, 10));
}

StatisticData::~StatisticData()
{
    delete ui;
}

QCustomPlot *StatisticData::Plot() const
{
    return ui->wgCurve;
}

void StatisticData::SetRunState(bool running)
{
    if (ui->pbRunStop->isChecked() != running)
        ui->pbRunStop->setChecked(running);
}

void StatisticData::SetUnit(QString unitToken)
{
    if (unitToken == unit)
        return;
    unit = std::move(unitToken);
    ui->wgCurve->xAxis->setLabel(tr("功率(%1)").arg(unit));
}

void StatisticData::UpdateData(const double &current, const StatBlock &block,
                               const QVector<double> &, const QVector<double> &values,
                               const bool &)
{
    stats = block;
    ui->lbCurVal->setText(measurefmt::Fixed2(current));
    ui->lbMaxVal->setText(measurefmt::Fixed2(block.statMax));
    ui->lbMinVal->setText(measurefmt::Fixed2(block.statMin));
    ui->lbAveVal->setText(measurefmt::Fixed2(block.statMean));
    ui->lbDeviationVal->setText(measurefmt::Fixed2(block.statStdDev));
    ui->lbRatioVal->setText(measurefmt::Fixed2(block.statRatio));
    ui->lbSampleVal->setText(QString::number(values.size()));
    ui->lbTimeVal->setText(measurefmt::Elapsed(block.statElapsed));

    const QVector<double> &h = block.histogram;
    if (h.size() < kHistogramBins * 3)
        return;  // no complete histogram yet: the chart keeps its picture

    QCustomPlot *plot = ui->wgCurve;
    QSharedPointer<QCPAxisTickerText> ticker =
        qSharedPointerDynamicCast<QCPAxisTickerText>(plot->xAxis->ticker());
    if (ticker) {
        ticker->clear();
        // QMap keys: bins of width 0 share one position and one label.
        for (int i = 0; i < kHistogramBins; ++i)
            ticker->addTick(h[i * 3], QString::number(h[i * 3], 'f', 3));
        const double lastUpper = h[(kHistogramBins - 1) * 3 + 1];
        ticker->addTick(lastUpper, QString::number(lastUpper, 'f', 3));
    }
    QVector<double> keys(kHistogramBins), heights(kHistogramBins);
    for (int i = 0; i < kHistogramBins; ++i) {
        keys[i] = (h[i * 3] + h[i * 3 + 1]) / 2.0;
        heights[i] = h[i * 3 + 2];
    }
    bars->setData(keys, heights);
    const double w = h[1] - h[0];
    bars->setWidth(0.8 * w);
    // A range of zero width is refused by the axis, which then keeps its previous range.
    plot->xAxis->setRange(h[0] - w, h[(kHistogramBins - 1) * 3 + 1] + w);
    plot->yAxis->rescale();
    Replot();
}

void StatisticData::Replot()
{
    // Hidden pages are painted when shown (showEvent).
    if (isVisible())
        ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
}

void StatisticData::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
}

void StatisticData::on_pbReset_clicked()
{
    for (QLabel *l : {ui->lbCurVal, ui->lbMaxVal, ui->lbMinVal, ui->lbAveVal, ui->lbRatioVal,
                      ui->lbDeviationVal, ui->lbSampleVal, ui->lbTimeVal})
        l->setText(QString());
    bars->data()->clear();
    Replot();
    emit SigResetCurve();
}

void StatisticData::on_pbSave_clicked()
{
    const QString path = viewsave::AskCsvName(this);
    if (path.isEmpty())
        return;
    datafile::HeaderInfo info;
    info.elapsedText = ui->lbTimeVal->text();
    info.countText = ui->lbSampleVal->text();
    info.maxText = ui->lbMaxVal->text();
    info.minText = ui->lbMinVal->text();
    info.meanText = ui->lbAveVal->text();
    info.stdDevText = ui->lbDeviationVal->text();
    info.ratioText = ui->lbRatioVal->text();
    info.unit = unit;
    viewsave::WriteOrReport(path, datafile::HistogramFile(info, stats.histogram));
}
