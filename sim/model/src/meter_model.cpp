#include "simmeter/meter_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace simmeter {

using namespace wire;
using std::chrono::duration;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

namespace {

Bytes TextPayload(const std::string& s)
{
    Bytes b(s.begin(), s.end());
    if (b.size() % 2)
        b.push_back(0);
    return b;
}

// Text of a written identity field: up to the first zero byte. The head keeps printable
// ASCII only; any other byte is stored as '?'.
std::string FieldText(const Bytes& p)
{
    auto end = std::find(p.begin(), p.end(), uint8_t{0});
    std::string text(p.begin(), end);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E)
            c = '?';
    }
    return text;
}

SteadyTime::duration Seconds(double s)
{
    return duration_cast<SteadyTime::duration>(duration<double>(s));
}

double ClampRate(double hz)
{
    if (!(hz > 0))
        return 1;
    return std::min(hz, kMaxSampleRateHz);
}

}  // namespace

MeterIdentity DefaultIdentity(int index)
{
    char buf[32];
    MeterIdentity id;
    id.devName = "OPM-S110";
    std::snprintf(buf, sizeof buf, "S110%06d", 260100 + index);
    id.devSerial = buf;
    id.detName = "SPD-1100";
    std::snprintf(buf, sizeof buf, "D%07d", 2601000 + index);
    id.detSerial = buf;
    id.version = "V2.03.17";
    return id;
}

Clock SteadyClock()
{
    return [] { return std::chrono::steady_clock::now(); };
}

MeterModel::MeterModel(int index, Clock clock)
    : index_(index),
      clock_(std::move(clock)),
      powerOn_(clock_()),
      identity_(DefaultIdentity(index)),
      signalEpoch_(powerOn_),
      working_(DefaultCalibration()),
      saved_(working_),
      noise_(0x5EED0000ull + static_cast<uint64_t>(index))
{
}

// ---------------------------------------------------------------- host side

void MeterModel::HostWrite(const uint8_t* data, size_t size)
{
    std::lock_guard<std::mutex> lock(mu_);
    const SteadyTime now = clock_();
    decoder_.Feed(data, size);
    while (auto r = decoder_.Next()) {
        if (received_.size() >= kMaxReceivedLog)
            received_.pop_front();
        received_.push_back({r->code, r->payload, now});
        if (faults_.dropCodes.count(r->code) && faults_.dropRemaining != 0) {
            if (faults_.dropRemaining > 0)
                --faults_.dropRemaining;
            continue;
        }
        HandleLocked(*r, now);
    }
}

void MeterModel::ReplyLocked(uint16_t code, uint16_t st, Bytes payload, SteadyTime now,
                             int extraDelayMs)
{
    if (faults_.silent || faults_.ignoreCodes.count(code))
        return;
    if (faults_.badStatus != 0 &&
        (faults_.badStatusCodes.empty() || faults_.badStatusCodes.count(code))) {
        st = faults_.badStatus;
    }
    std::optional<uint16_t> lengthField;
    if (faults_.oversizeLength) {
        lengthField = 0xFFFF;
        faults_.oversizeLength = false;
    }
    Bytes frame = EncodeReply(code, st, payload, lengthField);
    if (faults_.badChecksum)
        frame[frame.size() - 2] ^= 0x5A;

    Bytes head;
    for (int i = 0; i < faults_.garbageBytes; ++i) {
        head.push_back(static_cast<uint8_t>(0x01 + 0x10 * (i % 7)));  // never 0xAA
    }
    Pending p;
    if (faults_.splitFrames) {
        const size_t half = frame.size() / 2;
        Bytes first = head;
        first.insert(first.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(half));
        p.chunks.push_back({std::move(first), true});
        p.chunks.push_back(
            {Bytes(frame.begin() + static_cast<std::ptrdiff_t>(half), frame.end()), false});
    } else {
        head.insert(head.end(), frame.begin(), frame.end());
        p.chunks.push_back({std::move(head), false});
    }
    p.due = std::max(now + milliseconds(std::max(0, faults_.replyDelayMs) + extraDelayMs),
                     lastReplyDue_);
    lastReplyDue_ = p.due;
    pending_.push_back(std::move(p));
}

bool MeterModel::HandleSpectralWriteLocked(const Bytes& p)
{
    if (p.size() >= 2 && (p.size() - 2) % 6 == 0 && GetU16(p.data()) == (p.size() - 2) / 6) {
        // The whole table in its read layout.
        auto t = SpectralTable::Decode(p);
        if (!t)
            return false;
        working_.spectral = std::move(*t);
        specStage_.clear();
        specStageHave_.clear();
        return true;
    }
    if (p.size() < 4 || (p.size() - 4) % 6 != 0)
        return false;
    const size_t total = GetU16(p.data());
    const size_t first = GetU16(p.data() + 2);
    const size_t count = (p.size() - 4) / 6;
    if (total > kMaxSpectralEntries || first + count > total)
        return false;
    if (total == 0) {
        working_.spectral.entries.clear();
        specStage_.clear();
        specStageHave_.clear();
        return true;
    }
    if (specStage_.size() != total) {
        specStage_.assign(total, SpectralEntry{});
        specStageHave_.assign(total, false);
    }
    for (size_t i = 0; i < count; ++i) {
        specStage_[first + i].nm = GetU16(p.data() + 4 + 6 * i);
        specStage_[first + i].coef = GetF32(p.data() + 6 + 6 * i);
        specStageHave_[first + i] = true;
    }
    if (std::all_of(specStageHave_.begin(), specStageHave_.end(), [](bool b) { return b; })) {
        working_.spectral.entries = std::move(specStage_);
        specStage_.clear();
        specStageHave_.clear();
    }
    return true;
}

void MeterModel::HandleLocked(const Request& r, SteadyTime now)
{
    const Bytes& p = r.payload;
    auto ack = [&](bool ok) {
        ReplyLocked(r.code, ok ? status::kOk : status::kBadParameter, {}, now);
    };
    auto writeText = [&](std::string& field, size_t max) {
        if (p.size() > max)
            return ack(false);
        field = FieldText(p);
        ack(true);
    };
    auto replyU16 = [&](uint16_t v) {
        Bytes b;
        PutU16(b, v);
        ReplyLocked(r.code, status::kOk, b, now);
    };
    auto replyF64 = [&](double v, bool shortened) {
        Bytes b;
        PutF64(b, v);
        if (shortened)
            b.resize(4);
        ReplyLocked(r.code, status::kOk, b, now);
    };

    switch (r.code) {
    case cmd::kInit: return ack(true);
    case cmd::kRecover: return;    // resynchronises by itself; no answer
    case cmd::kHeartbeat: return;  // keep-alive; no answer
    case cmd::kWriteDevSerial: return writeText(identity_.devSerial, 32);
    case cmd::kWriteDevName: return writeText(identity_.devName, 32);
    case cmd::kWriteDetSerial: return writeText(identity_.detSerial, 16);
    case cmd::kWriteDetName: return writeText(identity_.detName, 32);
    case cmd::kReadDevSerial: return ReplyLocked(r.code, 0, TextPayload(identity_.devSerial), now);
    case cmd::kReadDevName: return ReplyLocked(r.code, 0, TextPayload(identity_.devName), now);
    case cmd::kReadDetSerial: return ReplyLocked(r.code, 0, TextPayload(identity_.detSerial), now);
    case cmd::kReadDetName: return ReplyLocked(r.code, 0, TextPayload(identity_.detName), now);
    case cmd::kReadVersion: return ReplyLocked(r.code, 0, TextPayload(identity_.version), now);
    case cmd::kSetTime: {
        if (p.size() != 14)
            return ack(false);
        MeterTime t;
        uint16_t* f[] = {&t.year, &t.month, &t.day, &t.weekday, &t.hour, &t.minute, &t.second};
        for (int i = 0; i < 7; ++i)
            *f[i] = GetU16(p.data() + 2 * i);
        time_ = t;
        return ack(true);
    }
    case cmd::kDiskMode: diskMode_ = true; return ack(true);
    case cmd::kNonDiskMode: diskMode_ = false; return ack(true);
    case cmd::kStartTransfer:
        ack(true);
        if (!streaming_) {
            streaming_ = true;
            streamPeriodS_ = 1.0 / ClampRate(signal_.sampleRateHz);
            // The first sample follows the acknowledgement by one period.
            streamEpoch_ =
                std::max(now + milliseconds(std::max(0, faults_.replyDelayMs)), lastReplyDue_);
            nextSample_ = 1;
        }
        return;
    case cmd::kStopTransfer: streaming_ = false; return ack(true);
    case cmd::kSetZeroOffset:
        if (p.size() != 8)
            return ack(false);
        zeroOffset_ = GetF64(p.data());
        return ack(true);
    case cmd::kGetZeroOffset: return replyF64(zeroOffset_, false);
    case cmd::kSetBaseParam: {
        auto b = BaseRecord::Decode(p, working_.base.detectorType);
        if (b)
            working_.base = *b;
        return ack(b.has_value());
    }
    case cmd::kGetBaseParam: {
        Bytes b = working_.base.Encode();
        if (faults_.shortBaseParam)
            b.resize(8);
        return ReplyLocked(r.code, 0, b, now);
    }
    case cmd::kSetLevParam: {
        auto l = LevelRecord::Decode(p);
        if (l)
            working_.level = *l;
        return ack(l.has_value());
    }
    case cmd::kGetLevParam: {
        Bytes b = working_.level.Encode();
        if (faults_.shortLevParam)
            b.resize(120);
        return ReplyLocked(r.code, 0, b, now);
    }
    case cmd::kSetSpecParam: {
        return ack(HandleSpectralWriteLocked(p));
    }
    case cmd::kGetSpecParam: {
        Bytes b;
        if (faults_.invalidSpecTable) {
            PutU16(b, 2);
            b.resize(12, 0);
        } else if (faults_.emptySpecTable) {
            PutU16(b, 0);
        } else {
            b = working_.spectral.Encode();
        }
        return ReplyLocked(r.code, 0, b, now);
    }
    case cmd::kSaveDetParam:
        saved_ = working_;
        ++saves_;
        return ReplyLocked(r.code, 0, {}, now, saveDelayMs_);
    case cmd::kSetAverage:
        if (p.size() != 2)
            return ack(false);
        average_ = GetU16(p.data());
        return ack(true);
    case cmd::kGetAverage: return replyU16(average_);
    case cmd::kSetSampleWavelength:
        if (p.size() != 2)
            return ack(false);
        wavelength_ = GetU16(p.data());
        return ack(true);
    case cmd::kGetSampleWavelength: return replyU16(wavelength_);
    case cmd::kGetDetectorState: return replyU16(faults_.detectorState);
    case cmd::kGetProbeOffset: return replyF64(working_.probeOffset, faults_.shortProbeOffset);
    case cmd::kGetCalibrationDate: {
        Bytes b(working_.date.begin(), working_.date.end());
        b.resize(faults_.shortCalDate ? 6 : kCalibrationDateSize, 0);
        return ReplyLocked(r.code, 0, b, now);
    }
    default: return ReplyLocked(r.code, status::kUnknownCommand, {}, now);
    }
}

SteadyTime MeterModel::SampleTimeLocked(uint64_t n) const
{
    return streamEpoch_ + Seconds(static_cast<double>(n) * streamPeriodS_);
}

uint32_t MeterModel::TickAtLocked(SteadyTime at) const
{
    const auto ms = duration_cast<milliseconds>(at - powerOn_).count();
    return tickOrigin_ + static_cast<uint32_t>(static_cast<uint64_t>(std::max<int64_t>(0, ms)));
}

Bytes MeterModel::SamplePayloadLocked(SteadyTime at)
{
    const double t = duration<double>(at - signalEpoch_).count();
    double p = NominalPowerNw(signal_, t);
    if (signal_.noiseRel != 0)
        p *= 1.0 + signal_.noiseRel * noise_.Gaussian();
    const float c = working_.spectral.CoefficientAt(wavelength_);
    const RangedSample s = AutoRange(p, c, working_.base, working_.level);
    Bytes b;
    PutU32(b, TickAtLocked(at));
    PutU16(b, s.range);
    PutU16(b, s.raw);
    return b;
}

std::vector<OutChunk> MeterModel::TakeOutput(size_t maxSamples)
{
    std::lock_guard<std::mutex> lock(mu_);
    const SteadyTime now = clock_();
    std::vector<OutChunk> out;

    if (streaming_) {
        const double since = duration<double>(now - streamEpoch_).count();
        if (since >= 0) {
            uint64_t dueUpTo = static_cast<uint64_t>(since / streamPeriodS_);
            // Agree with SampleTimeLocked's rounding.
            while (SampleTimeLocked(dueUpTo + 1) <= now)
                ++dueUpTo;
            while (dueUpTo > 0 && SampleTimeLocked(dueUpTo) > now)
                --dueUpTo;
            const uint64_t backlogCap =
                std::max<uint64_t>(1, static_cast<uint64_t>(1.0 / streamPeriodS_));
            if (faults_.silent) {
                nextSample_ = std::max(nextSample_, dueUpTo + 1);
            } else if (dueUpTo >= nextSample_ && dueUpTo - nextSample_ + 1 > backlogCap) {
                nextSample_ = dueUpTo + 1 - backlogCap;
            }
        }
    }

    size_t samples = 0;
    for (;;) {
        const bool replyDue = !pending_.empty() && pending_.front().due <= now;
        bool sampleDue = false;
        SteadyTime st{};
        if (streaming_ && !faults_.silent && samples < maxSamples) {
            st = SampleTimeLocked(nextSample_);
            sampleDue = st <= now;
        }
        if (!replyDue && !sampleDue)
            break;
        if (replyDue && (!sampleDue || pending_.front().due <= st)) {
            for (auto& c : pending_.front().chunks)
                out.push_back(std::move(c));
            pending_.pop_front();
        } else {
            out.push_back(
                {EncodeReply(cmd::kPowerData, status::kOk, SamplePayloadLocked(st)), false});
            ++nextSample_;
            ++samples;
            ++samplesSent_;
        }
    }
    return out;
}

Bytes MeterModel::TakeOutputBytes(size_t maxSamples)
{
    Bytes all;
    for (auto& c : TakeOutput(maxSamples))
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

std::optional<SteadyTime> MeterModel::NextDue() const
{
    std::lock_guard<std::mutex> lock(mu_);
    std::optional<SteadyTime> due;
    if (!pending_.empty())
        due = pending_.front().due;
    if (streaming_ && !faults_.silent) {
        const SteadyTime st = SampleTimeLocked(nextSample_);
        if (!due || st < *due)
            due = st;
    }
    return due;
}

void MeterModel::PowerCycle()
{
    std::lock_guard<std::mutex> lock(mu_);
    streaming_ = false;
    pending_.clear();
    lastReplyDue_ = {};
    decoder_.Reset();
    working_ = saved_;
    specStage_.clear();
    specStageHave_.clear();
    diskMode_ = false;
}

// ---------------------------------------------------------------- configuration

MeterIdentity MeterModel::Identity() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return identity_;
}

void MeterModel::SetIdentity(const MeterIdentity& id)
{
    std::lock_guard<std::mutex> lock(mu_);
    identity_ = id;
}

SignalConfig MeterModel::Signal() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return signal_;
}

void MeterModel::SetSignal(const SignalConfig& s)
{
    std::lock_guard<std::mutex> lock(mu_);
    const SteadyTime now = clock_();
    signal_ = s;
    signalEpoch_ = now;
    const double period = 1.0 / ClampRate(s.sampleRateHz);
    if (streaming_ && period != streamPeriodS_) {
        // Keep the stream going at the new rate from the next sample on.
        const SteadyTime next = std::max(SampleTimeLocked(nextSample_), now);
        streamPeriodS_ = period;
        streamEpoch_ = next;
        nextSample_ = 0;
    }
}

FaultConfig MeterModel::Faults() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return faults_;
}

void MeterModel::SetFaults(const FaultConfig& f)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (faults_.silent && !f.silent && streaming_) {
        // Coming back from silence the stream resumes now, without a burst of old samples.
        const double since = duration<double>(clock_() - streamEpoch_).count();
        if (since >= 0)
            nextSample_ = static_cast<uint64_t>(since / streamPeriodS_) + 1;
    }
    faults_ = f;
}

Calibration MeterModel::GetCalibration() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return working_;
}

Calibration MeterModel::SavedCalibration() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return saved_;
}

void MeterModel::SetCalibration(const Calibration& c)
{
    std::lock_guard<std::mutex> lock(mu_);
    working_ = c;
    saved_ = c;
}

void MeterModel::SetSaveDelayMs(int ms)
{
    std::lock_guard<std::mutex> lock(mu_);
    saveDelayMs_ = std::max(0, ms);
}

void MeterModel::SetTickOrigin(uint32_t tick)
{
    std::lock_guard<std::mutex> lock(mu_);
    tickOrigin_ = tick;
}

uint16_t MeterModel::Average() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return average_;
}

uint16_t MeterModel::SampleWavelength() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return wavelength_;
}

double MeterModel::ZeroOffset() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return zeroOffset_;
}

bool MeterModel::InDiskMode() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return diskMode_;
}

bool MeterModel::IsStreaming() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return streaming_;
}

std::optional<MeterTime> MeterModel::LastSetTime() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return time_;
}

int MeterModel::SaveCount() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return saves_;
}

uint64_t MeterModel::SamplesSent() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return samplesSent_;
}

size_t MeterModel::BadRequestFrames() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return decoder_.BadFrames();
}

std::vector<ReceivedFrame> MeterModel::Received() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return {received_.begin(), received_.end()};
}

void MeterModel::ClearReceived()
{
    std::lock_guard<std::mutex> lock(mu_);
    received_.clear();
}

size_t MeterModel::ReceivedCount(uint16_t code) const
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<size_t>(
        std::count_if(received_.begin(), received_.end(),
                      [code](const ReceivedFrame& f) { return f.code == code; }));
}

bool MeterModel::ConsumeStallIn()
{
    std::lock_guard<std::mutex> lock(mu_);
    const bool s = faults_.stallIn;
    faults_.stallIn = false;
    return s;
}

}  // namespace simmeter
