#ifndef QUORVEX_DEVICE_DEVMANAGE_H
#define QUORVEX_DEVICE_DEVMANAGE_H

#include "devicerecord.h"

#include <QMap>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QVector>

#include <atomic>

class OpticalDev;

// The process-wide registry of known meters: one DeviceRecord per meter that a scan has
// probed, the selected meter, and the main window and worker so that any widget can
// reach them. Every operation may be called from any thread.
//
// Lock order: `lock` first, then a record's own mutex; never the other way round. No
// operation calls the device library while holding `lock`.
//
// Records are shared: the pointers handed out keep their record alive after RemoveDev,
// so a caller may go on using one after the lock is released. A removed record is
// marked (DeviceRecord::IsRemoved) and no longer fed by the worker.
//
// Operations "on the selected meter" look up the record of the selection; with no
// selection or an unknown id they do nothing and return false, zero or empty values.
class DevManage : public QObject {
    Q_OBJECT

public:
    static DevManage *Instance();

    // Creates and inserts the record of `id` with its identity (NUL-terminated ASCII;
    // null pointers give empty texts) and returns it; null if `id` is already known, in
    // which case nothing changes. The identity is complete before the record is visible.
    DeviceRecordPtr AddDevRecord(int id, const char *devName, const char *detName,
                                 const char *devSerial = nullptr, const char *detSerial = nullptr,
                                 const char *version = nullptr);
    // Drops `id` from the map and marks its record removed; nothing if unknown.
    void RemoveDev(int id);

    // At most `max` ids / records in ascending id order; returns how many were copied.
    int GetDevIds(int *ids, int max) const;
    int GetDevRecords(DeviceRecordPtr *recs, int max) const;
    DeviceRecordPtr GetDevRecord(int id) const;
    // The known meter with this head and probe serial (lowest id first); null if none. The
    // same meter plugged into another port comes back under another id, never other serials.
    DeviceRecordPtr FindBySerials(const QString &devSerial, const QString &detSerial) const;
    // Copies the two names; returns false and leaves the outputs alone for an unknown id.
    bool GetDevNames(int id, QString *devName, QString *detName) const;
    // Copies of the identity strings; empty for an unknown id.
    QString GetDevSerial(int id) const;
    QString GetDetSerial(int id) const;
    QString GetDevVersion(int id) const;

    // Selected meter, -1 for none.
    void SetSelDev(int id);
    int GetSelDev() const;

    // Remembered, not owned.
    void SetMainWidget(QObject *w) { mainWidget_.store(w); }
    QObject *GetMainWidget() const { return mainWidget_.load(); }
    void SetOpticalDev(OpticalDev *d) { opticalDev_.store(d); }
    OpticalDev *GetOpticalDev() const { return opticalDev_.load(); }
    // Forgets the worker if it is still `d` (the worker's destructor calls this); a worker
    // registered since is kept.
    void ClearOpticalDev(OpticalDev *d) { opticalDev_.compare_exchange_strong(d, nullptr); }

    // Whether the selected meter reports its probe attached (TESSIVAR_DETECTOR_ATTACHED).
    // False with no selection or an unknown id. Calls the library (up to about 30 ms).
    bool IsSelDetConnected() const;

    // The removal half of the liveness check, after the third failed check in a row, and
    // of the look-out for a meter that stopped streaming (the caller has already dropped
    // the meter's card and scan entry): asks the worker to close the meter and, with
    // `rescan`, to scan again, removes the meter and clears the selection if it was this
    // meter.
    // The queued scan finds the id unknown and probes the meter afresh if it is still
    // plugged in. Safe while the worker polls: the worker keeps its own reference and
    // skips removed records.
    void RemoveLostDev(int id, bool rescan = true);

    // ---- operations on the selected meter -----------------------------------------
    // current and totals (max, min, mean) in the display unit.
    bool GetSelPower(double *current, double totals[3]) const;
    // GetSelPower plus the statistics block and a copy of the window; returns whether a
    // run is going on (false with no selection). valid is set to true when a meter is
    // selected.
    bool GetSelStatistics(double *current, double totals[3], QVector<double> *times,
                          QVector<double> *values, bool *valid, StatBlock *block) const;
    // The same with only the window's samples after `have` (the curve appends exactly
    // those); `part` says what was copied.
    bool GetSelStatisticsAfter(double *current, double totals[3], const WindowCursor &have,
                               QVector<double> *times, QVector<double> *values, WindowPart *part,
                               StatBlock *block) const;
    bool GetSelStatSetting(StatSetting *setting) const;
    bool StartSelStatistics(int sampleCount, int seconds);
    bool StopSelStatistics();
    bool ResetSelTotals();
    qint64 GetSelLatestRaw() const;
    bool GetSelRange(double *low, double *high) const;
    bool SetSelRange(double low, double high);
    QString GetSelUnit() const;
    bool SetSelUnit(const QString &unit);
    bool SetSelAttenuation(double dB);

signals:
    // Emitted through the manager by the device list when a meter's connection changes.
    void SigConnChanged();

private:
    DevManage();
    ~DevManage() override;

    DeviceRecordPtr FindLocked(int id) const;  // assumes `lock` held
    DeviceRecordPtr SelectedRecord() const;

    QMap<int, DeviceRecordPtr> records_;  // guarded by lock_
    mutable QReadWriteLock lock_;
    std::atomic<int> selected_{-1};
    std::atomic<QObject *> mainWidget_{nullptr};
    std::atomic<OpticalDev *> opticalDev_{nullptr};
};

#endif
