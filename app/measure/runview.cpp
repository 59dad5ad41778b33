#include "runview.h"

#include "devmanage.h"
#include "measureformat.h"
#include "powerunit.h"

#include <qcustomplot.h>

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

RunPanel::RunPanel(QWidget *view, QCustomPlot *plot)
    : view_(view),
      plot_(plot),
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
}

void RunPanel::SetRunState(bool running) const
{
    if (runStop_->isChecked() != running)
        runStop_->setChecked(running);
}

void RunPanel::ShowNumbers(double current, const StatBlock &stats, int windowSamples,
                           const displayunit::Scale &scale, const QString &unit) const
{
    const double factor = PowerUnit::Factor(unit);
    cur_->setText(scale.Text(current, factor, unit, false));
    max_->setText(scale.Text(stats.statMax, factor, unit, false));
    min_->setText(scale.Text(stats.statMin, factor, unit, false));
    mean_->setText(scale.Text(stats.statMean, factor, unit, false));
    QString deviation = measurefmt::Fixed2(stats.statStdDev);
    if (scale.IsLog())
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

void RunPanel::FillStatistics(const displayunit::Scale &scale, const QString &unit,
                              datafile::HeaderInfo *info) const
{
    info->elapsedText = elapsed_->text();
    info->countText = samples_->text();
    info->maxText = max_->text();
    info->minText = min_->text();
    info->meanText = mean_->text();
    info->stdDevText = stdDev_->text();
    info->ratioText = ratio_->text();
    info->unit = scale.Token(unit);
    info->referenceNw = scale.RefNw();
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
