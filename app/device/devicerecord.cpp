#include "devicerecord.h"

#include "powerunit.h"

#include "locking.h"

#include <chrono>
#include <limits>

DeviceRecord::DeviceRecord(int id_, const QString &devName_, const QString &detName_,
                           const QString &devSerial_, const QString &detSerial_,
                           const QString &version_)
    : id(id_),
      devName(devName_),
      detName(detName_),
      detSerial(detSerial_),
      devSerial(devSerial_),
      version(version_),
      unit_(PowerUnit::Nanowatt()),
      rangeHigh_(std::numeric_limits<double>::max())
{
}

void DeviceRecord::AddSamples(const PowerData *samples, int n)
{
    MutexLock locker(&mutex_);
    store_.AddSamples(samples, n, Attenuation());
    lastPowerRaw_.store(store_.LastPowerRaw(), std::memory_order_relaxed);
    if (n <= 0)
        return;
    for (int i = 0; i < n; ++i)
        cadence_.Add(samples[i].time);
    staleAfterMs_.store(cadence_.StaleAfterMs(), std::memory_order_relaxed);
    arrivedSamples_.fetch_add(n, std::memory_order_relaxed);
    // Last, so that a reader who sees the new arrival also sees the new value.
    lastArrivalMs_.store(SteadyNowMs(), std::memory_order_release);
}

qint64 DeviceRecord::SteadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool DeviceRecord::IsFresh(qint64 nowMs) const
{
    if (!IsStreaming())
        return false;
    const qint64 arrived = LastArrivalMs();
    return arrived >= 0 && nowMs - arrived < StaleAfterMs();
}

void DeviceRecord::GetPowerLocked(double *current, double totals[3], double factor) const
{
    using PowerUnit::ToDisplay;
    if (current != nullptr)
        *current = ToDisplay(store_.LastPower(), factor);
    if (totals != nullptr) {
        totals[0] = ToDisplay(store_.TotalMax(), factor);
        totals[1] = ToDisplay(store_.TotalMin(), factor);
        totals[2] = ToDisplay(store_.TotalMean(), factor);
    }
}

void DeviceRecord::GetStatisticsLocked(StatBlock *block, QVector<double> *times,
                                       QVector<double> *values, double factor) const
{
    if (block != nullptr)
        *block = store_.Statistics(factor);
    store_.CopyWindow(times, values, factor);
}

void DeviceRecord::GetPower(double *current, double totals[3]) const
{
    MutexLock locker(&mutex_);
    GetPowerLocked(current, totals, PowerUnit::Factor(unit_));
}

void DeviceRecord::GetStatistics(StatBlock *block, QVector<double> *times,
                                 QVector<double> *values) const
{
    MutexLock locker(&mutex_);
    GetStatisticsLocked(block, times, values, PowerUnit::Factor(unit_));
}

bool DeviceRecord::GetPowerAndStatistics(double *current, double totals[3], StatBlock *block,
                                         QVector<double> *times, QVector<double> *values) const
{
    MutexLock locker(&mutex_);
    const double factor = PowerUnit::Factor(unit_);
    GetPowerLocked(current, totals, factor);
    GetStatisticsLocked(block, times, values, factor);
    return store_.Setting().running;
}

bool DeviceRecord::GetPowerAndStatisticsAfter(double *current, double totals[3], StatBlock *block,
                                              const WindowCursor &have, QVector<double> *times,
                                              QVector<double> *values, WindowPart *part) const
{
    MutexLock locker(&mutex_);
    const double factor = PowerUnit::Factor(unit_);
    GetPowerLocked(current, totals, factor);
    if (block != nullptr)
        *block = store_.Statistics(factor);
    store_.CopyWindowAfter(have, times, values, factor, part);
    return store_.Setting().running;
}

StatSetting DeviceRecord::GetStatSetting() const
{
    MutexLock locker(&mutex_);
    return store_.Setting();
}

void DeviceRecord::StartStatistics(int sampleCount, int seconds)
{
    MutexLock locker(&mutex_);
    store_.StartStatistics(sampleCount, seconds);
}

void DeviceRecord::StopStatistics()
{
    MutexLock locker(&mutex_);
    store_.StopStatistics();
}

void DeviceRecord::ResetTotals()
{
    MutexLock locker(&mutex_);
    store_.ResetTotals();
}

QString DeviceRecord::Unit() const
{
    MutexLock locker(&mutex_);
    return unit_;
}

void DeviceRecord::SetUnit(const QString &unit)
{
    MutexLock locker(&mutex_);
    if (unit_ != unit)
        unit_ = unit;
}

void DeviceRecord::GetRange(double *low, double *high) const
{
    MutexLock locker(&mutex_);
    if (low != nullptr)
        *low = rangeLow_;
    if (high != nullptr)
        *high = rangeHigh_;
}

void DeviceRecord::SetRange(double low, double high)
{
    MutexLock locker(&mutex_);
    rangeLow_ = low;
    rangeHigh_ = high;
}
