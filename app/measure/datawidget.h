// The measurement page: settings panel on the left (wavelength, power range, attenuation,
// zero compensation, averaging, calibration date) and the four live views of the selected
// meter on the right (numbers, dial, statistics, curve). It reads meters through DevManage
// and the worker's direct queries; its requests to the worker are its own signals, which
// the main window forwards. All of it runs in the GUI thread.
#pragma once

#include "displayunit.h"
#include "measurestore.h"

#include <QString>
#include <QVector>
#include <QWidget>

namespace Ui {
class DataWidget;
}
class CurveData;
class DataSetting;
class NumData;
class PointerData;
class QButtonGroup;
class StatisticData;

class DataWidget : public QWidget {
    Q_OBJECT

public:
    explicit DataWidget(QWidget *parent = nullptr);
    ~DataWidget() override;

    // The main window's 50 ms tick: reads the selected meter, ranges automatically when
    // the range box is at "Auto", feeds a running statistics run to both run views and the
    // visible numeric or pointer view.
    void RefreshData();
    // Power range back to its first entry ("Auto") without the activated path, then one
    // refresh.
    void ResetRange();
    // Measurement settings to / from an INI file chosen by the user. A file that cannot be
    // written or read, or holds something other than numbers, changes nothing and sends
    // nothing; SigShowMessage says why.
    void SaveConfig();
    void LoadConfig();

    // Direct access for the main window, tests and the screenshot tour.
    NumData *NumView() const;
    PointerData *PointerView() const;
    StatisticData *StatisticView() const;
    CurveData *CurveView() const;
    DataSetting *SettingPopup() const { return dataSetting; }
    // The unit every power of the page is shown in, and the stored reference (nW, 0 when
    // none is set). Kept across a change of meter and across runs.
    displayunit::Scale DisplayScale() const;
    double ReferenceNw() const { return referenceNw; }
    bool StatisticsRunning() const { return statisticsRunning; }

signals:
    void signal_detectorDisonnect();
    // Requests for the worker (its SigSetWaveLen and SigSetAverage).
    void SigSetWaveLen(int nDevId, float fWaveLen);
    void SigSetAverage(int nDevId, ushort nAverage);
    // What failed (a settings file, a saved view), in words for the status line.
    void SigShowMessage(const QString &text);

public slots:
    void ShowNumWin();
    void ShowPointerWin();
    void ShowStaWin();
    void ShowCurveWin();
    void ShowSettingWin();
    void CurveControl(bool bChecked);
    void slot_ResetCurve();
    // A meter became ready: the panel shows its record's settings, zero offset and
    // calibration date, without sending anything back.
    void slot_devChanged();
    // The worker's SigSettingApplied: once every request this panel sent has been
    // handled, the wavelength and averaging boxes show the selected meter's record (what
    // the meter uses), without sending a new request.
    void slot_settingApplied(int nDevId);
    void slot_NumDataShowFullscreen(bool checked);

private slots:
    void on_comboBox_powerRange_activated(int index);
    void on_sbAve_valueChanged(int value);
    void on_sbWaveLen_valueChanged(int value);
    void on_pbCaliReset_clicked();
    void on_dsbAttenComp_valueChanged(double value);
    // "dB" without a reference takes the present reading as one; without a reading the
    // box goes back to the unit it showed.
    void on_cbDisplayUnit_activated(int index);
    // The selected meter's present reading becomes the reference.
    void on_pbSetRef_clicked();

private:
    void SetRunButtons(bool running);
    void RequestWaveLen(int id, int waveLen);
    void RequestAverage(int id, int average);
    void ShowRecordSettings();
    // Takes the selected meter's newest reading (whole nW) as the reference; false, with a
    // message, when there is no meter or the reading is below 1 nW.
    bool TakeReference();
    void SetReference(double nw);
    // Selects `kind` as the display unit; dB without a reference takes one first.
    void ChooseUnit(displayunit::Kind kind);

    Ui::DataWidget *ui;
    double current = 0.0;
    bool statisticsRunning = false;
    double currentStats[3] = {0.0, 0.0, 0.0};
    StatBlock runStats;
    displayunit::Kind unitKind = displayunit::Kind::Watt;
    double referenceNw = 0.0;
    // Settings requests sent and not yet reported handled; while some are, the boxes are
    // left alone (the user may still be typing).
    int pendingSettings = 0;
    DataSetting *dataSetting = nullptr;
    QButtonGroup *pageButtons = nullptr;
    // The samples of the run read on a tick (those after the curve's cursor), reused from
    // tick to tick so that their storage is not reallocated.
    QVector<double> runTimes;
    QVector<double> runValues;
};
