// The side bar "设备列表": one card per connected meter, and a button to the device page.
#pragma once

#include <QList>
#include <QWidget>

class DevInfoFrame;
namespace Ui { class NavigationBar; }

class NavigationBar : public QWidget {
    Q_OBJECT

public:
    explicit NavigationBar(QWidget *parent = nullptr);
    ~NavigationBar() override;

    // Wiring, once the worker and the main window are registered with the device manager.
    void SetupConnections();

    // Adds the card of a meter that opened (nothing if it has one). The first card
    // selects its meter at once through the main window.
    void AddDevice(int nDevId);
    // Drops the card of a meter (scheduled deletion); nothing if it has none.
    void RemoveDevice(int nDevId);
    // Marks the card of `nDevId` as the only checked one (-1: none).
    void SetSelected(int nDevId);

    DevInfoFrame *FindCard(int nDevId) const;
    const QList<DevInfoFrame *> &Cards() const { return cards; }

public slots:
    // The worker's SigConnChanged: the card's icon follows; a meter that became ready
    // also tells the settings panel through the device manager.
    void ConnChanged(int nDevId, bool bStat);

private:
    Ui::NavigationBar *ui;
    QList<DevInfoFrame *> cards;  // insertion order
};
