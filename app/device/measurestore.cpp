#include "measurestore.h"

#include "powerunit.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
// Run numbers are unique in the process, so a reader that switches between meters never
// takes one meter's run for another's.
std::atomic<qint64> lastRun{0};
}  // namespace

// ---- SampleWindow -------------------------------------------------------------------

void SampleWindow::Clear()
{
    times_.clear();
    values_.clear();
    head_ = 0;
}

void SampleWindow::Reserve(std::size_t extra)
{
    // Dropped entries are reclaimed first, so reserving never grows past the live size
    // plus what the batch brings.
    if (head_ > 0 && head_ >= times_.size() / 2) {
        times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(head_));
        values_.erase(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    // Geometric growth: an exact reserve per batch would reallocate on every batch.
    const std::size_t needed = times_.size() + extra;
    if (needed > times_.capacity()) {
        const std::size_t grown = std::max(needed, 2 * times_.capacity());
        times_.reserve(grown);
        values_.reserve(grown);
    }
}

void SampleWindow::Push(double timeSec, double valueNw)
{
    times_.push_back(timeSec);
    values_.push_back(valueNw);
}

void SampleWindow::PopFront()
{
    if (Size() == 0)
        return;
    ++head_;
    if (head_ == times_.size()) {
        Clear();
    }
}

// ---- MeasureStore -------------------------------------------------------------------

void MeasureStore::AddSamples(const PowerData *samples, int n, double attenuationDb)
{
    if (samples == nullptr || n <= 0)
        return;

    const double gain = std::pow(10.0, attenuationDb / 10.0);
    auto stored = [gain](double power) {
        return static_cast<double>(PowerUnit::TruncNw(gain * power));
    };

    // Running totals.
    double batchSum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = stored(samples[i].power);
        batchSum += v;
        if (totalCount_ == 0 && i == 0) {
            totalMax_ = totalMin_ = v;
        } else if (v < totalMin_) {
            totalMin_ = v;
        } else if (v > totalMax_) {
            totalMax_ = v;
        }
    }
    const double lastV = stored(samples[n - 1].power);
    lastPower_ = lastV;
    lastPowerRaw_ = PowerUnit::TruncNw(lastV);
    {
        const double before = static_cast<double>(totalCount_);
        const double after = before + n;
        totalMean_ = (before / after) * totalMean_ + batchSum / after;
        totalCount_ += n;
    }

    if (!statRunning_)
        return;

    window_.Reserve(static_cast<std::size_t>(n));
    const int countBefore = statCount_;
    batchSum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = stored(samples[i].power);
        const qint64 t = samples[i].time;
        batchSum += v;
        if (statCount_ == 0) {
            firstTimeMs_ = t;
            statMax_ = statMin_ = v;
        } else if (v < statMin_) {
            statMin_ = v;
        } else if (v > statMax_) {
            statMax_ = v;
        }
        ++statCount_;
        statElapsed_ = static_cast<int>((t - firstTimeMs_) / 1000);
        window_.Push(t / 1000.0, v);
        ++runSeq_;
        if ((sampleLimit_ > 0 && statCount_ > sampleLimit_) ||
            (timeLimit_ > 0 && statElapsed_ >= timeLimit_) || window_.Size() > kMaxWindow) {
            window_.PopFront();
        }
    }
    const double before = static_cast<double>(countBefore);
    const double after = static_cast<double>(statCount_);
    statMean_ = (before / after) * statMean_ + batchSum / after;

    UpdateDerived();
}

// Ratio, standard deviation and histogram, once per batch over the whole window.
void MeasureStore::UpdateDerived()
{
    statRatio_ = statMax_ / statMin_;

    const std::size_t size = window_.Size();
    const double *values = window_.Values();
    if (size == 0) {
        statStdDev_ = 0.0;
        histogram_.clear();
        return;
    }

    double squares = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        const double d = values[i] - statMean_;
        squares += d * d;
    }
    statStdDev_ = std::sqrt(squares / static_cast<double>(size));

    const double width = (statMax_ - statMin_) / kHistogramBins;
    double lower[kHistogramBins];
    double upper[kHistogramBins];
    int counts[kHistogramBins] = {};
    for (int b = 0; b < kHistogramBins; ++b) {
        lower[b] = statMin_ + b * width;
        upper[b] = statMin_ + (b + 1) * width;
    }
    if (width > 0.0 && std::isfinite(width)) {
        for (std::size_t i = 0; i < size; ++i) {
            const double x = values[i];
            // Direct index, then nudged so that lower[b] <= x < upper[b] holds with the
            // very edges reported. Values at the top (statMax itself) belong to the last
            // bin, or the maximum samples would vanish from the shares.
            int b = static_cast<int>((x - statMin_) / width);
            b = std::clamp(b, 0, kHistogramBins - 1);
            while (b > 0 && x < lower[b])
                --b;
            while (b < kHistogramBins - 1 && x >= upper[b])
                ++b;
            if (x >= lower[b])
                ++counts[b];
        }
    }
    // A zero width (all values equal) leaves every bin empty: no value lies in [x, x).

    histogram_.resize(kHistogramBinFields * kHistogramBins);
    for (int b = 0; b < kHistogramBins; ++b) {
        histogram_[kHistogramBinFields * b + kBinLower] = lower[b];
        histogram_[kHistogramBinFields * b + kBinUpper] = upper[b];
        histogram_[kHistogramBinFields * b + kBinShare] =
            counts[b] / static_cast<double>(size) * 100.0;
    }
}

void MeasureStore::ResetTotals()
{
    totalMax_ = totalMin_ = totalMean_ = 0.0;
    totalCount_ = 0;
}

void MeasureStore::StartStatistics(int sampleCount, int seconds)
{
    statMax_ = statMin_ = statMean_ = 0.0;
    statCount_ = 0;
    statElapsed_ = 0;
    statStdDev_ = 0.0;
    statRatio_ = 0.0;
    histogram_.clear();
    statRunning_ = true;
    if (sampleCount >= 1) {
        sampleLimit_ = sampleCount;
        timeLimit_ = -1;
    } else {
        sampleLimit_ = -1;
        timeLimit_ = seconds;
    }
    window_.Clear();
    run_ = ++lastRun;
    runSeq_ = 0;
}

void MeasureStore::StopStatistics() { statRunning_ = false; }

StatSetting MeasureStore::Setting() const
{
    StatSetting s;
    s.running = statRunning_;
    s.sampleLimit = sampleLimit_;
    s.timeLimit = timeLimit_;
    s.firstTimeMs = firstTimeMs_;
    return s;
}

StatBlock MeasureStore::Statistics(double unitFactor) const
{
    using PowerUnit::ToDisplay;
    StatBlock block;
    block.statMax = ToDisplay(statMax_, unitFactor);
    block.statMin = ToDisplay(statMin_, unitFactor);
    block.statMean = ToDisplay(statMean_, unitFactor);
    block.statCount = statCount_;
    block.statElapsed = statElapsed_;
    block.histogram.resize(static_cast<int>(histogram_.size()));
    for (std::size_t i = 0; i < histogram_.size(); ++i) {
        const bool isShare = i % kHistogramBinFields == kBinShare;
        block.histogram[static_cast<int>(i)] =
            isShare ? histogram_[i] : ToDisplay(histogram_[i], unitFactor);
    }
    block.statStdDev = statStdDev_;
    block.statRatio = statRatio_;
    return block;
}

void MeasureStore::CopyWindow(QVector<double> *times, QVector<double> *values,
                              double unitFactor) const
{
    CopyRange(0, times, values, unitFactor);
}

void MeasureStore::CopyWindowAfter(const WindowCursor &have, QVector<double> *times,
                                   QVector<double> *values, double unitFactor,
                                   WindowPart *part) const
{
    const std::size_t size = window_.Size();
    const qint64 firstSeq = runSeq_ - static_cast<qint64>(size) + 1;
    // The reader's newest sample must still be in the window or just before it.
    const bool follows =
        have.run == run_ && run_ != 0 && have.seq >= firstSeq - 1 && have.seq <= runSeq_;
    const std::size_t from = follows ? static_cast<std::size_t>(have.seq - firstSeq + 1) : 0;
    CopyRange(from, times, values, unitFactor);
    if (part != nullptr) {
        part->end = WindowCursor{run_, runSeq_};
        part->windowSize = static_cast<int>(size);
        part->whole = !follows;
    }
}

void MeasureStore::CopyRange(std::size_t from, QVector<double> *times, QVector<double> *values,
                             double unitFactor) const
{
    const int size = static_cast<int>(window_.Size() - std::min(from, window_.Size()));
    if (times != nullptr) {
        times->resize(size);
        std::copy(window_.Times() + from, window_.Times() + from + size, times->data());
    }
    if (values != nullptr) {
        values->resize(size);
        const double *src = window_.Values() + from;
        double *dst = values->data();
        if (unitFactor == 1.0) {
            // Stored values are already whole nanowatts.
            std::copy(src, src + size, dst);
        } else {
            for (int i = 0; i < size; ++i)
                dst[i] = PowerUnit::ToDisplay(src[i], unitFactor);
        }
    }
}
