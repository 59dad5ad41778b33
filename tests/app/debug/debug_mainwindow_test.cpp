// The debug window as the program reaches it: from the main window's hidden debug button,
// on the meter that the main window's worker streams. The worker keeps every sample, the
// debug window shows the worker's batches from the meter's record and gets its own answers,
// and leaving it leaves the meter open and streaming.
#include "debugwidget.h"
#include "gui_fixture.h"

#include <tessivar/tessivar.h>

#include <QPushButton>
#include <QRegularExpression>
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
    // The shared meter answers the debug window's own commands between the worker's.
    for (const char *name :
         {"pbScanDev", "pbOpenDev", "pbGetDetName", "pbGetDevName", "pbGetDetSerial",
          "pbGetBaseParam", "pbUpdateTime", "pbSetLevParam", "pbStart"})
        lines += guitest::PressUntilAnswered(debug, name, log);
    // The debug window's poll shows the worker's batches from the record, taking nothing.
    const QRegularExpression powerLine(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}, data num: (\\d+), value: (\\S+)$"));
    const int beforeStop = guitest::LogLines(log).size();
    const qint64 samplesBefore = rec->ArrivedSamples();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return guitest::LogLines(log).mid(beforeStop).filter(powerLine).size() >= 5; },
        guitest::kWaitMs));
    Find<QPushButton>(debug, "pbStop")->click();
    const qint64 samplesAtStop = rec->ArrivedSamples();
    debug->close();
    const QStringList powers = guitest::LogLines(log).mid(beforeStop).filter(powerLine);
    qint64 shown = 0;
    for (const QString &line : powers) {
        const auto m = powerLine.match(line);
        EXPECT_GE(m.captured(1).toInt(), 1) << line.toStdString();
        shown += m.captured(1).toInt();
        EXPECT_NEAR(m.captured(2).toDouble(), 25000.0, 250.0) << line.toStdString();
    }
    // The lines count the record's samples: none twice, none that did not reach it.
    EXPECT_LE(shown, samplesAtStop - samplesBefore);
    for (const QString &line : guitest::LogLines(log).mid(beforeStop))
        if (!powerLine.match(line).hasMatch())
            lines << line;
    const simmeter::MeterIdentity ident = meter->Model().Identity();
    const simmeter::BaseRecord base = meter->Model().GetCalibration().base;
    const QStringList expected = {
        QStringLiteral("扫描设备, 设备数量: 1"),
        QString::number(id),
        QStringLiteral("打开设备 %1, 成功").arg(id),
        QStringLiteral("查询探头名称, 成功"),
        QString::fromStdString(ident.detName),
        QStringLiteral("查询设备名称, 成功"),
        QString::fromStdString(ident.devName),
        QStringLiteral("查询探头序列号, 成功"),
        QString::fromStdString(ident.detSerial),
        QStringLiteral("查询基础参数, recv len: 8, 成功"),
        QStringLiteral("   起始波长: %1, 结束波长: %2").arg(base.startNm).arg(base.endNm),
        QStringLiteral("   阈值下限: %1, 阈值上限: %2").arg(base.adcLow).arg(base.adcHigh),
        QStringLiteral("设置时间: 24-05-08 week 3 10-44-00, 成功"),
        QStringLiteral("设置档位校准参数, 成功"),
        QStringLiteral("启动传输, 成功"),
        QStringLiteral("   主窗口正在接收该设备的数据, 此处显示其记录的数值"),
        QStringLiteral("停止传输, 失败"),
        QStringLiteral("   设备由主窗口打开, 继续传输"),
        QString(),
        QStringLiteral("关闭设备 %1, 失败").arg(id),
        QStringLiteral("   设备由主窗口打开, 保持打开")};
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(debug->isVisible());

    // The main window's meter stays open and its record goes on filling without a hole.
    EXPECT_EQ(isDevOpen(id), 1);
    EXPECT_TRUE(meter->IsStreaming());
    StatBlock before;
    rec->GetStatistics(&before, nullptr, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            StatBlock now;
            rec->GetStatistics(&now, nullptr, nullptr);
            return now.statCount >= before.statCount + 20;
        },
        guitest::kWaitMs));
    StatBlock block;
    QVector<double> times, values;
    rec->GetStatistics(&block, &times, &values);
    ASSERT_GE(times.size(), 40);
    for (int i = 1; i < times.size(); ++i)
        ASSERT_LT(times[i] - times[i - 1], 0.015) << "gap before sample " << i;
    // Values are in the unit the main window shows; the newest is also kept in nW.
    EXPECT_NEAR(static_cast<double>(rec->LatestRaw()), 25000.0, 250.0);
    ASSERT_FALSE(values.isEmpty());
    for (double v : values)
        ASSERT_NEAR(v, values.front(), std::fabs(values.front()) * 0.01);
}

}  // namespace
