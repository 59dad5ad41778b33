// The simulated meter head with its probe: bytes from the host in, bytes to the host out.
//
// MeterModel knows nothing of USB. The host side calls HostWrite() with what arrived on the
// OUT endpoint, and TakeOutput() for what is due on the IN endpoint by now; NextDue() says
// when the next output becomes due, so a driver can sleep until then. Time comes from an
// injectable clock, so tests can step it by hand.
//
// Behaviour on the commands (what a real head plausibly does):
//  - every command of the command set is answered with status 0 and its payload; the reply
//    echoes the request code; text replies are padded with one zero byte to an even length;
//  - 0x0001 (init) and 0x0025 (stop transfer) are acknowledged with an empty reply; 0x0003
//    (recover) drops any half-received request and is not answered; 0x100F (heartbeat) is
//    not answered;
//  - a write with a malformed payload is refused with status kBadParameter and changes
//    nothing; an unknown code gets status kUnknownCommand;
//  - calibration writes change the working calibration at once (later reads and the next
//    open's start-up reads return them); 0x100E copies it to the saved set after the save
//    delay and only then replies; PowerCycle() reverts to the saved set;
//  - replies leave in request order: a slow reply (save, injected delay) holds back the
//    replies behind it, as a single-threaded firmware would;
//  - between 0x0024 and 0x0025 the head streams 0x200A frames at the configured rate,
//    independently of the replies.
//
// Thread safety: every public member may be called from any thread; one internal mutex
// guards all state. The clock is called with that mutex held and must not call back.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "simmeter/calibration.h"
#include "simmeter/signal.h"
#include "simmeter/wire.h"

#include <tessivar/tessivar.h>  // TESSIVAR_DETECTOR_ATTACHED

namespace simmeter {

using SteadyTime = std::chrono::steady_clock::time_point;
using Clock = std::function<SteadyTime()>;

struct MeterIdentity {
    std::string devName, devSerial, detName, detSerial, version;
};

// Faults a test can switch on per meter at run time (SetFaults). Replies are the frames that
// answer requests; the 0x200A sample stream is not touched by the reply faults.
struct FaultConfig {
    bool silent = false;             // answers nothing at all and streams nothing
    std::set<uint16_t> ignoreCodes;  // requests with these codes are acted on but not answered
    // Requests with these codes are lost: logged in Received() but neither acted on nor
    // answered. dropRemaining > 0 limits it to that many more such requests (counting down
    // to 0, then none is dropped); -1 drops every one.
    std::set<uint16_t> dropCodes;
    int dropRemaining = -1;
    int replyDelayMs = 0;               // every reply leaves this much later
    uint16_t badStatus = 0;             // non-zero: replies carry this status
    std::set<uint16_t> badStatusCodes;  // if non-empty, only these codes get badStatus
    bool badChecksum = false;           // replies carry a wrong checksum
    int garbageBytes = 0;               // N noise bytes (never containing 0xAA) before each reply
    bool splitFrames = false;           // each reply is split over two IN transfers
    bool oversizeLength = false;        // the next reply carries length field 0xFFFF (one-shot)
    bool shortBaseParam = false;        // 0x1009 answers 8 bytes instead of 10
    bool shortLevParam = false;         // 0x100B answers 120 bytes instead of 128
    bool invalidSpecTable = false;      // 0x100D announces 2 entries in 12 bytes
    bool emptySpecTable = false;        // 0x100D answers n = 0
    bool shortProbeOffset = false;      // 0x101D answers 4 bytes instead of 8
    bool shortCalDate = false;          // 0x101F answers 6 bytes instead of 10
    uint16_t detectorState = TESSIVAR_DETECTOR_ATTACHED;  // 0x101B answer
    bool stallIn = false;  // next IN transfer stalls until CLEAR_HALT (one-shot,
                           // taken by the USB layer with ConsumeStallIn)
};

struct ReceivedFrame {
    uint16_t code = 0;
    Bytes payload;
    SteadyTime at;
};

// What 0x000E last set: year - 2000, month, day, day of week (1 = Monday), h, m, s.
struct MeterTime {
    uint16_t year = 0, month = 0, day = 0, weekday = 0, hour = 0, minute = 0, second = 0;
};

// A run of bytes for the IN endpoint. Chunks may be packed together into one IN transfer,
// except that a chunk with endsTransfer set is the last one in its transfer.
struct OutChunk {
    Bytes bytes;
    bool endsTransfer = false;
};

// The defaults of meter number `index` (each meter different): names, serials derived from it.
MeterIdentity DefaultIdentity(int index);

Clock SteadyClock();

constexpr size_t kMaxReceivedLog = 100000;

class MeterModel {
public:
    explicit MeterModel(int index = 0, Clock clock = SteadyClock());
    MeterModel(const MeterModel&) = delete;
    MeterModel& operator=(const MeterModel&) = delete;

    // ---- host side ----
    // Bytes the host wrote to the OUT endpoint; any request completed by them is acted on.
    void HostWrite(const uint8_t* data, size_t size);
    void HostWrite(const Bytes& b) { HostWrite(b.data(), b.size()); }
    // Output due by now (replies and samples, in time order). At most `maxSamples` sample
    // frames are produced per call; a backlog beyond one second of samples is dropped, as the
    // head's own buffer would overflow.
    std::vector<OutChunk> TakeOutput(size_t maxSamples = 4096);
    // All bytes of TakeOutput() joined (for tests that do not care about transfer boundaries).
    Bytes TakeOutputBytes(size_t maxSamples = 4096);
    // When the next output becomes due; nullopt when nothing is scheduled (not streaming, no
    // reply pending). A time in the past means "now".
    std::optional<SteadyTime> NextDue() const;
    // A fresh start of the head after losing power: streaming stops, pending input and output
    // are dropped, the working calibration reverts to the saved one.
    void PowerCycle();

    // ---- configuration and inspection ----
    int Index() const { return index_; }
    MeterIdentity Identity() const;
    void SetIdentity(const MeterIdentity& id);
    SignalConfig Signal() const;
    void SetSignal(const SignalConfig& s);  // the signal's time origin is now
    FaultConfig Faults() const;
    void SetFaults(const FaultConfig& f);
    // Working calibration (what reads return) and the saved one (what a power cycle restores).
    Calibration GetCalibration() const;
    Calibration SavedCalibration() const;
    void SetCalibration(const Calibration& c);  // sets both
    void SetSaveDelayMs(int ms);
    // The tick of the first millisecond after construction (to test wrap-around).
    void SetTickOrigin(uint32_t tick);

    uint16_t Average() const;
    uint16_t SampleWavelength() const;
    double ZeroOffset() const;
    bool InDiskMode() const;
    bool IsStreaming() const;
    std::optional<MeterTime> LastSetTime() const;
    int SaveCount() const;            // completed 0x100E saves
    uint64_t SamplesSent() const;     // 0x200A frames produced
    size_t BadRequestFrames() const;  // requests dropped for a checksum mismatch

    // Every valid request frame the host wrote, in order, time-stamped on arrival (the oldest
    // are dropped beyond kMaxReceivedLog entries).
    std::vector<ReceivedFrame> Received() const;
    void ClearReceived();
    // Count of received requests with this code.
    size_t ReceivedCount(uint16_t code) const;

    // USB layer: true once after stallIn was set (clears it).
    bool ConsumeStallIn();

private:
    struct Pending {
        SteadyTime due;
        std::vector<OutChunk> chunks;
    };

    // All helpers below assume mu_ is held.
    void HandleLocked(const wire::Request& r, SteadyTime now);
    void ReplyLocked(uint16_t code, uint16_t status, Bytes payload, SteadyTime now,
                     int extraDelayMs = 0);
    Bytes SamplePayloadLocked(SteadyTime at);
    uint32_t TickAtLocked(SteadyTime at) const;
    SteadyTime SampleTimeLocked(uint64_t n) const;
    bool HandleSpectralWriteLocked(const Bytes& p);

    const int index_;
    const Clock clock_;
    const SteadyTime powerOn_;

    mutable std::mutex mu_;  // guards everything below
    MeterIdentity identity_;
    SignalConfig signal_;
    SteadyTime signalEpoch_;
    FaultConfig faults_;
    Calibration working_, saved_;
    int saveDelayMs_ = 300;
    uint32_t tickOrigin_ = 0;
    uint16_t average_ = 1;
    uint16_t wavelength_ = 532;
    double zeroOffset_ = 0;
    bool diskMode_ = false;
    std::optional<MeterTime> time_;
    int saves_ = 0;
    // Chunked spectral write in progress: total count, table so far, which entries arrived.
    std::vector<SpectralEntry> specStage_;
    std::vector<bool> specStageHave_;

    wire::RequestDecoder decoder_;
    std::deque<ReceivedFrame> received_;
    std::deque<Pending> pending_;  // replies, due times non-decreasing
    SteadyTime lastReplyDue_{};

    bool streaming_ = false;
    SteadyTime streamEpoch_{};
    double streamPeriodS_ = 0.01;
    uint64_t nextSample_ = 0;  // index of the next sample since streamEpoch_
    uint64_t samplesSent_ = 0;
    NoiseSource noise_;
};

}  // namespace simmeter
