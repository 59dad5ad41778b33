#ifndef QUORVEX_DEVICE_DEVICERECORD_H
#define QUORVEX_DEVICE_DEVICERECORD_H

#include "measurestore.h"
#include "samplecadence.h"

#include <QMutex>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>

// One known meter: identity, settings, connection marks and its measurement store.
//
// Ownership: records are shared (DeviceRecordPtr). DevManage holds one reference while
// the meter is known; the worker's poll list and any reader (data file writers, views)
// hold their own while they use it, so removing a meter never frees a record that is
// still in use. Once removed, IsRemoved() is true and the worker stops feeding it.
//
// Threads:
// - identity strings are set at construction, before the record is published, and never
//   change afterwards: any thread may read them without a lock;
// - waveMin, waveMax, connected, transferStarted, startFailures belong to the worker thread alone;
// - waveLen and average are written by the worker and read by any thread (atomics);
// - the delivery marks (streaming, arrival, stale limit) are atomics: the worker writes
//   them, any thread reads them;
// - everything behind the methods below is guarded by the record's mutex (or is atomic)
//   and may be called from any thread.
class DeviceRecord {
public:
    DeviceRecord(int id, const QString &devName, const QString &detName,
                 const QString &devSerial = QString(), const QString &detSerial = QString(),
                 const QString &version = QString());
    DeviceRecord(const DeviceRecord &) = delete;
    DeviceRecord &operator=(const DeviceRecord &) = delete;

    const int id;
    const QString devName;  // meter head name
    const QString detName;  // probe name
    const QString detSerial;
    const QString devSerial;
    const QString version;  // firmware version text

    // Worker thread only.
    int waveMin = 0;  // nm, filled on the first ready tick
    int waveMax = 0;
    bool connected = false;        // the library reports the meter ready
    bool transferStarted = false;  // startTransfer succeeded since it became ready
    int startFailures = 0;         // failed startTransfer calls in a row since it became ready

    // Written by the worker, read anywhere.
    std::atomic<float> waveLen{0.0f};  // sampling wavelength in nm, untruncated
    std::atomic<quint32> average{0};   // sampling average count (16 bits used)

    // Worker: a batch of samples from getData (powers in nanowatts).
    void AddSamples(const PowerData *samples, int n);

    // current = latest power; totals = max, min, mean since the last reset; all in the
    // display unit.
    void GetPower(double *current, double totals[3]) const;
    // The statistics block plus a copy of the window (times in s, values in the display
    // unit); any output pointer may be null.
    void GetStatistics(StatBlock *block, QVector<double> *times, QVector<double> *values) const;
    // GetPower and GetStatistics under one hold of the mutex, so the numbers agree;
    // returns whether the statistics run is going on.
    bool GetPowerAndStatistics(double *current, double totals[3], StatBlock *block,
                               QVector<double> *times, QVector<double> *values) const;
    // GetPowerAndStatistics with only the window's samples after `have` (see
    // MeasureStore::CopyWindowAfter).
    bool GetPowerAndStatisticsAfter(double *current, double totals[3], StatBlock *block,
                                    const WindowCursor &have, QVector<double> *times,
                                    QVector<double> *values, WindowPart *part) const;
    StatSetting GetStatSetting() const;
    void StartStatistics(int sampleCount, int seconds);
    void StopStatistics();
    void ResetTotals();

    // Newest sample in whole nanowatts (after attenuation); 0 before the first one.
    qint64 LatestRaw() const { return lastPowerRaw_.load(std::memory_order_relaxed); }

    // Display unit token ("nw", "μW", "mw", "w"); initially "nw".
    QString Unit() const;
    void SetUnit(const QString &unit);
    // Display range chosen by the settings panel, in the display unit.
    void GetRange(double *low, double *high) const;
    void SetRange(double low, double high);
    // Attenuation compensation in dB applied to incoming samples; initially 0.
    double Attenuation() const { return attenuation_.load(std::memory_order_relaxed); }
    void SetAttenuation(double dB) { attenuation_.store(dB, std::memory_order_relaxed); }

    // ---- delivery: whether the newest sample is a present measurement ----------------
    // Steady clock of the process in ms (the clock of IsFresh and LastArrivalMs).
    static qint64 SteadyNowMs();
    // Worker: set when the meter is ready and its stream started, cleared when it stops
    // being ready.
    void SetStreaming(bool on) { streaming_.store(on, std::memory_order_release); }
    bool IsStreaming() const { return streaming_.load(std::memory_order_acquire); }
    // Steady ms at which the newest batch arrived; -1 before the first one.
    qint64 LastArrivalMs() const { return lastArrivalMs_.load(std::memory_order_acquire); }
    // Samples received since the record was made (never reset). Read after LastArrivalMs,
    // it counts at least the samples up to that arrival, possibly some of a later batch.
    qint64 ArrivedSamples() const { return arrivedSamples_.load(std::memory_order_relaxed); }
    // How old the newest sample may be and still count as present (SampleCadence).
    qint64 StaleAfterMs() const { return staleAfterMs_.load(std::memory_order_relaxed); }
    // Streaming, and the newest batch arrived less than StaleAfterMs() before `nowMs`.
    bool IsFresh(qint64 nowMs) const;

    bool IsRemoved() const { return removed_.load(std::memory_order_acquire); }
    void MarkRemoved() { removed_.store(true, std::memory_order_release); }

private:
    void GetPowerLocked(double *current, double totals[3], double factor) const;
    void GetStatisticsLocked(StatBlock *block, QVector<double> *times, QVector<double> *values,
                             double factor) const;

    mutable QMutex mutex_;  // guards store_, unit_, rangeLow_, rangeHigh_
    MeasureStore store_;
    QString unit_;
    double rangeLow_ = 0.0;
    double rangeHigh_;
    std::atomic<double> attenuation_{0.0};
    std::atomic<qint64> lastPowerRaw_{0};  // copy of the store's value, readable without the mutex
    std::atomic<bool> removed_{false};
    SampleCadence cadence_;  // guarded by mutex_
    std::atomic<bool> streaming_{false};
    std::atomic<qint64> lastArrivalMs_{-1};
    std::atomic<qint64> arrivedSamples_{0};
    std::atomic<qint64> staleAfterMs_{SampleCadence::kMinStaleMs};
};

using DeviceRecordPtr = std::shared_ptr<DeviceRecord>;

#endif
