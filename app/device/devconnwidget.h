// The device page: the scan button and one entry per meter a scan has probed, newest first.
// Its requests (scan, connect) and its entries' are its own signals; the main window
// forwards them to the worker and feeds the worker's answers back into the slots.
#pragma once

#include <QList>
#include <QWidget>

class ScannedWidget;
namespace Ui {
class DevConnWidget;
}

class DevConnWidget : public QWidget {
    Q_OBJECT

public:
    explicit DevConnWidget(QWidget *parent = nullptr);
    ~DevConnWidget() override;

    // The entry of `nDevId` back to "连接" (the meter was closed).
    void ResetEntry(int nDevId);
    // Drops the entry of a meter that vanished (scheduled deletion).
    void RemoveEntry(int nDevId);
    // The worker's answer to a connect request, shown on the entry.
    void OpenResult(int nDevId, bool bConnRet);

    ScannedWidget *FindEntry(int nDevId) const;
    const QList<ScannedWidget *> &Entries() const { return entries; }

signals:
    void SigScanDev();
    void SigOpenDev(int nDevId);
    void SigShowDataWin();

public slots:
    // The scan button: disabled until the worker's SigScanFinish.
    void ScanDev();
    // The worker's SigAddDev: a new entry on top of the list.
    void AddDev(int nDevId);
    void ScanFinished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Ui::DevConnWidget *ui;
    QList<ScannedWidget *> entries;  // insertion order
};
