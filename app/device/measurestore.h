#ifndef QUORVEX_DEVICE_MEASURESTORE_H
#define QUORVEX_DEVICE_MEASURESTORE_H

#include <QVector>
#include <QtGlobal>

#include <tessivar/tessivar.h>

#include <cstddef>
#include <vector>

// Number of histogram bins; each bin is kHistogramBinFields doubles: lower edge, upper
// edge, share (%), at these offsets.
constexpr int kHistogramBins = 10;
constexpr int kHistogramBinFields = 3;
constexpr int kBinLower = 0;
constexpr int kBinUpper = 1;
constexpr int kBinShare = 2;

// The statistics of one run as a view receives it. Max, min, mean and the bin edges are
// in the display unit; the standard deviation stays in nanowatts; the ratio has no unit.
struct StatBlock {
    double statMax = 0.0;
    double statMin = 0.0;
    double statMean = 0.0;
    int statCount = 0;    // samples of the whole run (not only the window)
    int statElapsed = 0;  // whole seconds from the run's first to its newest sample
    QVector<double>
        histogram;  // kHistogramBins x (lower, upper, share); empty before the first sample
    double statStdDev = 0.0;
    double statRatio = 0.0;  // statMax / statMin
};

// How the current statistics run is limited.
struct StatSetting {
    bool running = false;
    int sampleLimit = -1;    // window size in samples, -1 when off
    int timeLimit = -1;      // window age limit in seconds, -1 when off
    qint64 firstTimeMs = 0;  // time stamp of the run's first sample
};

// What a reader of the run window already holds: the run (each StartStatistics of any
// meter begins a run with a number of its own, never 0) and the sequence number of its
// newest sample (the n-th sample of a run has number n; 0: nothing yet).
struct WindowCursor {
    qint64 run = 0;
    qint64 seq = 0;
};

// What a read after a cursor delivered.
struct WindowPart {
    WindowCursor end;    // the window's run and its newest sample's number
    int windowSize = 0;  // samples in the whole window now
    // True: the copy is the whole window and replaces what the reader holds (another run,
    // or samples after the cursor already left the window). False: the copy is exactly
    // the samples after the cursor; the reader keeps its newest windowSize samples.
    bool whole = true;
};

// The run window: sample time stamps (seconds) and powers (whole nanowatts), oldest
// first. Dropping the oldest entry is amortised O(1) and the live entries stay
// contiguous, so the per-tick copy is a plain block copy.
class SampleWindow {
public:
    void Clear();
    void Reserve(std::size_t extra);
    void Push(double timeSec, double valueNw);
    void PopFront();
    std::size_t Size() const { return times_.size() - head_; }
    const double *Times() const { return times_.data() + head_; }
    const double *Values() const { return values_.data() + head_; }

private:
    std::vector<double> times_;
    std::vector<double> values_;
    std::size_t head_ = 0;  // index of the oldest live entry
};

// The measurement store of one meter: latest power, running totals and the statistics
// run. Values are whole nanowatts after the attenuation gain. Not thread-safe: the
// owning DeviceRecord serialises every call with its mutex.
class MeasureStore {
public:
    // Upper bound of the window in samples whatever the limits say. The worker hands in
    // at most 600 samples/s, so the longest time window the views offer (1000 s) and the
    // largest sample window (100000) stay well below it; only a run without any limit
    // is cut, keeping its newest samples.
    static constexpr std::size_t kMaxWindow = 1000000;

    // Applies the gain 10^(attenuationDb / 10), truncates each product to whole
    // nanowatts and feeds the totals and, while a run is on, the run. n <= 0 does nothing.
    void AddSamples(const PowerData *samples, int n, double attenuationDb);

    void ResetTotals();
    // sampleCount >= 1 selects a sample window of that size; otherwise `seconds` is the
    // time limit (0 or less: no limit). Clears the results and the window.
    void StartStatistics(int sampleCount, int seconds);
    // Freezes the run; its results and window stay readable.
    void StopStatistics();

    double LastPower() const { return lastPower_; }
    qint64 LastPowerRaw() const { return lastPowerRaw_; }
    double TotalMax() const { return totalMax_; }
    double TotalMin() const { return totalMin_; }
    double TotalMean() const { return totalMean_; }
    qint64 TotalCount() const { return totalCount_; }

    StatSetting Setting() const;
    // The run's results converted with the display unit's factor (see PowerUnit).
    StatBlock Statistics(double unitFactor) const;
    // Copies the window: times in seconds, values converted with unitFactor.
    void CopyWindow(QVector<double> *times, QVector<double> *values, double unitFactor) const;
    // Copies only what follows `have` in the same run (or the whole window, see
    // WindowPart::whole), converted with unitFactor; `part` says which it was.
    void CopyWindowAfter(const WindowCursor &have, QVector<double> *times, QVector<double> *values,
                         double unitFactor, WindowPart *part) const;

private:
    void UpdateDerived();
    void CopyRange(std::size_t from, QVector<double> *times, QVector<double> *values,
                   double unitFactor) const;

    double lastPower_ = 0.0;
    qint64 lastPowerRaw_ = 0;

    double totalMax_ = 0.0;
    double totalMin_ = 0.0;
    double totalMean_ = 0.0;
    qint64 totalCount_ = 0;

    double statMax_ = 0.0;
    double statMin_ = 0.0;
    double statMean_ = 0.0;
    int statCount_ = 0;
    int statElapsed_ = 0;
    std::vector<double> histogram_;  // in nanowatts; shares in percent
    double statStdDev_ = 0.0;
    double statRatio_ = 0.0;
    bool statRunning_ = false;
    int sampleLimit_ = -1;
    int timeLimit_ = -1;
    qint64 firstTimeMs_ = 0;
    SampleWindow window_;
    qint64 run_ = 0;     // 0 until the first run starts
    qint64 runSeq_ = 0;  // samples the current run has taken
};

#endif
