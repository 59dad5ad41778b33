#include "lookout.h"

Lookout::Wanted *Lookout::ByKey(const DeviceRecord &rec)
{
    for (Wanted &w : wanted_) {
        if (w.devSerial == rec.devSerial && w.detSerial == rec.detSerial)
            return &w;
    }
    return nullptr;
}

Lookout::Wanted *Lookout::ById(int id)
{
    for (Wanted &w : wanted_) {
        if (w.id == id && id >= 0)
            return &w;
    }
    return nullptr;
}

void Lookout::Opened(const DeviceRecordPtr &rec, qint64 nowMs)
{
    if (!rec)
        return;
    Wanted *w = ByKey(*rec);
    if (!w) {
        Wanted fresh;
        fresh.devSerial = rec->devSerial;
        fresh.detSerial = rec->detSerial;
        wanted_.append(fresh);
        w = &wanted_.last();
    }
    w->id = rec->id;
    w->quietSince = nowMs;
    w->forgotten = false;
    if (w->state == State::Reconnecting)
        return;  // `last` keeps the settings until Ready gives them back
    w->state = State::Present;
    w->last = rec;
}

void Lookout::OpenFailed(int id, qint64 nowMs)
{
    Wanted *w = ById(id);
    if (!w || w->state != State::Reconnecting)
        return;
    w->state = State::Missing;
    w->quietSince = nowMs;
    w->forgotten = false;  // its record is dropped so that the next scan probes it again
}

void Lookout::Closed(int id)
{
    for (int i = 0; i < wanted_.size(); ++i) {
        if (wanted_[i].id == id) {
            wanted_.remove(i);
            return;
        }
    }
}

Lookout::Step Lookout::Tick(qint64 nowMs, const FindRecord &find, int selectedId)
{
    Step step;
    bool missing = false;
    for (Wanted &w : wanted_) {
        const DeviceRecordPtr rec = w.id >= 0 ? find(w.id) : nullptr;
        w.streaming = rec && !rec->IsRemoved() && rec->IsStreaming();
        if (w.streaming) {
            w.quietSince = -1;
            if (w.state == State::Present) {
                w.selected = selectedId == w.id;
                w.last = rec;
            }
            continue;  // a reconnected meter turns Present in Ready, with its settings
        }
        if (w.quietSince < 0)
            w.quietSince = nowMs;
        if (w.state == State::Present && nowMs - w.quietSince >= kMissingAfterMs)
            w.state = State::Missing;
        if (w.state == State::Reconnecting && nowMs - w.reconnectSince >= kReconnectTimeoutMs) {
            w.state = State::Missing;
            w.forgotten = false;
        }
        if (w.state != State::Missing)
            continue;
        missing = true;
        // A record the manager still holds keeps a scan from probing the meter again.
        if (rec && !w.forgotten) {
            step.forget.append(w.id);
            w.forgotten = true;
        }
    }
    if (scanSince_ >= 0 && nowMs - scanSince_ >= kScanGiveUpMs)
        scanSince_ = -1;
    if (missing && scanSince_ < 0 && (lastScanMs_ < 0 || nowMs - lastScanMs_ >= kScanEveryMs)) {
        step.scan = true;
        lastScanMs_ = scanSince_ = nowMs;
    }
    return step;
}

bool Lookout::Appeared(const DeviceRecordPtr &rec, qint64 nowMs)
{
    if (!rec)
        return false;
    Wanted *w = ByKey(*rec);
    if (!w || w->state == State::Reconnecting || (w->state == State::Present && w->streaming))
        return false;
    w->state = State::Reconnecting;
    w->id = rec->id;
    w->reconnectSince = nowMs;
    w->forgotten = false;
    return true;
}

std::optional<Lookout::Restore> Lookout::Ready(int id)
{
    Wanted *w = ById(id);
    if (!w || w->state != State::Reconnecting)
        return std::nullopt;
    w->state = State::Present;
    Restore r{w->last, w->selected};
    return r;
}

bool Lookout::IsWanted(int id) const
{
    for (const Wanted &w : wanted_) {
        if (w.id == id)
            return true;
    }
    return false;
}

bool Lookout::AnyMissing() const
{
    for (const Wanted &w : wanted_) {
        if (w.state != State::Present)
            return true;
    }
    return false;
}
