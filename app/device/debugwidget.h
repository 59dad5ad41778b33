// The production debug window: drives one meter directly through the device library from
// the GUI thread, one button per library call, and logs one line per action.
//
// It writes identity texts, base parameters and the built-in level and spectral tables
// (calibtables.h) into the probe and asks the meter to store them. The files chosen with
// the "..." buttons are only shown; the write buttons always send the built-in tables.
//
// Sharing a meter with the main window: the main window's worker polls every meter it
// knows whenever the library reports it ready, taking all of its samples. So that neither
// window loses anything or sees the other's data:
// - the 30 ms power poll does not take samples of a meter that the worker polls. While the
//   worker streams it, the poll shows the meter's record in the device manager instead:
//   one line per new batch the worker delivered (the samples since the last line and the
//   newest power in nW, after the main window's attenuation), in the format of the
//   window's own lines; the log says so once, at start. A meter the worker knows but does
//   not stream (not ready, its start pending) shows nothing, since the worker takes its
//   samples once it streams;
// - the window stops the stream and closes the meter only when it opened the meter
//   itself; a meter that was already open when it was opened here stays open and
//   streaming for its owner ("关闭设备"/"停止传输" then log ", 失败" with the reason).
// Identity and calibration commands are sent as they are: the library matches each reply
// to its caller by command code, and the worker uses none of these codes while streaming.
#pragma once

#include <QWidget>

#include <memory>

class DeviceRecord;
class QCloseEvent;
class QTimer;

namespace Ui {
class DebugWidget;
}

class DebugWidget : public QWidget {
    Q_OBJECT
public:
    explicit DebugWidget(QWidget *parent = nullptr);
    ~DebugWidget() override;

protected:
    // Runs CloseDev first, so the meter this window opened is closed and devId reset.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void ScanDev();
    void OpenDev();
    void CloseDev();
    void SetSpec();
    void SetAve();
    void StartTran();
    void StopTran();
    void IsDevOpen();
    void IsInited();
    void UpdateTime();
    void GetDevSerial();
    void GetDevName();
    void GetDetSerial();
    void GetDetName();
    void GetDetVer();
    void WriteDevSerial();
    void WriteDevName();
    void WriteDetSerial();
    void WriteDetName();
    void GetBaseParam();
    void GetLevParam();
    void GetSpecParam();
    void WriteBaseParam();
    void SelectLevFile();
    void WriteLevParam();
    void SelectSpecFile();
    void WriteSpecParam();
    void SaveParam();
    void GetPowerData();
    void on_pbGetSpec_clicked();

private:
    using ReadFn = int (*)(int, char *, int);
    using WriteFn = int (*)(int, const char *, int);
    void Log(const QString &text);
    void ReadText(ReadFn read, int bufLen, const QString &title);
    void WriteText(WriteFn write, const QString &text, int field, const QString &title);
    void SelectFile(const QString &caption, const QString &logText, class QLineEdit *target);
    // The record of devId if the worker polls it (the device manager knows it, not
    // removed): its samples are not ours. Null otherwise.
    std::shared_ptr<DeviceRecord> WorkerRecord() const;
    // The poll's line: samples taken and the newest power.
    void LogPower(qint64 count, const QString &power);
    // One poll of a meter the worker streams: a line if a new batch reached its record.
    void ShowRecordPower(const DeviceRecord &rec);

    std::unique_ptr<Ui::DebugWidget> ui;
    static constexpr int kMaxListed = 8;  // meters a scan lists in cbDevice
    int ids[kMaxListed] = {};
    int devId = -1;
    // This window opened devId from closed, so it may stop and close it.
    bool ownsDev = false;
    QTimer *timer = nullptr;
    // What the poll last saw of the worker's record of devId: the arrival and the sample
    // count of its newest batch. recordId -1: nothing seen since the poll started.
    struct RecordSeen {
        int recordId = -1;
        qint64 arrivalMs = -1;
        qint64 samples = 0;
    } seen_;
};
