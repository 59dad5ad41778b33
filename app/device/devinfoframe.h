// One card of the side bar: a connected meter's head and probe names, its connection
// icon and a close button. Clicking an unchecked card selects its meter. The card only
// says what the user did; the main window acts on it.
#pragma once

#include <QFrame>

namespace Ui {
class DevInfoFrame;
}

class DevInfoFrame : public QFrame {
    Q_OBJECT

public:
    explicit DevInfoFrame(int nDevId, QWidget *parent = nullptr);
    ~DevInfoFrame() override;

    int DevId() const { return nDevId; }
    bool IsChecked() const { return checked; }
    bool IsConnected() const { return connected; }
    // Each change restyles the card (background, connection icon).
    void SetChecked(bool bChecked);
    void SetConnected(bool bConnected);

signals:
    // A left click on the card while it was not checked.
    void SigFrameSelected(int nDevId);
    // The close button: the main window forwards it as the worker's close request, then
    // drops the card, resets the scan entry and clears the selection.
    void SigCloseDev(int nDevId);
    // Any left click on the card: the measurement page is to be shown.
    void SigShowDataWin();

public slots:
    void CloseDev();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void ApplyStateStyle();

    Ui::DevInfoFrame *ui;
    int nDevId;
    bool checked = false;
    bool connected = true;
};
