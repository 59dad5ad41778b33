#ifndef QUORVEX_DEVICE_OPTICALDEV_H
#define QUORVEX_DEVICE_OPTICALDEV_H

#include "devicerecord.h"

#include <QObject>
#include <QString>

#include <array>

class QTimer;

// The application's device worker: the one normal caller of the device library. It lives
// in a thread of its own (moved there by the main window, which connects the thread's
// started to Init). The GUI asks for scans, opens, closes and settings only by emitting
// the request signals 0-4, which Init connects to the private slots, so each request runs
// queued in the worker thread in emission order. Answers leave as signals 5-11, which
// reach GUI-thread receivers queued. Every 50 ms UpdateStatus polls the meters of the
// poll list and feeds their records.
//
// Settings. A wavelength or averaging request is sent up to kAttempts times while the
// meter gives no reply. The record takes the requested value only when the meter
// acknowledged it; otherwise it takes what the meter reports it uses (read back, also
// retried), or keeps its previous value when that read fails too. A wrong value never
// enters the record: the panel, the file headers and the power correction agree with the
// meter. Every request ends with SigSettingApplied; a failure on a known meter also
// sends SigDevMessage with the words for the status line.
//
// The six direct queries (ReadAverage ... EnterDiskMode) run in the caller's thread, call
// the library at once and touch no worker state.
//
// Shutting down. A scan can hold the worker thread for seconds (a new meter may take up
// to 3 s to get ready), and a queued quit() waits behind it. The owner of the thread
// therefore stops it with
//     thread->requestInterruption();  // a running scan gives up within ~10 ms
//     thread->quit();
//     thread->wait(...);
// The scan checks QThread::isInterruptionRequested() between its 10 ms readiness rounds
// and before each new meter; it closes the meter it was probing, skips the rest, still
// emits SigScanFinish, and the event loop then ends. The thread's finished deletes the
// worker (wired to deleteLater), whose destructor, in the worker thread, first clears
// DevManage's worker pointer (if it still names this worker) and then calls releaseDev,
// which closes every meter. Only after wait() has returned true is the library released;
// if the wait gives up earlier, the process must not exit before the thread has finished.
// Requests queued after the interruption still run (closes, settings), but no further
// meter is probed.
//
// Diagnostics are English (and one Chinese) lines on the debug message channel.
class OpticalDev : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxDevices = 8;
    static constexpr int kPollIntervalMs = 50;
    static constexpr int kSamplesPerTick = 30;
    // Tries of one command or query while the meter gives no reply.
    static constexpr int kAttempts = 3;
    // Failed starts of streaming in a row before the status line is told (once).
    static constexpr int kStartFailuresToReport = 3;

    // GUI thread: opens the library log in <current directory>/log.
    OpticalDev();
    // Worker thread, after its thread has finished: releases the library.
    ~OpticalDev() override;

    // Direct queries (caller's thread).
    int ReadAverage(int nDevId);     // -1 on failure, else the averaging count
    double ReadWaveLen(int nDevId);  // nm; 532 when the query fails
    // The meter's stored zero offset (nW), which also becomes the library's working one;
    // retried while the meter gives no reply. 0.0 on failure, *ok (if given) says which.
    double ReadZeroOffset(int nDevId, bool *ok = nullptr);
    QString ReadCalibDate(int nDevId);  // empty on failure
    // Zero compensation (the latest reading becomes the zero offset), retried on no reply.
    // The library's result: 0 when the meter acknowledged it. After a failure the library
    // already works with the new offset: ReadZeroOffset takes the meter's back.
    int ClearZeroOffset(int nDevId);
    void EnterDiskMode(int nDevId);

signals:
    void SigScanDev();
    void SigOpenDev(int nDevId);
    void SigCloseDev(int nDevId);
    void SigSetAverage(int nDevId, ushort average);
    void SigSetWaveLen(int nDevId, float waveLen);
    void SigRemovDev(int nDevId);
    void SigAddDev(int nDevId);
    void SigScanFinish();
    void SigOpenFinish(int nDevId, bool bResult);
    void SigConnChanged(int nDevId, bool bStat);
    // A wavelength or averaging request for this id has been handled: its record holds
    // what the meter uses (emitted after every request, taken or not).
    void SigSettingApplied(int nDevId);
    // Something the user should know about a known meter (a setting it did not take,
    // streaming that would not start, or starts at last), in words for the status line.
    void SigDevMessage(int nDevId, const QString &text);

public slots:
    // Worker thread, on thread start: connects the request signals and starts the poll.
    void Init();

private slots:
    void ScanDev();
    void OpenDev(int nDevId);
    void CloseDev(int nDevId);
    void SetAverage(int nDevId, ushort nAverage);
    void SetWaveLen(int nDevId, float waveLen);
    void UpdateStatus();

private:
    // Opens a new meter, waits for it, checks its probe and reads its identity, and adds
    // it to the device manager. True on success: the meter is then still open and the
    // caller closes it after SigAddDev. False on any failure, or when the thread is
    // asked to stop during the wait: the meter has been closed (unless it never opened).
    bool ProbeNewDev(int nDevId);
    void PollOne(DeviceRecord &rec);
    // PollOne's first ready tick: range, wavelength and averaging into the record.
    void ReadSettingsOnReady(DeviceRecord &rec);
    // PollOne: one try of startTransfer (the next tick tries again); true once streaming.
    bool TryStart(DeviceRecord &rec);

    QTimer *timer = nullptr;
    // Snapshot of the manager's records at the end of the last scan. Shared references:
    // a record removed meanwhile stays valid and is skipped.
    std::array<DeviceRecordPtr, kMaxDevices> devs;
    int devCount = 0;
};

#endif
