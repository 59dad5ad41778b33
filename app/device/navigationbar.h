// The side bar "设备列表": one card per connected meter, and a button to the device page.
// It passes on what its cards say as its own signals; the main window connects them.
#pragma once

#include <QList>
#include <QWidget>

class DevInfoFrame;
namespace Ui {
class NavigationBar;
}

class NavigationBar : public QWidget {
    Q_OBJECT

public:
    explicit NavigationBar(QWidget *parent = nullptr);
    ~NavigationBar() override;

    // Adds the card of a meter that opened (nothing if it has one). The first card
    // selects its meter at once (SigDevSelected before this returns).
    void AddDevice(int nDevId);
    // Drops the card of a meter (scheduled deletion); nothing if it has none.
    void RemoveDevice(int nDevId);
    // Marks the card of `nDevId` as the only checked one (-1: none).
    void SetSelected(int nDevId);

    DevInfoFrame *FindCard(int nDevId) const;
    const QList<DevInfoFrame *> &Cards() const { return cards; }

signals:
    void SigShowDevWin();             // "添加设备" (pbAddDev)
    void SigDevSelected(int nDevId);  // a card was clicked, or the first card was added
    void SigCloseDev(int nDevId);     // a card's close button
    void SigShowDataWin();            // a card was clicked

public slots:
    // The worker's SigConnChanged: the card's icon follows; a meter that became ready
    // also tells the settings panel through the device manager.
    void ConnChanged(int nDevId, bool bStat);

private:
    Ui::NavigationBar *ui;
    QList<DevInfoFrame *> cards;  // insertion order
};
