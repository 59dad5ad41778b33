// The meters the user connected and has not closed, and the look-out for those of them
// that went missing (unplugged, a USB reset, a probe detached and the meter dropped).
//
// A meter is known by its head and probe serials, so it is found again on any port,
// under whatever id the library gives it there. The look-out decides; the main window
// acts (scans, connects, forgets, gives settings back, selects):
//
//   Opened      a connect succeeded (the user's or the look-out's own)
//   Closed      the user closed the meter's card: it is never connected again unasked
//   Tick        every GUI tick: which meters stopped streaming long enough to count as
//               missing, which of their records to forget so that a scan probes them
//               afresh, and whether a scan is due (about every kScanEveryMs while one is
//               missing, never two at once)
//   Appeared    a scan added a meter: connect it when it is a missing one
//   Ready       a reconnected meter is ready: the record whose settings it gets back,
//               and whether it was the selected meter
//
// While no meter is missing a tick costs a few atomic reads per wanted meter.
// GUI thread only. Plain logic: the clock and the device manager come in as arguments.
#pragma once

#include "devicerecord.h"

#include <QString>
#include <QVector>

#include <functional>
#include <optional>

class Lookout {
public:
    static constexpr qint64 kScanEveryMs = 2000;
    // Not streaming this long: missing. Covers a connect's start-up (the scan's probe has
    // already waited for the meter to get ready), short enough to look out soon.
    static constexpr qint64 kMissingAfterMs = 2000;
    // A reconnect whose meter did not stream in this time is missing again.
    static constexpr qint64 kReconnectTimeoutMs = 10000;
    // A scan that never reported its end does not block the look-out for longer.
    static constexpr qint64 kScanGiveUpMs = 30000;

    using FindRecord = std::function<DeviceRecordPtr(int id)>;

    struct Step {
        QVector<int> forget;  // ids whose records the window drops (card, entry, manager)
        bool scan = false;    // ask the worker for a scan now
    };
    struct Restore {
        DeviceRecordPtr from;  // the meter's record before it went: settings to give back
        bool select = false;   // it was the selected meter
    };

    // A connect of `rec` (id rec->id) succeeded.
    void Opened(const DeviceRecordPtr &rec, qint64 nowMs);
    // The connect of `id` failed: a reconnect of a missing meter tries again later.
    void OpenFailed(int id, qint64 nowMs);
    void Closed(int id);

    Step Tick(qint64 nowMs, const FindRecord &find, int selectedId);
    void ScanFinished() { scanSince_ = -1; }

    // True when `rec` (just added by a scan) is a wanted meter that is missing: the
    // window connects it.
    bool Appeared(const DeviceRecordPtr &rec, qint64 nowMs);
    // `id` is ready and streaming after a reconnect: what to give back, once.
    std::optional<Restore> Ready(int id);

    bool IsWanted(int id) const;
    bool AnyMissing() const;
    int WantedCount() const { return wanted_.size(); }

private:
    enum class State { Present, Missing, Reconnecting };
    struct Wanted {
        QString devSerial, detSerial;
        int id = -1;
        DeviceRecordPtr last;  // newest record while present: its settings are the user's
        bool selected = false;
        State state = State::Present;
        bool streaming = false;
        qint64 quietSince = -1;  // not streaming since (ms); -1 while streaming
        qint64 reconnectSince = -1;
        bool forgotten = false;  // a Missing meter's stale record was handed out to drop
    };
    Wanted *ByKey(const DeviceRecord &rec);
    Wanted *ById(int id);

    QVector<Wanted> wanted_;
    qint64 lastScanMs_ = -1;
    qint64 scanSince_ = -1;  // a look-out scan is running since; -1 none
};
