// How often a meter delivers samples, judged from the time stamps it actually sends, and
// from that how old its newest sample may be before a reader must not take it as a
// present measurement.
//
// The interval is the median of the last kWindow gaps between consecutive sample time
// stamps, so one long pause (a meter unplugged for a while) does not stretch the limit,
// while a meter that really is slow (a long averaging) gets a limit that suits it.
#pragma once

#include <QtGlobal>

#include <array>

class SampleCadence {
public:
    static constexpr qint64 kMinStaleMs = 1000;   // never stricter than this
    static constexpr qint64 kMaxStaleMs = 60000;  // a sample older than a minute is never fresh
    static constexpr int kIntervalsPerLimit = 3;  // missed intervals before a sample is stale
    static constexpr int kWindow = 15;

    // One sample's time stamp (ms, the library's clock), in arrival order. Stamps that do
    // not advance are not intervals and are skipped.
    void Add(qint64 stampMs);
    // Median interval between samples in ms; 0 before two stamps were seen.
    qint64 IntervalMs() const;
    // Age in ms from which the newest sample is stale:
    // kIntervalsPerLimit × IntervalMs(), within [kMinStaleMs, kMaxStaleMs].
    qint64 StaleAfterMs() const;

private:
    std::array<qint64, kWindow> gaps_{};
    int count_ = 0;  // gaps stored, up to kWindow
    int next_ = 0;   // ring position of the next gap
    qint64 last_ = 0;
    bool haveLast_ = false;
};
