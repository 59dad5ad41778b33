// The frameless main window: title bar with navigation and window buttons, the device side
// bar, five pages (device connection, recorder, viewer, help, measurement), the File menu
// and the status line. It owns the application's one device worker and its thread,
// registers both with the device manager, refreshes the measurement page every 50 ms and
// drops the selected meter after three failed liveness checks in a row (one per 31 ticks).
// It is the one place that wires the windows: the pages and cards only emit their own
// signals, and ConnectPages connects them to the worker, to each other and to the status
// line (label_msg).
#pragma once

#include "lookout.h"

#include <QPoint>
#include <QWidget>

class DebugWidget;
class OpticalDev;
class QButtonGroup;
class QThread;
class QTimer;
namespace Ui {
class MainWidget;
}

class MainWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTickMs = 50;
    static constexpr int kTicksPerCheck = 31;  // liveness check every 31st tick (1.55 s)
    static constexpr int kFailuresToDrop = 3;

    explicit MainWidget(QWidget *parent = nullptr);
    // Stops the worker thread (a scan in progress stops between its readiness rounds) and
    // waits for it, so the worker has released the library when this returns.
    ~MainWidget() override;

    // A device card's close: drops the card, resets the scan entry, clears the selection.
    void RemoveDevice(int nDevId);

    // For tests and the tour (widgets are reached by object name).
    OpticalDev *Worker() const { return m_pOpticalDev; }
    DebugWidget *Debug() const { return m_pDebugWidget; }
    int FailCount() const { return m_nFailCount; }
    const Lookout &MeterLookout() const { return m_lookout; }

public slots:
    void ShowDevWin();
    void ShowDataWin();
    void SelDevChanged(int nSelDev);
    void ShowMax();
    void ShowMeasureWin();
    void ShowDebugWidget();
    void OpenFinished(int nDevId, bool bConnRet);
    void RemoveDiscDev(int nDevId);
    void UpdateWidget();
    void slot_openFile();
    void slot_openMeterFile();
    void slot_grapScreen();
    void slot_quit();
    void slot_saveConfig();
    void slot_loadConfig();
    void slot_linkActivated(const QString &url);

private slots:
    void on_pushButton_viewFile_clicked();
    void on_pbHelp_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
#endif

private:
    void ConnectPages();
    // The look-out for meters the user connected: a tick's step, a meter a scan added,
    // a meter that got ready (its settings and selection given back after a return).
    void LookOut();
    void MeterAdded(int nDevId);
    void MeterReady(int nDevId, bool bStat);
    // Drops a meter that stopped answering everywhere (card, scan entry, manager,
    // selection) and asks the worker to close it; `rescan` also queues a scan.
    void DropLostMeter(int nDevId, bool rescan);
    void SetTexts();
    void BuildFileMenu();
    void FitToScreen();

    Ui::MainWidget *form;
    DebugWidget *m_pDebugWidget = nullptr;
    OpticalDev *m_pOpticalDev = nullptr;
    QThread *m_pDevThread = nullptr;
    QTimer *m_pUpdateTimer = nullptr;
    QPoint m_ptPress;
    bool m_bPressed = false;
    int m_nCheckCount = 0;
    int m_nFailCount = 0;
    QButtonGroup *m_btnGroup = nullptr;
    Lookout m_lookout;
};
