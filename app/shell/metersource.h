// The recorder's real source: the wall clock, a monotonic clock and the meter that was
// selected when the run started. The meter is held by its head and probe serials, so a
// meter that left and came back (possibly on another port, under another id) is the same
// meter again; another selection made during the run changes nothing.
#pragma once

#include "devicerecord.h"
#include "recorder.h"

class MeterSource : public recorder::Source {
public:
    MeterSource();
    qint64 NowMs() override;
    qint64 SteadyMs() override;
    bool Bind() override;
    std::optional<double> FreshPowerNw() override;
    datafile::HeaderInfo Identity() override;

private:
    // The bound meter's present record, looked up again by serials once the one held was
    // removed; null while the meter is not known.
    DeviceRecordPtr Record();

    qint64 steadyBase_;
    QString devSerial_, detSerial_;
    DeviceRecordPtr record_;
};
