// The main window as a user meets it: start-up state, pages, the File menu, screenshots,
// the help page, the liveness check, and closing while the worker is busy.
#include "gui_fixture.h"

#include "devconnwidget.h"
#include "navigationbar.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace guitest;

namespace {
class MainWindow : public MainWindowTest {};
}  // namespace

TEST_F(MainWindow, StartsOnTheDevicePageWithItsTextsAndFirstScan)
{
    Plug(1);
    StartWindow();
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageDevConn"));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(Find<QPushButton>(window, "pbDebug")->isVisible());
    EXPECT_EQ(Find<QLabel>(window, "label_softVersion")->text(), "V1.2.3");
    EXPECT_EQ(Find<QPushButton>(window, "pbFile")->text(), "文件");
    EXPECT_EQ(Find<QPushButton>(window, "pbDev")->text(), "设备");
    EXPECT_EQ(Find<QPushButton>(window, "pbMear")->text(), "测量");
    EXPECT_EQ(Find<QPushButton>(window, "pushButton_viewFile")->text(), "查看");
    EXPECT_EQ(Find<QPushButton>(window, "pbHelp")->text(), "帮助");

    QStringList actions;
    for (QAction *a : Find<QPushButton>(window, "pbFile")->menu()->actions())
        actions << a->text();
    EXPECT_EQ(actions, QStringList({"打开文件", "打开表头文件", "保存屏幕", "保存配置", "加载配置",
                                    "退出"}));

    // The pages in their order, by object name.
    QStringList pages;
    for (int i = 0; i < Find<QStackedWidget>(window, "stackedWidget")->count(); ++i)
        pages << Find<QStackedWidget>(window, "stackedWidget")->widget(i)->objectName();
    EXPECT_EQ(pages,
              QStringList({"pageDevConn", "pageMeasure", "pageViewFile", "pageHelp", "pageData"}));

    // The first scan, without a click, listed the meter; the button was never disabled.
    auto *page = Find<DevConnWidget>(window, "pageDevConn");
    EXPECT_EQ(page->Entries().size(), 1);
    EXPECT_TRUE(Find<QPushButton>(window, "pbScanDev")->isEnabled());

    // The window fits the screen it opened on (as far as its content's minimum allows),
    // instead of the 1920 x 1080 its form asks for.
    const QRect avail = window->screen()->availableGeometry();
    const QSize least = window->minimumSizeHint();
    EXPECT_LE(window->width(), qMax(avail.width(), least.width()));
    EXPECT_LE(window->height(), qMax(avail.height(), least.height()));
    EXPECT_LT(window->width(), 1920);
}

TEST_F(MainWindow, ChineseTextsHaveAFontThatDrawsThem)
{
    // Without a CJK font every text of the window would be a row of boxes.
    StartWindow(false);
    EXPECT_FALSE(QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
    const QFontInfo used(Find<QPushButton>(window, "pbFile")->font());
    EXPECT_EQ(used.family(), "WenQuanYi Micro Hei");
    EXPECT_EQ(used.pixelSize(), 16);
    const QFontMetrics metrics(Find<QPushButton>(window, "pbFile")->font());
    for (const QChar c : QStringLiteral("文件设备测量查看帮助"))
        EXPECT_TRUE(metrics.inFont(c)) << QString(c).toStdString();
}

TEST_F(MainWindow, NavigationButtonsShowTheirPagesExclusively)
{
    StartWindow(false);
    Find<QPushButton>(window, "pbMear")->click();
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageMeasure"));
    Find<QPushButton>(window, "pushButton_viewFile")->click();
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageViewFile"));
    EXPECT_TRUE(Find<QPushButton>(window, "pushButton_viewFile")->isChecked());
    EXPECT_FALSE(Find<QPushButton>(window, "pbMear")->isChecked());
    Find<QPushButton>(window, "pbHelp")->click();
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageHelp"));
    EXPECT_EQ(Find<QLabel>(window, "label_EmbeddedVersion")->text(), "");  // no meter selected
    Find<QPushButton>(window, "pbDev")->click();
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageData"));
    Click(Find<QPushButton>(window, "pbAddDev"));
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageDevConn"));
}

TEST_F(MainWindow, HelpPageShowsTheSelectedMetersFirmwareAndLinksIntoTheHelpFolder)
{
    Plug(1);
    StartWindow();
    ASSERT_TRUE(Connect(IdOfPort(1)));
    Find<QPushButton>(window, "pbHelp")->click();
    EXPECT_EQ(Find<QLabel>(window, "label_EmbeddedVersion")->text(),
              manager->GetDevVersion(IdOfPort(1)));
    EXPECT_FALSE(Find<QLabel>(window, "label_EmbeddedVersion")->text().isEmpty());
    EXPECT_TRUE(Find<QLabel>(window, "label_openManual")
                    ->text()
                    .contains("href = /help/光功率计用户手册.pdf ?type=lately"));
    EXPECT_TRUE(Find<QLabel>(window, "label_openSDK")
                    ->text()
                    .contains("href = /help/SDK ?type=lately>查看 SDK"));
}

TEST_F(MainWindow, ScreenshotIsSavedAndLoadsWithTheWindowsSize)
{
    StartWindow(false);
    QTemporaryDir dir;
    const QString png = dir.filePath("shot.png");
    AnswerFileDialog(png);
    window->slot_grapScreen();
    QImage img(png);
    ASSERT_FALSE(img.isNull());
    MainWidget *shown = window;  // a raw pointer, checked: QPointer may be null on every use
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(img.size(), shown->size() * shown->devicePixelRatioF());

    // A cancelled dialog writes nothing; an unwritable place is said on the status line.
    AnswerFileDialogCancel();
    window->slot_grapScreen();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    AnswerFileDialog(dir.filePath("no/such/folder/shot.png"));
    window->slot_grapScreen();
    EXPECT_TRUE(Find<QLabel>(window, "label_msg")->text().contains("截图未保存"));
}

TEST_F(MainWindow, TitleBarDragsANormalWindowButNotAMaximisedOne)
{
    StartWindow(false);
    window->move(50, 50);
    const QPoint start = window->pos();
    auto drag = [this](QPoint from, QPoint by) {
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, from);
        QMouseEvent move(QEvent::MouseMove, from + by, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(window, &move);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, from + by);
    };
    drag(Find<QWidget>(window, "wgTitle")->geometry().center(), QPoint(30, 20));
    EXPECT_EQ(window->pos(), start + QPoint(30, 20));
    // A press on a page never drags.
    drag(Find<QStackedWidget>(window, "stackedWidget")->geometry().center(), QPoint(40, 40));
    EXPECT_EQ(window->pos(), start + QPoint(30, 20));
}

TEST_F(MainWindow, LivenessCheckDropsADetachedProbeAfterThreeFailuresAndRescans)
{
    Meter m = Plug(1);
    StartWindow();
    const int id = IdOfPort(1);
    ASSERT_TRUE(Connect(id));
    ASSERT_EQ(manager->GetSelDev(), id);
    auto *bar = Find<NavigationBar>(window, "wgNavBar");
    auto *page = Find<DevConnWidget>(window, "pageDevConn");

    auto check = [&] {  // one liveness check: 31 ticks
        for (int i = 0; i < MainWidget::kTicksPerCheck; ++i)
            window->UpdateWidget();
    };
    simmeter::FaultConfig detached;
    detached.detectorState = 0;
    m->SetFaults(detached);
    check();
    check();
    EXPECT_EQ(window->FailCount(), 2);
    EXPECT_NE(bar->FindCard(id), nullptr);
    m->SetFaults({});
    check();  // a pass clears the count: two more failures do not drop the meter
    EXPECT_EQ(window->FailCount(), 0);
    m->SetFaults(detached);
    check();
    check();
    EXPECT_NE(bar->FindCard(id), nullptr);
    const int scans = ScanFinishedCount();
    check();
    EXPECT_EQ(bar->FindCard(id), nullptr);
    EXPECT_EQ(page->FindEntry(id), nullptr);
    EXPECT_EQ(manager->GetSelDev(), -1);
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(),
              Find<QWidget>(window, "pageDevConn"));
    EXPECT_EQ(window->FailCount(), 0);  // the next meter starts with a clean record

    // The queued rescan finds the meter unknown; with its probe still detached it is not
    // offered again, once attached a scan offers it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ScanFinishedCount() > scans; }, 20000));
    EXPECT_EQ(page->FindEntry(id), nullptr);
    m->SetFaults({});
    EXPECT_TRUE(ScanUntilListed(id));
}

TEST_F(MainWindow, FailuresOfOneMeterDoNotCountAgainstTheNextSelected)
{
    Meter a = Plug(1);
    Plug(2);
    StartWindow();
    ASSERT_TRUE(Connect(IdOfPort(1)));
    ASSERT_TRUE(Connect(IdOfPort(2)));
    simmeter::FaultConfig detached;
    detached.detectorState = 0;
    a->SetFaults(detached);
    for (int i = 0; i < 2 * MainWidget::kTicksPerCheck; ++i)
        window->UpdateWidget();
    EXPECT_EQ(window->FailCount(), 2);
    window->SelDevChanged(IdOfPort(2));
    EXPECT_EQ(window->FailCount(), 0);
}

TEST_F(MainWindow, ClosingDuringAScanOfAMeterThatNeverGetsReadyIsQuickAndClean)
{
    simmeter::MeterConfig cfg;
    cfg.faults.silent = true;  // never delivers its calibration, never becomes ready
    Plug(1, cfg);
    StartWindow(false);
    // The startup scan is probing the silent meter (up to 3 s of readiness rounds).
    QTest::qWait(400);
    QElapsedTimer clock;
    clock.start();
    window->close();
    delete window.data();
    // Interrupted between readiness rounds: far less than the 3 s the probe could take.
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(manager->GetOpticalDev(), nullptr);
    EXPECT_EQ(manager->GetMainWidget(), nullptr);
}
