#include "mainwidget.h"

#include "appfolders.h"
#include "datawidget.h"
#include "debugwidget.h"
#include "devconnwidget.h"
#include "devmanage.h"
#include "measurewidget.h"
#include "navigationbar.h"
#include "opticaldev.h"
#include "ui_mainwidget.h"
#include "viewfilewidget.h"
#include "windowrules.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStorageInfo>
#include <QStyleOption>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#include <windowsx.h>
#endif

namespace {
const char kMenuStyle[] =
    "QMenu {background-color: #2e2e2e;border: 1px solid rgba(255, 255, 255, 0.5);"
    "color:rgb(200, 200, 200);}QMenu::item {background: #2e2e2e;padding: 4px 20px 4px 20px;"
    "margin: 0px;}QMenu::item:selected {background:rgba(82,130,164,1);}"
    "QMenu::item:pressed {background:rgba(82,130,164,0.4);}";
// The maker's page behind "了解更多" (a placeholder address until the product has one).
const char kLearnMoreUrl[] = "https://example.com/";
}  // namespace

MainWidget::MainWidget(QWidget *parent) : QWidget(parent), form(new Ui::MainWidget)
{
    // 1. The form: pages, side bar, texts; it starts on page 3 and connects by name.
    m_ptPress = QPoint(0, 0);
    m_bPressed = false;
    // Frameless from the start: set later, the flag re-creates the window with every
    // child already in it.
    setWindowFlag(Qt::FramelessWindowHint);
    form->setupUi(this);

    // 2. The debug window, the worker and its thread, the tick.
    m_pDebugWidget = new DebugWidget(this);
    m_pOpticalDev = new OpticalDev;
    m_pDevThread = new QThread;
    m_pUpdateTimer = new QTimer(this);

    // 3. Registered with the device manager before anything can ask for them.
    DevManage *manager = DevManage::Instance();
    manager->SetMainWidget(this);
    manager->SetOpticalDev(m_pOpticalDev);

    // 4. On the device page, the navigation buttons exclusive.
    form->stackedWidget->setCurrentWidget(form->pageDevConn);
    m_btnGroup = new QButtonGroup(this);
    for (QPushButton *b :
         {form->pbFile, form->pbDev, form->pbMear, form->pushButton_viewFile, form->pbHelp})
        m_btnGroup->addButton(b, -1);

    // 5. Title bar buttons.
    connect(form->pbShowMin, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(form->pbShowMax, &QPushButton::clicked, this, &MainWidget::ShowMax);
    connect(form->pbClose, &QPushButton::clicked, this, &QWidget::close);
    connect(form->pbDev, &QPushButton::clicked, this, &MainWidget::ShowDataWin);
    connect(form->pbMear, &QPushButton::clicked, this, &MainWidget::ShowMeasureWin);
    connect(form->pbDebug, &QPushButton::clicked, this, &MainWidget::ShowDebugWidget);

    // 6. The worker in its thread; the two delete each other when the thread ends.
    m_pOpticalDev->moveToThread(m_pDevThread);
    connect(m_pDevThread, &QThread::started, m_pOpticalDev, &OpticalDev::Init);
    connect(m_pDevThread, &QThread::finished, m_pOpticalDev, &QObject::deleteLater);
    connect(m_pOpticalDev, &QObject::destroyed, m_pDevThread, &QObject::deleteLater);
    connect(m_pOpticalDev, &OpticalDev::SigOpenFinish, this, &MainWidget::OpenFinished);
    connect(m_pOpticalDev, &OpticalDev::SigRemovDev, this, &MainWidget::RemoveDiscDev);
    connect(m_pUpdateTimer, &QTimer::timeout, this, &MainWidget::UpdateWidget);

    // 7. Tick and worker running.
    m_pUpdateTimer->start(kTickMs);
    m_pDevThread->start(QThread::InheritPriority);

    // 8. File menu, help texts and links.
    BuildFileMenu();
    SetTexts();
    connect(form->label_openManual, &QLabel::linkActivated, this, &MainWidget::slot_linkActivated);
    connect(form->label_openSDK, &QLabel::linkActivated, this, &MainWidget::slot_linkActivated);

    // 9. The side bar and the pages to the worker, to this window and to the status line.
    ConnectPages();

    // 10. The first scan, queued into the worker thread.
    QPointer<OpticalDev> worker = m_pOpticalDev;
    QTimer::singleShot(100, this, [worker] {
        if (worker)
            QMetaObject::invokeMethod(worker, "ScanDev", Qt::QueuedConnection);
    });

    // 11. No liveness history; the debug button stays hidden in this build.
    m_nCheckCount = 0;
    m_nFailCount = 0;
    form->pbDebug->hide();

    FitToScreen();
}

MainWidget::~MainWidget()
{
    m_pUpdateTimer->stop();
    DevManage *manager = DevManage::Instance();
    if (manager->GetMainWidget() == this)
        manager->SetMainWidget(nullptr);
    // A scan probing a meter that never gets ready would hold the thread for up to 3 s:
    // the interruption request ends it between two readiness rounds. The worker is
    // deleted (and the library released) in the worker thread as it finishes, so once
    // wait() returns nothing of the worker runs any more.
    QPointer<QThread> thread = m_pDevThread;
    if (thread) {
        thread->requestInterruption();
        thread->quit();
        if (!thread->wait(300)) {
            qWarning("Device thread still busy after 300 ms; waiting for it to finish");
            thread->wait();
        }
        delete thread.data();  // its deleteLater would never run once the event loop is gone
    }
    delete form;
}

void MainWidget::ConnectPages()
{
    OpticalDev *worker = m_pOpticalDev;
    // The device page: scan and connect requests go to the worker as its own request
    // signals (a signal connected to a signal), its answers come back to the page.
    DevConnWidget *devPage = form->pageDevConn;
    connect(devPage, &DevConnWidget::SigScanDev, worker, &OpticalDev::SigScanDev);
    connect(devPage, &DevConnWidget::SigShowDataWin, this, &MainWidget::ShowDataWin);
    connect(devPage, &DevConnWidget::SigOpenDev, worker, &OpticalDev::SigOpenDev);
    connect(worker, &OpticalDev::SigAddDev, devPage, &DevConnWidget::AddDev);
    connect(worker, &OpticalDev::SigScanFinish, devPage, &DevConnWidget::ScanFinished);

    // The side bar: a card's close asks the worker first, then drops the card.
    NavigationBar *bar = form->wgNavBar;
    connect(bar, &NavigationBar::SigShowDevWin, this, &MainWidget::ShowDevWin);
    connect(bar, &NavigationBar::SigDevSelected, this, &MainWidget::SelDevChanged);
    connect(bar, &NavigationBar::SigCloseDev, worker, &OpticalDev::SigCloseDev);
    connect(bar, &NavigationBar::SigCloseDev, this, &MainWidget::RemoveDevice);
    connect(bar, &NavigationBar::SigShowDataWin, this, &MainWidget::ShowDataWin);
    connect(worker, &OpticalDev::SigConnChanged, bar, &NavigationBar::ConnChanged);

    // The look-out for meters that went missing: what scans find and what gets ready.
    connect(worker, &OpticalDev::SigAddDev, this, &MainWidget::MeterAdded);
    connect(worker, &OpticalDev::SigConnChanged, this, &MainWidget::MeterReady);
    connect(worker, &OpticalDev::SigScanFinish, this, [this] { m_lookout.ScanFinished(); });

    // The measurement page's settings.
    DataWidget *dataPage = form->pageData;
    connect(dataPage, &DataWidget::SigSetWaveLen, worker, &OpticalDev::SigSetWaveLen);
    connect(dataPage, &DataWidget::SigSetAverage, worker, &OpticalDev::SigSetAverage);
    connect(worker, &OpticalDev::SigSettingApplied, dataPage, &DataWidget::slot_settingApplied);

    // What failed, said on the status line.
    QLabel *status = form->label_msg;
    connect(dataPage, &DataWidget::SigShowMessage, status, &QLabel::setText);
    connect(form->pageMeasure, &MeasureWidget::SigShowMessage, status, &QLabel::setText);
    connect(form->pageViewFile, &viewFileWidget::SigShowMessage, status, &QLabel::setText);
    connect(worker, &OpticalDev::SigDevMessage, status,
            [status](int, const QString &text) { status->setText(text); });
}

void MainWidget::SetTexts()
{
    form->label_openManual->setText(
        QStringLiteral(
            "<a style='color: blue; text-decoration: none' href = /help/光功率计用户手册.pdf "
            "?type=lately>") +
        tr("查看"));
    form->label_openSDK->setText(
        QStringLiteral(
            "<a style='color: blue; text-decoration: none' href = /help/SDK ?type=lately>") +
        tr("查看 SDK"));
    form->label_learnMore->setText(
        QStringLiteral("<a style='color: blue; text-decoration: none' href = %1>")
            .arg(QLatin1String(kLearnMoreUrl)) +
        tr("了解更多"));
    form->label_learnMore->setOpenExternalLinks(true);
    form->label_softVersion->setText(
        windowrules::VersionText(QCoreApplication::applicationVersion()));
}

void MainWidget::BuildFileMenu()
{
    auto *menu = new QMenu(form->pbFile);
    menu->setStyleSheet(QLatin1String(kMenuStyle));
    connect(menu->addAction(tr("打开文件")), &QAction::triggered, this, &MainWidget::slot_openFile);
    connect(menu->addAction(tr("打开表头文件")), &QAction::triggered, this,
            &MainWidget::slot_openMeterFile);
    connect(menu->addAction(tr("保存屏幕")), &QAction::triggered, this,
            &MainWidget::slot_grapScreen);
    connect(menu->addAction(tr("保存配置")), &QAction::triggered, this,
            &MainWidget::slot_saveConfig);
    connect(menu->addAction(tr("加载配置")), &QAction::triggered, this,
            &MainWidget::slot_loadConfig);
    connect(menu->addAction(tr("退出")), &QAction::triggered, this, &MainWidget::slot_quit);
    form->pbFile->setMenu(menu);
}

void MainWidget::FitToScreen()
{
    // The form asks for 1920 x 1080, more than many screens offer.
    const QScreen *scr = screen();
    if (!scr)
        return;
    setGeometry(windowrules::FitToAvailable(geometry(), scr->availableGeometry()));
}

void MainWidget::ShowDevWin()
{
    form->wgNavBar->setVisible(true);
    form->stackedWidget->setCurrentWidget(form->pageDevConn);
}

void MainWidget::ShowDataWin()
{
    form->wgNavBar->setVisible(true);
    form->stackedWidget->setCurrentWidget(form->pageData);
}

void MainWidget::SelDevChanged(int nSelDev)
{
    DevManage::Instance()->SetSelDev(nSelDev);
    form->wgNavBar->SetSelected(nSelDev);
    m_nFailCount = 0;  // failures of the previous meter say nothing about this one
    form->pageData->ResetRange();
}

void MainWidget::ShowMax()
{
    if (form->pbShowMax->isChecked())
        showMaximized();
    else
        showNormal();
}

void MainWidget::ShowMeasureWin()
{
    form->wgNavBar->setVisible(true);
    form->stackedWidget->setCurrentWidget(form->pageMeasure);
}

void MainWidget::ShowDebugWidget()
{
    const QRect g = geometry();
    m_pDebugWidget->move(g.x() + (g.width() - m_pDebugWidget->width()) / 2,
                         g.y() + (g.height() - m_pDebugWidget->height()) / 2);
    m_pDebugWidget->show();
}

void MainWidget::OpenFinished(int nDevId, bool bConnRet)
{
    form->pageDevConn->OpenResult(nDevId, bConnRet);
    const qint64 now = DeviceRecord::SteadyNowMs();
    if (!bConnRet) {
        m_lookout.OpenFailed(nDevId, now);
        return;
    }
    m_lookout.Opened(DevManage::Instance()->GetDevRecord(nDevId), now);
    form->wgNavBar->AddDevice(nDevId);
}

void MainWidget::MeterAdded(int nDevId)
{
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(nDevId);
    if (!m_lookout.Appeared(rec, DeviceRecord::SteadyNowMs()))
        return;
    // A meter the user had connected is back: connected as the user's click would.
    form->label_msg->setText(tr("设备%1已重新出现，正在重新连接").arg(rec->devSerial));
    emit m_pOpticalDev->SigOpenDev(nDevId);
}

void MainWidget::MeterReady(int nDevId, bool bStat)
{
    if (!bStat)
        return;
    const std::optional<Lookout::Restore> back = m_lookout.Ready(nDevId);
    DevManage *manager = DevManage::Instance();
    const DeviceRecordPtr rec = manager->GetDevRecord(nDevId);
    if (!back || !rec)
        return;
    if (back->select && manager->GetSelDev() < 0)
        SelDevChanged(nDevId);
    if (const DeviceRecordPtr &old = back->from) {
        // The meter's own settings go back through the worker, which checks them; the
        // application's own (attenuation, display unit and range) are copied, after the
        // selection, which resets the range to automatic.
        emit m_pOpticalDev->SigSetWaveLen(nDevId, old->waveLen.load());
        emit m_pOpticalDev->SigSetAverage(nDevId, static_cast<ushort>(old->average.load()));
        rec->SetAttenuation(old->Attenuation());
        rec->SetUnit(old->Unit());
        double low = 0, high = 0;
        old->GetRange(&low, &high);
        rec->SetRange(low, high);
    }
    form->label_msg->setText(tr("设备%1已重新连接").arg(rec->devSerial));
}

void MainWidget::LookOut()
{
    DevManage *manager = DevManage::Instance();
    const Lookout::Step step = m_lookout.Tick(
        DeviceRecord::SteadyNowMs(), [manager](int id) { return manager->GetDevRecord(id); },
        manager->GetSelDev());
    for (int id : step.forget)
        DropLostMeter(id, false);
    if (step.scan)
        emit m_pOpticalDev->SigScanDev();
}

void MainWidget::DropLostMeter(int nDevId, bool rescan)
{
    DevManage *manager = DevManage::Instance();
    form->wgNavBar->RemoveDevice(nDevId);
    form->pageDevConn->ResetEntry(nDevId);
    form->pageDevConn->RemoveEntry(nDevId);
    if (manager->GetSelDev() == nDevId)
        m_nFailCount = 0;                    // the next meter starts with a clean record
    manager->RemoveLostDev(nDevId, rescan);  // close, (rescan,) forget, deselect
    // A recording goes on (its meter may come back); otherwise the device page shows what
    // is left to connect.
    if (!form->pageMeasure->Recording())
        form->stackedWidget->setCurrentWidget(form->pageDevConn);
}

void MainWidget::RemoveDiscDev(int nDevId)
{
    form->wgNavBar->RemoveDevice(nDevId);
    form->pageDevConn->RemoveEntry(nDevId);
    // The manager no longer knows the meter: a selection left on it would only feed the
    // liveness check with an id that can never pass.
    DevManage *manager = DevManage::Instance();
    if (manager->GetSelDev() == nDevId) {
        manager->SetSelDev(-1);
        m_nFailCount = 0;
    }
}

void MainWidget::RemoveDevice(int nDevId)
{
    m_lookout.Closed(nDevId);  // closed by the user: never connected again unasked
    form->wgNavBar->RemoveDevice(nDevId);
    form->pageDevConn->ResetEntry(nDevId);
    DevManage::Instance()->SetSelDev(-1);
    m_nFailCount = 0;
}

void MainWidget::UpdateWidget()
{
    form->pageData->RefreshData();
    LookOut();
    DevManage *manager = DevManage::Instance();
    const int sel = manager->GetSelDev();
    if (sel < 0)
        return;
    if (++m_nCheckCount < kTicksPerCheck)
        return;
    m_nCheckCount = 0;
    if (manager->IsSelDetConnected()) {
        m_nFailCount = 0;
        return;
    }
    if (++m_nFailCount < kFailuresToDrop)
        return;
    // The meter stopped answering: drop it everywhere; the queued rescan finds it again
    // if it is still plugged in, and the look-out connects it again if the user had.
    DropLostMeter(sel, true);
    m_nFailCount = 0;
}

void MainWidget::slot_openFile()
{
    form->pageViewFile->OpenFileDialog();
    form->stackedWidget->setCurrentWidget(form->pageViewFile);
}

void MainWidget::slot_openMeterFile()
{
    DevManage *manager = DevManage::Instance();
    OpticalDev *worker = manager->GetOpticalDev();
    if (!worker)
        return;
    worker->EnterDiskMode(manager->GetSelDev());

    QList<windowrules::DriveCandidate> candidates;
    for (const QFileInfo &drive : QDir::drives())
        candidates.append({drive.absolutePath(), QString()});
#ifndef Q_OS_WIN
    // Outside Windows the meter's drive is a mounted volume, not a drive root.
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        candidates.append({volume.rootPath(), volume.name()});
#endif
    const QString dir = windowrules::MeterDriveRoot(candidates);
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open File"), dir, tr("data (*.csv)"));
    if (path.isEmpty())
        return;
    form->pageViewFile->OpenFile(path);
    form->stackedWidget->setCurrentWidget(form->pageViewFile);
}

void MainWidget::slot_grapScreen()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存文件"), appfolders::DataFolder() + QStringLiteral("/untitled.png"),
        tr("Images (*.png *.jpg)"));
    if (path.isEmpty())
        return;
    const QPixmap shot = grab(QRect(QPoint(0, 0), QSize(-1, -1)));
    if (!shot.save(path))
        form->label_msg->setText(tr("截图未保存：无法写入 %1").arg(QDir::toNativeSeparators(path)));
}

void MainWidget::slot_quit() { QCoreApplication::quit(); }

void MainWidget::slot_saveConfig() { form->pageData->SaveConfig(); }

void MainWidget::slot_loadConfig() { form->pageData->LoadConfig(); }

void MainWidget::slot_linkActivated(const QString &url)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + url));
}

void MainWidget::on_pushButton_viewFile_clicked()
{
    form->stackedWidget->setCurrentWidget(form->pageViewFile);
}

void MainWidget::on_pbHelp_clicked()
{
    DevManage *manager = DevManage::Instance();
    form->label_EmbeddedVersion->setText(manager->GetDevVersion(manager->GetSelDev()));
    form->stackedWidget->setCurrentWidget(form->pageHelp);
}

void MainWidget::paintEvent(QPaintEvent *event)
{
    // A plain QWidget subclass draws its style-sheet background and border only when asked.
    QStyleOption opt;
    opt.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);
    QWidget::paintEvent(event);
}

void MainWidget::mousePressEvent(QMouseEvent *event)
{
#ifndef Q_OS_WIN
    // Windows resizes through the hit-test message; elsewhere a press on the 4 px border
    // hands the resize to the window system.
    if (event->button() == Qt::LeftButton) {
        const auto area = windowrules::HitTest(event->pos().x(), event->pos().y(), width(),
                                               height(), isMaximized() || isFullScreen());
        QWindow *handle = windowHandle();
        if (area != windowrules::kHitNone && handle &&
            handle->startSystemResize(Qt::Edges(windowrules::EdgesFor(area)))) {
            event->accept();
            return;
        }
    }
#endif
    if (form->wgTitle->geometry().contains(event->pos()) && !isMaximized()) {
        m_bPressed = true;
        m_ptPress = event->pos();
#ifndef Q_OS_WIN
        // Where the window system moves windows itself, let it (snapping, other screens).
        QWindow *handle = windowHandle();
        if (event->button() == Qt::LeftButton && handle && handle->startSystemMove())
            m_bPressed = false;
#endif
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MainWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_bPressed) {
        move(pos() + (event->pos() - m_ptPress));
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void MainWidget::mouseReleaseEvent(QMouseEvent *event)
{
    m_bPressed = false;
    QWidget::mouseReleaseEvent(event);
}

void MainWidget::closeEvent(QCloseEvent *event)
{
    if (OpticalDev *worker = DevManage::Instance()->GetOpticalDev())
        emit worker->SigCloseDev(DevManage::Instance()->GetSelDev());
    QThread::msleep(100);  // lets the queued close reach the worker before the window goes
    QWidget::closeEvent(event);
}

void MainWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        form->retranslateUi(this);
    QWidget::changeEvent(event);
}

#ifdef Q_OS_WIN
bool MainWidget::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    MSG *msg = static_cast<MSG *>(message);
    if (msg->message != WM_NCHITTEST)
        return QWidget::nativeEvent(eventType, message, result);
    const QRect frame = frameGeometry();
    const int x = GET_X_LPARAM(msg->lParam) - frame.x();
    const int y = GET_Y_LPARAM(msg->lParam) - frame.y();
    const auto area =
        windowrules::HitTest(x, y, width(), height(), isMaximized() || isFullScreen());
    if (area == windowrules::kHitNone)
        return false;
    *result = area;
    return true;
}
#endif
