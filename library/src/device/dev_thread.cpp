#include "device/dev_thread.h"

#include "log/library_log.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

namespace tessivar {
namespace {

constexpr int kReadCapacity = 4096;
constexpr int kReadTimeoutMs = 10;
constexpr int kSendSpacingMs = 5;
constexpr int kHeartbeatAfterMs = 1000;
constexpr int kRecoverySuppressMs = 1000;
constexpr int kRecvErrorSpacingMs = 100;
constexpr int kInitLimitMs = 2000;
constexpr int kStartDelayMs = 100;
constexpr std::size_t kPowerQueueCap =
    400;  // more than this and the oldest goes first: at most 401
// Stop request at the end of the loop: how long it waits for the meter's answer.
constexpr int kFinalStopTimeoutMs = 20;
// How long StopAndWait waits for the loop before it waits without a limit.
constexpr unsigned long kLoopEndWaitMs = 300;
// The meter's clock record counts years from 2000.
constexpr int kClockYearBase = 2000;

// initFlags_: one bit per reply of the start-up sequence. The meter is ready (isInited)
// once every one has come; a calibration record that does not parse leaves its bit clear.
constexpr uint8_t kInitClockSet = 0x01;       // CmdSetTime acknowledged
constexpr uint8_t kInitBaseRecord = 0x02;     // wavelength range, ADC thresholds
constexpr uint8_t kInitLevelTable = 0x04;     // per-range calibration pairs
constexpr uint8_t kInitSpectralTable = 0x08;  // spectral coefficients
constexpr uint8_t kInitProbeOffset = 0x10;    // the zero offset the meter stores
constexpr uint8_t kInitCalibrationDate = 0x20;
constexpr uint8_t kAllInitFlags = kInitClockSet | kInitBaseRecord | kInitLevelTable |
                                  kInitSpectralTable | kInitProbeOffset | kInitCalibrationDate;

QByteArray MakeFrame(uint16_t code, const void* data, int len)
{
    QByteArray frame(frame::kRequestOverhead + (len > 0 ? len : 0), '\0');
    const int n = frame::BuildFrame(reinterpret_cast<uint8_t*>(frame.data()), code, data, len);
    frame.resize(n > 0 ? n : 0);
    return frame;
}

uint16_t FrameCode(const QByteArray& frame)
{
    return frame.size() >= frame::kCodeOffset + 2
             ? frame::ReadU16(reinterpret_cast<const uint8_t*>(frame.constData()) +
                              frame::kCodeOffset)
             : 0;
}

}  // namespace

DevThread::DevThread(std::unique_ptr<UsbDevice> usb, int id)
    : usb_(std::move(usb)), id_(id), heartbeatFrame_(MakeFrame(CmdHeartbeat, nullptr, 0))
{
}

DevThread::~DevThread()
{
    std::lock_guard<std::mutex> lock(openMutex_);
    StopAndWait();
    usb_.reset();
}

void DevThread::StopAndWait()
{
    running_.store(false);
    // The loop ends within one read time-out plus the final stop exchange. Never let the
    // USB handle go while the loop may still use it: if the first 300 ms were not enough
    // (a write blocked up to its bounded time-out), keep waiting.
    if (!wait(kLoopEndWaitMs))
        wait();
    std::lock_guard<std::mutex> ended(loopMutex_);
}

bool DevThread::Open()
{
    std::lock_guard<std::mutex> lock(openMutex_);
    if (running_.load())
        return true;
    // A loop that ended by itself (no calibration in time) may still be finishing its
    // final exchange; it must be gone before the handle is reopened.
    wait();
    {
        std::lock_guard<std::mutex> ended(loopMutex_);
    }
    const bool ok = usb_->OpenById();
    if (ok) {
        running_.store(true);
        initFlags_ = 0;
        inited_.store(false);
        start();
        log::Info(QString::fromUtf8("<<<<------------打开设备, 成功------------>>>>"), id_);
    } else {
        log::Info(QString::fromUtf8("<<<<------------打开设备, 失败------------>>>>"), id_);
    }
    return ok;
}

void DevThread::Close()
{
    std::lock_guard<std::mutex> lock(openMutex_);
    StopAndWait();
    usb_->Close();
    log::Info(QString::fromUtf8("<<<<------------关闭设备------------>>>>"), id_);
    log::Flush();
}

void DevThread::QueueFrame(const QByteArray& frame)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    sendQueue_.append(frame);
}

bool DevThread::QueueRequest(uint16_t code, const void* data, int len)
{
    const QByteArray frame = MakeFrame(code, data, len);
    if (frame.isEmpty())
        return false;
    QueueFrame(frame);
    return true;
}

void DevThread::RemoveReply(uint16_t code)
{
    std::lock_guard<std::mutex> lock(replyMutex_);
    replies_.remove(code);
}

bool DevThread::WaitReply(uint16_t code, std::chrono::steady_clock::time_point deadline,
                          QByteArray* payload)
{
    std::unique_lock<std::mutex> lock(replyMutex_);
    if (!replyArrived_.wait_until(lock, deadline, [&] { return replies_.contains(code); }))
        return false;
    *payload = replies_.take(code);
    return true;
}

int DevThread::SendCommand(uint16_t code, const void* data, int len, int budgetMs)
{
    if (!inited_.load())
        return TESSIVAR_ERR_NOT_INITED;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    const QByteArray frame = MakeFrame(code, data, len);
    RemoveReply(code);  // a late reply to an earlier request must not answer this one
    // A frame that could not be built (null data with a length) is never written; the
    // command then waits out its budget.
    if (!frame.isEmpty())
        QueueFrame(frame);
    if (budgetMs <= 0)
        return TESSIVAR_ERR_NO_REPLY;
    QByteArray reply;
    return WaitReply(code, deadline, &reply) ? TESSIVAR_OK : TESSIVAR_ERR_NO_REPLY;
}

int DevThread::Query(uint16_t code, void* destination, int capacity, int budgetMs)
{
    if (!inited_.load() || capacity <= 0 || !destination)
        return TESSIVAR_ERR_NOT_INITED;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    const QByteArray frame = MakeFrame(code, nullptr, 0);
    RemoveReply(code);
    QueueFrame(frame);
    QByteArray reply;
    if (budgetMs > 0 && WaitReply(code, deadline, &reply)) {
        const int n = qMin(reply.size(), capacity);
        if (n > 0)
            std::memcpy(destination, reply.constData(), static_cast<std::size_t>(n));
        return n;
    }
    if (code == CmdGetDetectorState)
        QueueRequest(CmdRecover);
    return TESSIVAR_ERR_NO_REPLY;
}

int DevThread::TakePower(PowerData* out, int count)
{
    std::lock_guard<std::mutex> lock(powerMutex_);
    const int n = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(count), powerQueue_.size()));
    std::copy_n(powerQueue_.begin(), n, out);
    powerQueue_.erase(powerQueue_.begin(), powerQueue_.begin() + n);
    return n;
}

bool DevThread::HasBaseParam() const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    return baseSet_;
}

void DevThread::CopyBaseParam(uint8_t out[kBaseParamExportSize]) const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    const uint16_t words[4] = {base_.startNm, base_.endNm, base_.adcLow, base_.adcHigh};
    std::memcpy(out, words, sizeof words);
}

void DevThread::CopyLevelRecord(uint8_t out[kLevelRecordSize]) const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    for (int r = 0; r < kRangeCount; ++r) {
        std::memcpy(out + kLevelPairSize * r, &levels_[r].k, sizeof(double));
        std::memcpy(out + kLevelPairSize * r + sizeof(double), &levels_[r].b, sizeof(double));
    }
}

BaseParam DevThread::Base() const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    return base_;
}

int DevThread::SpecCount() const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    return spec_.Count();
}

void DevThread::CopySpecExport(uint8_t* out) const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    WriteSpecExport(spec_, out);
}

void DevThread::CopyCalibrationDate(char out[kCalibrationDateSize]) const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    std::memcpy(out, calibrationDate_, kCalibrationDateSize);
}

int DevThread::SetCoefWavelength(float nm)
{
    if (!inited_.load())
        return TESSIVAR_ERR_NOT_INITED;
    std::lock_guard<std::mutex> lock(calMutex_);
    if (spec_.Count() == 0) {
        coefficient_.store(1.0f);
        return TESSIVAR_OK;
    }
    if (!WavelengthInRange(nm, base_))
        return TESSIVAR_ERR_ARGUMENT;
    const float clamped = ClampWavelength(nm, base_);
    wavelength_.store(clamped);
    coefficient_.store(InterpolateCoefficient(spec_, clamped, coefficient_.load()));
    return TESSIVAR_OK;
}

double DevThread::TakeUncorrectedAsZero()
{
    const double zero = uncorrectedPower_.load();
    zeroOffset_.store(zero);
    return zero;
}

// ---- device thread ----------------------------------------------------------------

void DevThread::run()
{
    std::lock_guard<std::mutex> loopGuard(loopMutex_);
    log::Info(QString::fromUtf8("启动设备线程"), id_);
    QThread::msleep(kStartDelayMs);

    QElapsedTimer clock;
    clock.start();
    lastSend_ = 0;
    lastRecvError_ = 0;
    clock_.Reset();
    rx_.Clear();
    QueueInitSequence();

    // The 2 s limit applies while the meter initialises; once it has been ready, losing
    // readiness (the meter left the bus) keeps the loop running until Close.
    bool wasReady = false;
    uint8_t buffer[kReadCapacity];
    while (running_.load()) {
        const qint64 readStart = clock.elapsed();
        const int got = usb_->Read(buffer, kReadCapacity, kReadTimeoutMs);
        if (got > 0) {
            rx_.Append(buffer, got);
        } else if (got < 0) {
            if (got == kUsbNoDevice) {
                // The meter is gone for good: callers must stop seeing it ready (isInited), so
                // that they notice; it stays open (isDevOpen) until they close it.
                initFlags_ = 0;
                inited_.store(false);
            }
            if (clock.elapsed() - lastRecvError_ > kRecvErrorSpacingMs) {
                lastRecvError_ = clock.elapsed();
                QueueRequest(CmdRecover);
                log::Error(QStringLiteral("Error recv data, %1").arg(got), id_);
            }
            // A vanished meter fails every read at once: keep the loop at its read period
            // instead of spinning a core until the device is closed.
            const qint64 spent = clock.elapsed() - readStart;
            if (spent < kReadTimeoutMs)
                QThread::msleep(static_cast<unsigned long>(kReadTimeoutMs - spent));
        }
        rx_.Process(*this);
        SendStep(clock.elapsed());
        if (inited_.load()) {
            wasReady = true;
        } else if (!wasReady && clock.elapsed() > kInitLimitMs) {
            running_.store(false);
        }
    }

    const QByteArray stop = MakeFrame(CmdStopTransfer, nullptr, 0);
    uint8_t discard[64];
    usb_->WriteRead(reinterpret_cast<const uint8_t*>(stop.constData()), stop.size(), discard,
                    sizeof discard, kFinalStopTimeoutMs);
    initFlags_ = 0;
    inited_.store(false);
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        sendQueue_.clear();
    }
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        replies_.clear();
    }
    rx_.Clear();
}

void DevThread::QueueInitSequence()
{
    QueueRequest(CmdInit);

    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const uint16_t clockRecord[7] = {static_cast<uint16_t>(d.year() - kClockYearBase),
                                     static_cast<uint16_t>(d.month()),
                                     static_cast<uint16_t>(d.day()),
                                     static_cast<uint16_t>(d.dayOfWeek()),
                                     static_cast<uint16_t>(t.hour()),
                                     static_cast<uint16_t>(t.minute()),
                                     static_cast<uint16_t>(t.second())};
    QueueRequest(CmdSetTime, clockRecord, sizeof clockRecord);
    log::Info(QString::fromUtf8("更新仪器时间: %1")
                  .arg(now.toString(QStringLiteral("yy-MM-dd ddd hh:mm:ss"))),
              id_);

    for (uint16_t code : {CmdStopTransfer, CmdGetBaseParam, CmdGetLevParam, CmdGetProbeOffset,
                          CmdGetCalibrationDate, CmdGetSpecParam}) {
        QueueRequest(code);
    }
}

void DevThread::SendStep(qint64 now)
{
    if (now - lastSend_ < kSendSpacingMs)
        return;
    QByteArray frame;
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        if (recoverySent_ && now - lastSend_ < kRecoverySuppressMs) {
            // A recovery request is already out and nothing came back yet: more of them
            // would not help.
            sendQueue_.erase(
                std::remove_if(sendQueue_.begin(), sendQueue_.end(),
                               [](const QByteArray& f) { return FrameCode(f) == CmdRecover; }),
                sendQueue_.end());
        }
        if (!sendQueue_.isEmpty())
            frame = sendQueue_.takeFirst();
    }
    if (frame.isEmpty()) {
        if (now - lastSend_ > kHeartbeatAfterMs && inited_.load()) {
            usb_->Write(reinterpret_cast<const uint8_t*>(heartbeatFrame_.constData()),
                        heartbeatFrame_.size());
            lastSend_ = now;
            log::Info(QStringLiteral("heart beat"), id_);
        }
        return;
    }
    usb_->Write(reinterpret_cast<const uint8_t*>(frame.constData()), frame.size());
    lastSend_ = now;
    if (FrameCode(frame) == CmdRecover)
        recoverySent_ = true;
}

void DevThread::OnFrame(const uint8_t* frame, int size)
{
    recoverySent_ = false;
    AnalyzeFrame(frame, size);
}

void DevThread::OnHeadRemoved(const uint8_t* dropped, int count)
{
    log::Warn(
        QStringLiteral("Remove head, num: %1, %2").arg(count).arg(log::HexDump(dropped, count)),
        id_);
}

void DevThread::OnOverlong(int expected, const uint8_t* buffer, int size)
{
    log::Warn(QStringLiteral("Error wait len, %1, clear buff, %2")
                  .arg(expected)
                  .arg(log::HexDump(buffer, size)),
              id_);
}

void DevThread::AnalyzeFrame(const uint8_t* frame, int size)
{
    const int verdict = frame::VerifyFrame(frame, size);
    if (verdict != frame::kValid) {
        log::Warn(
            QStringLiteral("Analayze error ... %1, %2").arg(verdict).arg(log::HexDump(frame, size)),
            id_);
        return;
    }
    const uint16_t code = frame::ReadU16(frame + frame::kCodeOffset);
    const int len = frame::ReadU16(frame + frame::kReplyLengthOffset);
    const uint8_t* payload = frame + frame::kReplyPayloadOffset;
    if (code == CmdPowerData) {
        AddPowerData(payload, len);
        return;
    }
    if (code == CmdStopTransfer)
        return;
    if (!inited_.load() && HandleInitReply(code, payload, len)) {
        CheckInitDone();
        return;
    }
    StoreReply(code, payload, len);
}

void DevThread::StoreReply(uint16_t code, const uint8_t* payload, int len)
{
    QByteArray copy =
        len > 0 ? QByteArray(reinterpret_cast<const char*>(payload), len) : QByteArray();
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        replies_.insert(code, copy);
    }
    // A waiter checks for its reply under replyMutex before it blocks, so a notification
    // after the insert cannot be lost.
    replyArrived_.notify_all();
}

bool DevThread::HandleInitReply(uint16_t code, const uint8_t* payload, int len)
{
    switch (code) {
    case CmdSetTime:
        log::Info(QString::fromUtf8("更新仪器时间成功"), id_);
        initFlags_ |= kInitClockSet;
        return true;
    case CmdGetBaseParam: {
        BaseParam base;
        if (!ParseBaseParam(payload, len, &base)) {
            log::Info(QString::fromUtf8("获取探头基础信息失败"), id_);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(calMutex_);
            base_ = base;
            baseSet_ = true;
        }
        log::Info(BaseParamLogText(base), id_);
        initFlags_ |= kInitBaseRecord;
        return true;
    }
    case CmdGetLevParam: {
        LevelTable levels;
        if (!ParseLevelTable(payload, len, &levels)) {
            log::Info(QString::fromUtf8("获取探头档位校准参数失败"), id_);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(calMutex_);
            levels_ = levels;
        }
        log::Info(LevelTableLogText(levels), id_);
        initFlags_ |= kInitLevelTable;
        return true;
    }
    case CmdGetSpecParam: {
        SpecTable spectral;
        if (!ParseSpecTable(payload, len, &spectral)) {
            log::Info(QString::fromUtf8("获取探头光谱校准参数信息失败"), id_);
            return true;
        }
        const int n = spectral.Count();
        {
            std::lock_guard<std::mutex> lock(calMutex_);
            spec_ = std::move(spectral);
        }
        log::Info(QString::fromUtf8("获取探头光谱校准参数信息成功, 光谱数: %1").arg(n), id_);
        initFlags_ |= kInitSpectralTable;
        return true;
    }
    case CmdGetProbeOffset: {
        // A reply shorter than a double carries no usable offset: the bit still counts
        // (the meter answered), the stored offset stays as it was.
        double offset;
        if (len >= static_cast<int>(sizeof offset)) {
            std::memcpy(&offset, payload, sizeof offset);
            std::lock_guard<std::mutex> lock(calMutex_);
            probeOffset_ = offset;
        }
        initFlags_ |= kInitProbeOffset;
        return true;
    }
    case CmdGetCalibrationDate: {
        std::lock_guard<std::mutex> lock(calMutex_);
        std::memset(calibrationDate_, 0, sizeof calibrationDate_);
        std::memcpy(calibrationDate_, payload,
                    static_cast<std::size_t>(qBound(0, len, kCalibrationDateSize)));
        initFlags_ |= kInitCalibrationDate;
        return true;
    }
    default: return false;
    }
}

void DevThread::CheckInitDone()
{
    if (initFlags_ != kAllInitFlags)
        return;
    log::Info(QString::fromUtf8("初始化校准参数成功"), id_);
    {
        std::lock_guard<std::mutex> lock(calMutex_);
        if (spec_.Count() == 0) {
            coefficient_.store(1.0f);
        } else {
            const float clamped = ClampWavelength(wavelength_.load(), base_);
            wavelength_.store(clamped);
            coefficient_.store(InterpolateCoefficient(spec_, clamped, coefficient_.load()));
        }
    }
    // Published last: a caller that sees the meter ready also sees its clamped wavelength,
    // its coefficient and the log line that says so.
    inited_.store(true);
}

void DevThread::AddPowerData(const uint8_t* payload, int len)
{
    PowerSample sample;
    if (!ParsePowerSample(payload, len, &sample)) {
        log::Info(QStringLiteral("AddPowerData error, data len: %1").arg(len), id_);
        return;
    }
    // The wall clock is read only for the first sample of an open.
    const int64_t stamp = clock_.Stamp(sample.tick, clock_.HasBase() ? 0 : LocalWallClockMs());
    LevelPair level;
    double probeOffset;
    bool known;
    {
        std::lock_guard<std::mutex> lock(calMutex_);
        known = LevelForRange(levels_, sample.range, &level);
        probeOffset = probeOffset_;
    }
    if (!known) {
        log::Warn(QStringLiteral("AddPowerData error, range index: %1").arg(sample.range), id_);
        return;
    }
    const PowerValue value =
        ComputePower(sample.raw, level, coefficient_.load(), zeroOffset_.load(), probeOffset);
    uncorrectedPower_.store(value.uncorrected);
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(powerMutex_);
        if (powerQueue_.size() > kPowerQueueCap) {
            powerQueue_.pop_front();
            dropped = true;
        }
        powerQueue_.push_back(PowerData{stamp, value.power});
    }
    if (dropped)
        log::Warn(QStringLiteral("Remove one power data!"), id_);
}

}  // namespace tessivar
