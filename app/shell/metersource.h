// The recorder's real source: the wall clock, a monotonic clock and the selected meter of
// the device manager (its newest power and its identity for the header).
#pragma once

#include "recorder.h"

class MeterSource : public recorder::Source {
public:
    MeterSource();
    qint64 NowMs() override;
    qint64 SteadyMs() override;
    double LatestPowerNw() override;
    datafile::HeaderInfo Identity() override;

private:
    qint64 steadyBase_;
};
