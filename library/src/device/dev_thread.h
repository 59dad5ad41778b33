// One registered meter. While the meter is open its thread alone does the meter's USB
// transfers: it writes the start sequence, sends queued request frames at least 5 ms
// apart, keeps the link alive with a heartbeat, reads and parses everything the meter
// sends and turns power samples into time-stamped records.
//
// Callers on other threads meet the device thread only in the send queue, the reply
// table, the power queue and the calibration values, each behind its own mutex. Lock
// order: the registry lock (held by the exports) is outermost; inside it at most one of
// openMutex, sendMutex, replyMutex, powerMutex, calMutex (loopMutex is
// held by the device thread alone while it runs, and taken by Open and Close only after
// the thread has ended) is held at a time, never while
// sleeping or doing a USB transfer (a caller waiting for a reply waits on replyArrived_,
// which releases replyMutex while it blocks).
//
// Lifetime: a caller must not destroy the DevThread while it waits in SendCommand or Query.
// The exports guarantee it: every wait runs under a read hold of the registry lock, and a
// device is destroyed only under its write hold. Close does not end a wait: the reply cannot
// come any more, and the wait returns at its deadline as it would for a silent meter.
#pragma once

#include "calibration/calibration.h"
#include "protocol/rx_buffer.h"
#include "usb/usb_device.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QThread>

#include <tessivar/tessivar.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace tessivar {

class DevThread : public QThread, private RxEvents {
public:
    DevThread(std::unique_ptr<UsbDevice> usb, int id);
    // Stops the loop, waits for it to end, then closes the USB handle.
    ~DevThread() override;

    int Id() const { return id_; }

    // Opens the meter and starts the loop; true if the loop runs (also if it already did).
    bool Open();
    // Stops the loop (a final stop-transfer frame is written) and closes the USB handle.
    void Close();

    bool IsRunning() const { return running_.load(); }
    bool IsInited() const { return inited_.load(); }

    // Queues a request frame for the device thread to write.
    void QueueFrame(const QByteArray& frame);
    // Builds and queues a request without waiting (e.g. 0x0025, 0x0003). False if the
    // frame could not be built.
    bool QueueRequest(uint16_t code, const void* data = nullptr, int len = 0);

    // Both drop a stored reply with this code (a late answer to an earlier request) before
    // queueing theirs, then wait until a reply with the code is stored or `budgetMs`
    // milliseconds have passed since the call began (steady clock, so load does not
    // stretch it). The reply is taken as soon as the device thread stores it.
    // Command: 0 when the reply came, -2 when none did (at once for budgetMs <= 0, after the
    // frame was queued), -3 when not initialised.
    int SendCommand(uint16_t code, const void* data, int len, int budgetMs);
    // Query: copies up to `capacity` bytes of the reply; bytes copied, -2 no reply (a
    // detector-state query then queues a recovery request), -3 not initialised, capacity
    // <= 0 or null destination.
    int Query(uint16_t code, void* destination, int capacity, int budgetMs);

    // Moves up to `count` oldest records into out; the number moved.
    int TakePower(PowerData* out, int count);

    // Calibration getters (copies taken under calMutex).
    bool HasBaseParam() const;
    void CopyBaseParam(uint8_t out[kBaseParamExportSize]) const;
    void CopyLevelRecord(uint8_t out[kLevelRecordSize]) const;
    BaseParam Base() const;
    int SpecCount() const;
    void CopySpecExport(uint8_t* out) const;  // 6 * SpecCount() bytes
    void CopyCalibrationDate(char out[kCalibrationDateSize]) const;

    // 0, -3 not initialised, -4 outside the probe's range (nothing changes).
    int SetCoefWavelength(float nm);
    float Wavelength() const { return wavelength_.load(); }
    float Coefficient() const { return coefficient_.load(); }

    // Zero compensation: the latest uncorrected value becomes the zero offset.
    double TakeUncorrectedAsZero();
    void SetZeroOffset(double offset) { zeroOffset_.store(offset); }
    double ZeroOffset() const { return zeroOffset_.load(); }

protected:
    void run() override;

private:
    // RxEvents: the receive-buffer processing reports here (device thread).
    void OnFrame(const uint8_t* frame, int size) override;
    void OnHeadRemoved(const uint8_t* dropped, int count) override;
    void OnOverlong(int expected, const uint8_t* buffer, int size) override;

    void QueueInitSequence();
    void SendStep(qint64 now);
    void AnalyzeFrame(const uint8_t* frame, int size);
    bool HandleInitReply(uint16_t code, const uint8_t* payload, int len);
    void CheckInitDone();
    void AddPowerData(const uint8_t* payload, int len);
    void StoreReply(uint16_t code, const uint8_t* payload, int len);
    void RemoveReply(uint16_t code);
    // Blocks until a reply with `code` is stored (true, moved into *payload) or `deadline`
    // has passed (false). Other codes' replies and spurious wake-ups do not end the wait.
    bool WaitReply(uint16_t code, std::chrono::steady_clock::time_point deadline,
                   QByteArray* payload);
    void StopAndWait();

    std::unique_ptr<UsbDevice> usb_;
    const int id_;

    std::mutex openMutex_;  // serialises Open, Close and destruction
    // Held by run() for the whole loop. Taking it after QThread::wait proves, also to the
    // sanitizers (which do not see Qt's own hand-over), that the loop is over.
    std::mutex loopMutex_;

    std::mutex sendMutex_;  // guards sendQueue_
    QList<QByteArray> sendQueue_;

    std::mutex replyMutex_;  // guards replies_: latest reply payload per command code
    QMap<int, QByteArray> replies_;
    // Notified (all waiters: each waits for its own code) whenever a reply is stored.
    std::condition_variable replyArrived_;

    std::mutex powerMutex_;  // guards powerQueue_: oldest first, at most 401 records
    std::deque<PowerData> powerQueue_;

    mutable std::mutex calMutex_;  // guards the calibration values below
    BaseParam base_;
    bool baseSet_ = false;
    LevelTable levels_{};
    SpecTable spec_;
    char calibrationDate_[kCalibrationDateSize] = {};
    double probeOffset_ = 0;

    std::atomic<float> wavelength_{532.0f};
    std::atomic<float> coefficient_{1.0f};
    std::atomic<double> zeroOffset_{0};
    std::atomic<double> uncorrectedPower_{0};

    const QByteArray heartbeatFrame_;
    std::atomic<bool> inited_{false};
    std::atomic<bool> running_{false};

    // Device-thread state.
    uint8_t initFlags_ = 0;
    bool recoverySent_ = false;
    qint64 lastSend_ = 0;
    qint64 lastRecvError_ = 0;
    SampleClock clock_;
    RxBuffer rx_;
};

}  // namespace tessivar
