// The debug window as the program reaches it: from the main window's hidden debug button,
// on the meter that the main window streams.
#include "debugwidget.h"
#include "gui_fixture.h"

#include <tessivar/tessivar.h>

#include <QPushButton>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using guitest::Find;
using guitest::WaitUntil;

class DebugFromMainWindowTest : public guitest::MainWindowTest {};

TEST_F(DebugFromMainWindowTest, OpensCentredAndLeavesTheStreamedMeterAlone)
{
    simmeter::MeterConfig cfg;
    simmeter::Calibration c = simmeter::DefaultCalibration();
    c.base.startNm = 400;  // the library's starting 532 nm within the probe's range
    c.base.endNm = 1100;
    cfg.calibration = c;
    cfg.signal.noiseRel = 0;
    cfg.signal.powerNw = 25000;
    auto meter = Plug(3, cfg);
    StartWindow();
    const int id = guitest::IdOfPort(3);
    // On a loaded machine the worker's probe of a new meter can miss a reply and leave it
    // unlisted until the next scan.
    bool connected = Connect(id);
    for (int scan = 0; scan < 3 && !connected; ++scan)
        connected = ScanByButton() && Connect(id);
    ASSERT_TRUE(connected);
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    ASSERT_TRUE(rec);
    rec->StartStatistics(0, 0);  // keeps every sample from now on

    auto *debug = window->findChild<DebugWidget *>();
    ASSERT_NE(debug, nullptr);
    EXPECT_FALSE(debug->isVisible());
    Find<QPushButton>(window, "pbDebug")->click();  // hidden, but wired
    ASSERT_TRUE(WaitUntil([&] { return debug->isVisible(); }));
    EXPECT_TRUE(debug->isWindow());
    EXPECT_EQ(debug->windowModality(), Qt::WindowModal);
    // Centred over the main window (a few pixels of frame either way).
    EXPECT_LE((debug->geometry().center() - window->geometry().center()).manhattanLength(), 20);

    auto *log = Find<QTextBrowser>(debug, "textBrowser");
    auto logLines = [&] {
        return log->document()->isEmpty() ? QStringList()
                                          : log->toPlainText().split(QLatin1Char('\n'));
    };
    // The log without repeated attempts: an action that should succeed is repeated (up to
    // five times) when its reply missed the library's 30 ms wait on a loaded machine.
    QStringList lines;
    auto act = [&](const char *name, bool expectSuccess) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int before = logLines().size();
            Find<QPushButton>(debug, name)->click();
            const QStringList fresh = logLines().mid(before);
            if (!expectSuccess || fresh.isEmpty() ||
                !fresh[0].endsWith(QStringLiteral(", 失败")) || attempt == 4) {
                lines += fresh;
                return;
            }
        }
    };
    act("pbScanDev", true);
    act("pbOpenDev", true);
    act("pbGetDetName", true);
    act("pbStart", true);
    act("pbStop", false);
    const int beforeClose = logLines().size();
    debug->close();
    lines += logLines().mid(beforeClose);
    const QStringList expected = {
        QStringLiteral("扫描设备, 设备数量: 1"), QString::number(id),
        QStringLiteral("打开设备 %1, 成功").arg(id), QStringLiteral("查询探头名称, 成功"),
        QString::fromStdString(meter->Model().Identity().detName),
        QStringLiteral("启动传输, 成功"), QStringLiteral("   主窗口正在接收该设备的数据, 此处不显示"),
        QStringLiteral("停止传输, 失败"), QStringLiteral("   设备由主窗口打开, 继续传输"), QString(),
        QStringLiteral("关闭设备 %1, 失败").arg(id), QStringLiteral("   设备由主窗口打开, 保持打开")};
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(debug->isVisible());

    // The main window's meter stays open and its record goes on filling without a hole.
    EXPECT_EQ(isDevOpen(id), 1);
    StatBlock before;
    rec->GetStatistics(&before, nullptr, nullptr);
    ASSERT_TRUE(WaitUntil([&] {
        StatBlock now;
        rec->GetStatistics(&now, nullptr, nullptr);
        return now.statCount >= before.statCount + 20;
    }));
    StatBlock block;
    QVector<double> times, values;
    rec->GetStatistics(&block, &times, &values);
    for (int i = 1; i < times.size(); ++i)
        ASSERT_LT(times[i] - times[i - 1], 0.015) << "gap before sample " << i;
    // Values are in the unit the main window shows; the newest is also kept in nW.
    EXPECT_NEAR(static_cast<double>(rec->LatestRaw()), 25000.0, 250.0);
    ASSERT_FALSE(values.isEmpty());
    for (double v : values)
        ASSERT_NEAR(v, values.front(), std::fabs(values.front()) * 0.01);
}

}  // namespace
