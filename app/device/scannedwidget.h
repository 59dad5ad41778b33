// One entry of the device page: a probed meter's identity and its connect button.
#pragma once

#include <QWidget>

namespace Ui {
class ScannedWidget;
}

class ScannedWidget : public QWidget {
    Q_OBJECT

public:
    explicit ScannedWidget(int nDevId, QWidget *parent = nullptr);
    ~ScannedWidget() override;

    int DevId() const { return nDevId; }
    // Back to "连接", enabled (the meter was closed).
    void Reset();
    // The worker's answer to the connect request: "已连接" (stays disabled) or
    // "重新连接" (enabled, a click retries).
    void OpenResult(bool bConnRet);

signals:
    void SigShowDataWin();
    // Forwarded by the main window as the worker's open request.
    void SigOpenDev(int nDevId);

public slots:
    // "连接中...", disabled; asks for the data page, then for the meter to be opened.
    void ConnDev();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Ui::ScannedWidget *ui;
    int nDevId;
};
