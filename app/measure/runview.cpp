#include "runview.h"

#include "devmanage.h"
#include "measureformat.h"
#include "powerunit.h"

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QLabel>

namespace runview {

namespace {
template <class T>
T *Child(QWidget *view, const char *name)
{
    T *w = view->findChild<T *>(QLatin1String(name));
    Q_ASSERT_X(w, "RunPanel", name);  // both run view forms have every one of them
    return w;
}
}  // namespace

RunPanel::RunPanel(QWidget *view, QCustomPlot *plot, QCPAxis *powerAxis)
    : view_(view),
      plot_(plot),
      powerAxis_(powerAxis),
      settings_(Child<QPushButton>(view, "pbSet")),
      runStop_(Child<QPushButton>(view, "pbRunStop")),
      cur_(Child<QLabel>(view, "lbCurVal")),
      max_(Child<QLabel>(view, "lbMaxVal")),
      min_(Child<QLabel>(view, "lbMinVal")),
      mean_(Child<QLabel>(view, "lbAveVal")),
      stdDev_(Child<QLabel>(view, "lbDeviationVal")),
      ratio_(Child<QLabel>(view, "lbRatioVal")),
      samples_(Child<QLabel>(view, "lbSampleVal")),
      elapsed_(Child<QLabel>(view, "lbTimeVal"))
{
    ShowAxisLabel();
}

void RunPanel::SetUnit(const QString &unit)
{
    if (unit == unit_)
        return;
    unit_ = unit;
    ShowAxisLabel();
}

void RunPanel::SetScale(const displayunit::Scale &scale)
{
    if (scale == scale_)
        return;
    scale_ = scale;
    ShowAxisLabel();
}

double RunPanel::Factor() const { return PowerUnit::Factor(unit_); }

void RunPanel::ShowAxisLabel() const
{
    powerAxis_->setLabel(
        QCoreApplication::translate("RunPanel", "功率(%1)").arg(scale_.Token(unit_)));
}

void RunPanel::SetRunState(bool running) const
{
    if (runStop_->isChecked() != running)
        runStop_->setChecked(running);
}

void RunPanel::ShowNumbers(double current, const StatBlock &stats, int windowSamples) const
{
    const double factor = Factor();
    cur_->setText(scale_.Text(current, factor, unit_, false));
    max_->setText(scale_.Text(stats.statMax, factor, unit_, false));
    min_->setText(scale_.Text(stats.statMin, factor, unit_, false));
    mean_->setText(scale_.Text(stats.statMean, factor, unit_, false));
    QString deviation = measurefmt::Fixed2(stats.statStdDev);
    if (scale_.IsLog())
        deviation += PowerUnit::Nanowatt();
    stdDev_->setText(deviation);
    ratio_->setText(measurefmt::Fixed2(stats.statRatio));
    samples_->setText(QString::number(windowSamples));
    elapsed_->setText(measurefmt::Elapsed(stats.statElapsed));
}

void RunPanel::Clear() const
{
    for (QLabel *l : {cur_, max_, min_, mean_, ratio_, stdDev_, samples_, elapsed_})
        l->setText(QString());
}

void RunPanel::FillStatistics(datafile::HeaderInfo *info) const
{
    info->elapsedText = elapsed_->text();
    info->countText = samples_->text();
    info->maxText = max_->text();
    info->minText = min_->text();
    info->meanText = mean_->text();
    info->stdDevText = stdDev_->text();
    info->ratioText = ratio_->text();
    info->unit = scale_.Token(unit_);
    info->referenceNw = scale_.RefNw();
}

void RunPanel::Replot() const
{
    if (view_->isVisible())
        plot_->replot(QCustomPlot::rpQueuedReplot);
}

void RunPanel::ReplotNow() const { plot_->replot(QCustomPlot::rpQueuedReplot); }

void FillIdentity(int devId, datafile::HeaderInfo *info)
{
    info->devName.clear();
    info->devSerial.clear();
    info->detName.clear();
    info->detSerial.clear();
    info->waveLen = 0;
    info->average = 0;
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(devId);
    if (!rec)
        return;
    info->devName = rec->devName;
    info->devSerial = rec->devSerial;
    info->detName = rec->detName;
    info->detSerial = rec->detSerial;
    info->waveLen = double(rec->waveLen.load());
    info->average = rec->average.load() & 0xFFFFu;
}

}  // namespace runview
