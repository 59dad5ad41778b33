// The device page and the side bar: scan, connect, select, close, vanish, lose readiness.
#include "gui_fixture.h"

#include "devconnwidget.h"
#include "devinfoframe.h"
#include "navigationbar.h"
#include "scannedwidget.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace guitest;

namespace {
class DeviceList : public MainWindowTest {
protected:
    DevConnWidget *Page() { return Find<DevConnWidget>(window, "pageDevConn"); }
    NavigationBar *Bar() { return Find<NavigationBar>(window, "wgNavBar"); }
    QString EntryButtonText(int id)
    {
        return Find<QPushButton>(Page()->FindEntry(id), "pbConn")->text();
    }
    QString StatStyle(int id) { return Find<QLabel>(Bar()->FindCard(id), "lbStat")->styleSheet(); }
};
}  // namespace

TEST_F(DeviceList, ScanListsEachMeterWithItsIdentityNewestFirst)
{
    StartWindow();
    EXPECT_TRUE(Page()->Entries().isEmpty());
    Plug(1);
    Plug(2);
    auto *button = Find<QPushButton>(window, "pbScanDev");
    const int before = ScanFinishedCount();
    button->click();
    EXPECT_FALSE(button->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ScanFinishedCount() > before; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return button->isEnabled(); }, 1000));

    ASSERT_EQ(Page()->Entries().size(), 2);
    // The layout's first entry is the newest.
    auto *layout = Find<QWidget>(window, "widget_devList")->layout();
    auto *first = qobject_cast<ScannedWidget *>(layout->itemAt(0)->widget());
    auto *second = qobject_cast<ScannedWidget *>(layout->itemAt(1)->widget());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first, Page()->Entries().last());
    EXPECT_EQ(second, Page()->Entries().first());
    for (ScannedWidget *e : Page()->Entries()) {
        const int id = e->DevId();
        QString devName, detName;
        manager->GetDevNames(id, &devName, &detName);
        EXPECT_EQ(Find<QLabel>(e, "lbDevName")->text(), devName);
        EXPECT_EQ(Find<QLabel>(e, "lbDetName")->text(), detName);
        EXPECT_EQ(Find<QLabel>(e, "lbDevSerail")->text(), manager->GetDevSerial(id));
        EXPECT_EQ(Find<QLabel>(e, "lbDetSerial")->text(), manager->GetDetSerial(id));
        EXPECT_FALSE(devName.isEmpty());
        EXPECT_EQ(Find<QPushButton>(e, "pbConn")->text(), "连接");
    }
    // A second scan adds nothing for meters already listed.
    ASSERT_TRUE(ScanByButton());
    EXPECT_EQ(Page()->Entries().size(), 2);
}

TEST_F(DeviceList, ConnectSelectAndCloseFollowTheUsersClicks)
{
    Plug(1);
    Plug(2);
    StartWindow();
    const int a = IdOfPort(1), b = IdOfPort(2);

    ASSERT_TRUE(Connect(a));
    EXPECT_EQ(EntryButtonText(a), "已连接");
    EXPECT_FALSE(Find<QPushButton>(Page()->FindEntry(a), "pbConn")->isEnabled());
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageData"));
    EXPECT_EQ(manager->GetSelDev(), a);
    EXPECT_TRUE(Bar()->FindCard(a)->IsChecked());
    EXPECT_TRUE(Bar()->FindCard(a)->IsConnected());
    EXPECT_TRUE(Find<QWidget>(Bar()->FindCard(a), "wgInfo")
                    ->styleSheet()
                    .contains("devInfoBackground_checked.png"));

    // A second meter gets a card but does not take the selection.
    ASSERT_TRUE(Connect(b));
    EXPECT_EQ(Bar()->Cards().size(), 2);
    EXPECT_EQ(manager->GetSelDev(), a);
    EXPECT_FALSE(Bar()->FindCard(b)->IsChecked());

    // A click on the second card selects it; the device page is left for the data page.
    Find<QPushButton>(window, "pbHelp")->click();
    Click(Bar()->FindCard(b));
    EXPECT_EQ(manager->GetSelDev(), b);
    EXPECT_TRUE(Bar()->FindCard(b)->IsChecked());
    EXPECT_FALSE(Bar()->FindCard(a)->IsChecked());
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageData"));
    // Clicking the checked card again changes nothing but still shows the data page.
    Find<QPushButton>(window, "pbHelp")->click();
    Click(Bar()->FindCard(b));
    EXPECT_EQ(manager->GetSelDev(), b);
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageData"));

    // Closing the unselected card still clears the selection; its entry offers "连接".
    Find<QPushButton>(Bar()->FindCard(a), "pbClose")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Bar()->FindCard(a) == nullptr; }, 2000));
    EXPECT_EQ(manager->GetSelDev(), -1);
    EXPECT_EQ(EntryButtonText(a), "连接");
    EXPECT_TRUE(Find<QPushButton>(Page()->FindEntry(a), "pbConn")->isEnabled());
    EXPECT_NE(manager->GetDevRecord(a), nullptr);  // still known, ready to connect again

    // It connects again from its entry.
    ASSERT_TRUE(Connect(a));
    EXPECT_EQ(EntryButtonText(a), "已连接");
}

TEST_F(DeviceList, AMeterThatVanishesLeavesTheListOnTheNextScan)
{
    Meter m1 = Plug(1);
    Plug(2);
    StartWindow();
    const int a = IdOfPort(1);
    ASSERT_TRUE(Connect(a));
    Unplug(m1);
    ASSERT_TRUE(ScanByButton());
    EXPECT_EQ(Page()->FindEntry(a), nullptr);
    EXPECT_EQ(Bar()->FindCard(a), nullptr);
    EXPECT_EQ(Page()->Entries().size(), 1);
    EXPECT_EQ(manager->GetSelDev(), -1);  // the selection does not outlive its meter
}

TEST_F(DeviceList, AnUnplugedMeterThatIsNotSelectedShowsDisconnected)
{
    Meter m1 = Plug(1);
    Meter m2 = Plug(2);
    StartWindow();
    const int a = IdOfPort(1), b = IdOfPort(2);
    ASSERT_TRUE(Connect(a));
    ASSERT_TRUE(Connect(b));
    ASSERT_EQ(manager->GetSelDev(), a);
    EXPECT_TRUE(StatStyle(b).contains("connected.png"));
    Unplug(m2);
    // Readiness is lost without any scan: the card shows the disconnected icon.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Bar()->FindCard(b)->IsConnected(); }, 5000));
    EXPECT_TRUE(StatStyle(b).contains("unConnected.png"));
    // The selected meter goes on streaming.
    EXPECT_TRUE(WaitForSamples(a));
    EXPECT_TRUE(Bar()->FindCard(a)->IsConnected());
}

TEST_F(DeviceList, AFailedOpenOffersARetry)
{
    simmeter::MeterConfig cfg;
    Meter m = Plug(1, cfg);
    StartWindow();
    const int id = IdOfPort(1);
    ASSERT_NE(Page()->FindEntry(id), nullptr);
    Unplug(m);  // gone between the scan and the click: the open fails
    Find<QPushButton>(Page()->FindEntry(id), "pbConn")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return EntryButtonText(id) == "重新连接"; }, 10000));
    EXPECT_TRUE(Find<QPushButton>(Page()->FindEntry(id), "pbConn")->isEnabled());
    EXPECT_EQ(Bar()->FindCard(id), nullptr);
}
