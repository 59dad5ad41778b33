// The debug window as the program reaches it: from the main window's hidden debug button,
// on the meter that the main window streams.
#include "debugwidget.h"
#include "gui_fixture.h"

#include <tessivar/tessivar.h>

#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using guitest::Find;

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
    ASSERT_TRUE(Connect(id));
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    ASSERT_TRUE(rec);
    rec->StartStatistics(0, 0);  // keeps every sample from now on

    auto *debug = window->findChild<DebugWidget *>();
    ASSERT_NE(debug, nullptr);
    EXPECT_FALSE(debug->isVisible());
    Find<QPushButton>(window, "pbDebug")->click();  // hidden, but wired
    ASSERT_TRUE(QTest::qWaitFor([&] { return debug->isVisible(); }, guitest::kWaitMs));
    EXPECT_TRUE(debug->isWindow());
    EXPECT_EQ(debug->windowModality(), Qt::WindowModal);
    // Centred over the main window (a few pixels of frame either way).
    const MainWidget *main = window;  // checked once: QPointer may be null on every use
    ASSERT_NE(main, nullptr);
    EXPECT_LE((debug->geometry().center() - main->geometry().center()).manhattanLength(), 20);

    auto *log = Find<QTextBrowser>(debug, "textBrowser");
    // Actions that should succeed are pressed again when a reply missed its wait.
    QStringList lines;
    for (const char *name : {"pbScanDev", "pbOpenDev", "pbGetDetName", "pbStart"})
        lines += guitest::PressUntilAnswered(debug, name, log);
    const int beforeStop = guitest::LogLines(log).size();
    Find<QPushButton>(debug, "pbStop")->click();
    debug->close();
    lines += guitest::LogLines(log).mid(beforeStop);
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
    ASSERT_TRUE(QTest::qWaitFor([&] {
        StatBlock now;
        rec->GetStatistics(&now, nullptr, nullptr);
        return now.statCount >= before.statCount + 20;
    }, guitest::kWaitMs));
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
