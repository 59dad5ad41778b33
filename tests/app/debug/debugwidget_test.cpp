// The production debug window against a simulated meter, driven by object name: what the
// log shows, what reaches the meter, and what a fresh open reads back.
#include "calibtables.h"
#include "debugwidget.h"
#include "gui_helpers.h"

#include "simmeter/testing.h"

#include <tessivar/tessivar.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <functional>
#include <memory>

// Readable failure messages for Qt's strings.
static void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
static void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << "{";
    for (const QString &s : l)
        *os << "\n  \"" << s.toStdString() << '"';
    *os << " }";
}

namespace {

using simmeter::cmd::kSetSpecParam;

constexpr int kId = 3 << 24;  // the library's id of the meter on port chain "1-3"
const QString kIdText = QString::number(kId);

class DebugWindowTest : public simmeter::testing::SimMeterTest {
protected:
    void SetUp() override
    {
        win = new DebugWidget(nullptr);
        win->show();
    }

    void TearDown() override
    {
        if (win) {
            win->close();  // closes what the window opened
            delete win;
        }
        SimMeterTest::TearDown();
    }

    template <class T>
    T *W(const char *name)
    {
        T *w = guitest::Find<T>(win, name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Clicks a button whose action is expected to succeed, pressing again when a reply
    // missed its wait (guitest::PressUntilAnswered); the repeated attempts' lines are left
    // out of NewLines(). A persistent failure still shows.
    void Press(const char *name)
    {
        const int before = Log().size();
        int kept = before;
        guitest::PressUntilAnswered(win, name, W<QTextBrowser>("textBrowser"), &kept);
        for (int i = before; i < kept; ++i)
            retried.insert(i);
    }
    // Clicks once, for actions expected to fail.
    void PressOnce(const char *name)
    {
        QPushButton *b = W<QPushButton>(name);
        ASSERT_TRUE(b != nullptr && b->isEnabled()) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    void Type(const char *name, const QString &text)
    {
        // One key press per character, carrying the character as its text, as a keyboard
        // or an input method delivers it (QTest::keyClicks takes Latin-1 only).
        QLineEdit *e = W<QLineEdit>(name);
        e->clear();
        e->setFocus();
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

    QStringList Log() { return guitest::LogLines(W<QTextBrowser>("textBrowser")); }
    // The log lines added since the last call.
    QStringList NewLines()
    {
        const QStringList all = Log();
        QStringList fresh;
        for (int i = seen; i < all.size(); ++i) {
            if (!retried.contains(i))
                fresh << all[i];
        }
        seen = all.size();
        return fresh;
    }

    // A meter whose probe covers 400 to 1100 nm unless the test gives a calibration, so
    // that the library's starting wavelength (532 nm) lies in its range and both sides
    // use the same spectral coefficient.
    std::shared_ptr<simmeter::SimMeter> PlugMeter(simmeter::MeterConfig cfg = {})
    {
        if (!cfg.calibration) {
            simmeter::Calibration c = simmeter::DefaultCalibration();
            c.base.startNm = 400;
            c.base.endNm = 1100;
            cfg.calibration = c;
        }
        cfg.signal.noiseRel = 0;
        cfg.signal.powerNw = 25000;
        return Plug("1-3", std::move(cfg));
    }

    // Scan, open the meter and wait until the library has its calibration.
    void OpenMeter()
    {
        Press("pbScanDev");
        ASSERT_EQ(W<QComboBox>("cbDevice")->currentText(), kIdText);
        Press("pbOpenDev");
        ASSERT_TRUE(QTest::qWaitFor([] { return isInited(kId) == 1; }, guitest::kWaitMs));
        NewLines();
    }

    void CloseAndReopen()
    {
        Press("pbCloseDev");
        Press("pbOpenDev");
        ASSERT_TRUE(QTest::qWaitFor([] { return isInited(kId) == 1; }, guitest::kWaitMs));
        NewLines();
    }

    QTimer *PollTimer()
    {
        for (QTimer *t : win->findChildren<QTimer *>()) {
            if (t->parent() == win)
                return t;
        }
        return nullptr;
    }

    DebugWidget *win = nullptr;  // owned by the fixture, deleted in TearDown
    int seen = 0;
    QSet<int> retried;  // log lines of repeated attempts
};

TEST_F(DebugWindowTest, FormAsDescribed)
{
    EXPECT_EQ(win->windowTitle(), QStringLiteral("光功率计生产调试模式"));
    EXPECT_EQ(win->size(), QSize(888, 604));
    EXPECT_TRUE(win->isWindow());
    EXPECT_EQ(win->windowModality(), Qt::WindowModal);

    // Buttons and labels by their text, group boxes by their title.
    const struct {
        const char *name;
        const char *text;
    } texts[] = {{"pbCloseDev", "关闭"},
                 {"pbScanDev", "扫描设备"},
                 {"pbStop", "停止"},
                 {"pbStart", "启动"},
                 {"pbOpenDev", "打开"},
                 {"pbGetSpec", "读取"},
                 {"pbSetSpec", "设置波长"},
                 {"pbSetAve", "设置平均"},
                 {"pbIsDevOpen", "设备是否打开"},
                 {"pbIsInited", "初始化状态"},
                 {"pbUpdateTime", "更新时间"},
                 {"pbGetDevSerial", "设备序列号"},
                 {"pbGetDevName", "设备名称"},
                 {"pbGetDetSerial", "探头序列号"},
                 {"pbGetDetName", "探头名称"},
                 {"pbGetDetVer", "探头版本"},
                 {"pbGetSpecParam", "光谱校准参数"},
                 {"pbGetLevParam", "档位校准参数"},
                 {"pbGetBaseParam", "基础参数"},
                 {"pbLevFile", "..."},
                 {"pbSetLevParam", "档位校准"},
                 {"pbSpecFile", "..."},
                 {"pbSetSpecParam", "光谱校准"},
                 {"pbSaveParam", "保存参数"},
                 {"lbWaveLen", "波长"},
                 {"lbAve", "平均次数"},
                 {"lbStartSpec", "起始波长"},
                 {"lbEndSpec", "结束波长"},
                 {"lbHighThres", "阈值上限"},
                 {"lbLowThres", "阈值下限"},
                 {"gbStatus", "状态查询"},
                 {"gbGetInfo", "设备信息查询"},
                 {"gbSetInfo", "设备信息设置"},
                 {"gbGetParam", "参数查询"},
                 {"gbBaseParam", "基础参数设置"},
                 {"gbLevParam", "档位校准参数设置"},
                 {"gbSpecParam", "光谱校准参数设置"}};
    for (const auto &t : texts) {
        QWidget *w = W<QWidget>(t.name);
        ASSERT_TRUE(qobject_cast<QPushButton *>(w) || qobject_cast<QLabel *>(w) ||
                    qobject_cast<QGroupBox *>(w))
            << t.name;
        const char *property = qobject_cast<QGroupBox *>(w) ? "title" : "text";
        EXPECT_EQ(w->property(property).toString(), QString::fromUtf8(t.text)) << t.name;
    }
    for (const char *name :
         {"pbSetDevName", "pbSetDevSerial", "pbSetDetName", "pbSetDetSerial", "pbSetBaseParam"})
        EXPECT_NE(W<QPushButton>(name), nullptr);
    for (const char *name :
         {"leDevName", "leDevSerial", "leDetName", "leDetSerial", "leLevFile", "leSpecFile"})
        EXPECT_NE(W<QLineEdit>(name), nullptr) << name;

    const struct {
        const char *name;
        int min, max, value;
    } spins[] = {
        {"dsWaveLen", 0, 9999, 0},       {"sbAve", 1, 100, 10},      {"sbYear", 0, 99, 24},
        {"sbMonth", 1, 12, 5},           {"sbDayOfMonth", 1, 31, 8}, {"sbDayOfWeek", 1, 7, 3},
        {"sbHour", 0, 23, 10},           {"sbMinute", 0, 59, 44},    {"sbSecond", 0, 59, 0},
        {"sbStartSpec", 0, 65535, 0},    {"sbEndSpec", 0, 65535, 0}, {"sbLowThres", 0, 65535, 0},
        {"sbHighThres", 0, 65535, 65535}};
    for (const auto &s : spins) {
        QSpinBox *w = W<QSpinBox>(s.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->minimum(), s.min) << s.name;
        EXPECT_EQ(w->maximum(), s.max) << s.name;
        EXPECT_EQ(w->value(), s.value) << s.name;
    }

    for (QPushButton *b : win->findChildren<QPushButton *>())
        EXPECT_EQ(b->height(), 25) << b->objectName().toStdString();
    for (QLabel *l : win->findChildren<QLabel *>())
        EXPECT_EQ(l->height(), 25) << l->objectName().toStdString();
    EXPECT_FALSE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("pbCloseDev")->isEnabled());
}

TEST_F(DebugWindowTest, ScanOpenAndCloseSetTheButtons)
{
    Press("pbScanDev");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("扫描设备, 设备数量: 0")}));
    EXPECT_FALSE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_EQ(W<QComboBox>("cbDevice")->count(), 0);

    auto meter = PlugMeter();
    Press("pbScanDev");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("扫描设备, 设备数量: 1"), kIdText}));
    EXPECT_TRUE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("pbCloseDev")->isEnabled());

    Press("pbOpenDev");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("打开设备 %1, 成功").arg(kId)}));
    EXPECT_FALSE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_TRUE(W<QPushButton>("pbCloseDev")->isEnabled());
    Press("pbIsDevOpen");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设备是否打开: 1")}));
    ASSERT_TRUE(QTest::qWaitFor([] { return isInited(kId) == 1; }, guitest::kWaitMs));
    Press("pbIsInited");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设备是否初始化: 1")}));

    Press("pbCloseDev");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("关闭设备 %1, 成功").arg(kId)}));
    EXPECT_TRUE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("pbCloseDev")->isEnabled());
    EXPECT_TRUE(simmeter::testing::WaitFor([&] { return !meter->IsOpenByHost(); }));
    Press("pbIsDevOpen");  // the id is -1 now
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设备是否打开: -1")}));
}

TEST_F(DebugWindowTest, IdentityWritesReadBack)
{
    auto meter = PlugMeter();
    OpenMeter();
    const struct {
        const char *edit, *set, *get, *text, *setLog, *getLog;
    } rows[] = {
        {"leDevName", "pbSetDevName", "pbGetDevName", "OPM Bench #2", "设置设备名称",
         "查询设备名称"},
        {"leDevSerial", "pbSetDevSerial", "pbGetDevSerial", "S110-000123-REV.B", "设置设备序列号",
         "查询设备序列号"},
        {"leDetName", "pbSetDetName", "pbGetDetName", "SPD-1100 InGaAs", "设置探头名称",
         "查询探头名称"},
        {"leDetSerial", "pbSetDetSerial", "pbGetDetSerial", "D-2601-0042/16ch", "设置探头序列号",
         "查询探头序列号"},
    };
    for (const auto &r : rows) {
        Type(r.edit, QString::fromLatin1(r.text));
        Press(r.set);
        EXPECT_EQ(NewLines(),
                  QStringList({QString::fromUtf8(r.setLog) + QStringLiteral(", 成功")}));
        Press(r.get);
        EXPECT_EQ(NewLines(), QStringList({QString::fromUtf8(r.getLog) + QStringLiteral(", 成功"),
                                           QString::fromLatin1(r.text)}));
    }
    const simmeter::MeterIdentity id = meter->Model().Identity();
    EXPECT_EQ(id.devName, "OPM Bench #2");
    EXPECT_EQ(id.detSerial, "D-2601-0042/16ch");  // all 16 characters of its field

    Press("pbGetDetVer");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("查询探头版本, 成功"),
                                       QString::fromStdString(id.version)}));

    // An empty serial goes out as a zero-length text; the meter then has nothing to send.
    W<QLineEdit>("leDevSerial")->clear();
    meter->ClearReceived();
    Press("pbSetDevSerial");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置设备序列号, 成功")}));
    EXPECT_EQ(meter->Model().Identity().devSerial, "");
    PressOnce("pbGetDevSerial");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("查询设备序列号, 失败")}));
}

// The meter holds printable ASCII cut to its fields; the editors take nothing else, so the
// text logged as written is the text read back.
TEST_F(DebugWindowTest, IdentityEditorsTakeOnlyWhatTheMeterHolds)
{
    auto meter = PlugMeter();
    OpenMeter();
    Type("leDetName", QStringLiteral("探头A-1é"));
    EXPECT_EQ(W<QLineEdit>("leDetName")->text(), QStringLiteral("A-1"));
    Type("leDevName", QString(40, QLatin1Char('n')));
    EXPECT_EQ(W<QLineEdit>("leDevName")->text(), QString(32, QLatin1Char('n')));
    Type("leDetSerial", QStringLiteral("0123456789ABCDEFGHIJ"));
    EXPECT_EQ(W<QLineEdit>("leDetSerial")->text(), QStringLiteral("0123456789ABCDEF"));
    Type("leDevSerial", QStringLiteral("S\t1"));
    EXPECT_EQ(W<QLineEdit>("leDevSerial")->text(), QStringLiteral("S1"));

    Press("pbSetDetSerial");
    Press("pbGetDetSerial");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置探头序列号, 成功"),
                                       QStringLiteral("查询探头序列号, 成功"),
                                       QStringLiteral("0123456789ABCDEF")}));

    // Text put into an editor behind the validator's back is not sent at all.
    const std::string before = meter->Model().Identity().detName;
    W<QLineEdit>("leDetName")->setText(QStringLiteral("探头"));
    meter->ClearReceived();
    PressOnce("pbSetDetName");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置探头名称, 失败")}));
    EXPECT_EQ(meter->Model().ReceivedCount(simmeter::cmd::kWriteDetName), 0u);
    EXPECT_EQ(meter->Model().Identity().detName, before);
}

TEST_F(DebugWindowTest, BaseParametersWrittenSavedAndReadAfterReopen)
{
    auto meter = PlugMeter();
    OpenMeter();
    const simmeter::BaseRecord b = meter->Model().GetCalibration().base;
    Press("pbGetBaseParam");
    EXPECT_EQ(NewLines(),
              QStringList(
                  {QStringLiteral("查询基础参数, recv len: 8, 成功"),
                   QStringLiteral("   起始波长: %1, 结束波长: %2").arg(b.startNm).arg(b.endNm),
                   QStringLiteral("   阈值下限: %1, 阈值上限: %2").arg(b.adcLow).arg(b.adcHigh)}));

    W<QSpinBox>("sbStartSpec")->setValue(800);
    W<QSpinBox>("sbEndSpec")->setValue(1700);
    W<QSpinBox>("sbLowThres")->setValue(1000);
    W<QSpinBox>("sbHighThres")->setValue(50000);
    Press("pbSetBaseParam");
    Press("pbSaveParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置基础参数, 成功"),
                                       QStringLiteral("保存参数, 成功")}));
    EXPECT_GE(meter->Model().SaveCount(), 1);
    const simmeter::BaseRecord saved = meter->Model().SavedCalibration().base;
    EXPECT_EQ(saved.startNm, 800);
    EXPECT_EQ(saved.endNm, 1700);
    EXPECT_EQ(saved.adcLow, 1000);
    EXPECT_EQ(saved.adcHigh, 50000);
    EXPECT_EQ(saved.detectorType, b.detectorType);  // an 8-byte write keeps the type

    CloseAndReopen();
    Press("pbGetBaseParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("查询基础参数, recv len: 8, 成功"),
                                       QStringLiteral("   起始波长: 800, 结束波长: 1700"),
                                       QStringLiteral("   阈值下限: 1000, 阈值上限: 50000")}));
    int start = 0, end = 0;
    EXPECT_EQ(getWaveRange(kId, &start, &end), 0);  // the library calibrates from it
    EXPECT_EQ(end, 1700);
}

TEST_F(DebugWindowTest, BaseParameterReadFailureShowsNoValues)
{
    simmeter::MeterConfig cfg;
    cfg.faults.shortBaseParam = true;  // the probe never completes its calibration set
    auto meter = PlugMeter(cfg);
    Press("pbScanDev");
    Press("pbOpenDev");
    NewLines();
    PressOnce("pbGetBaseParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("查询基础参数, recv len: -4, 失败")}));
    PressOnce("pbGetLevParam");
    const QStringList lev = NewLines();
    ASSERT_EQ(lev.size(), 9);
    EXPECT_EQ(lev[0], QStringLiteral("查询档位校准参数, recv len: -4, 失败"));
    EXPECT_EQ(lev[1], QStringLiteral("   档位1, K: 0, B: 0"));
}

TEST_F(DebugWindowTest, LevelTableWrittenAndReadBack)
{
    simmeter::MeterConfig cfg;
    simmeter::Calibration c = simmeter::DefaultCalibration();
    c.base.startNm = 400;
    c.base.endNm = 1100;
    for (auto &r : c.level.ranges)
        r.k *= 2;  // a probe calibrated differently before
    cfg.calibration = c;
    auto meter = PlugMeter(cfg);
    OpenMeter();
    Press("pbGetLevParam");
    EXPECT_EQ(NewLines().value(1).section(QLatin1Char('\n'), 0, 0),
              QStringLiteral("   档位1, K: 0.001, B: -24.4145"));

    Press("pbSetLevParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置档位校准参数, 成功")}));
    EXPECT_EQ(meter->Model().GetCalibration().level, simmeter::DefaultLevelRecord());

    CloseAndReopen();
    Press("pbGetLevParam");
    const QStringList expected = {QStringLiteral("查询档位校准参数, recv len: 128, 成功"),
                                  QStringLiteral("   档位1, K: 0.0005, B: -24.4145"),
                                  QStringLiteral("   档位2, K: 0.00273, B: -4.7567"),
                                  QStringLiteral("   档位3, K: 0.0173, B: -36.96"),
                                  QStringLiteral("   档位4, K: 0.0005, B: -24.4145"),
                                  QStringLiteral("   档位5, K: 0.00273, B: -4.7567"),
                                  QStringLiteral("   档位6, K: 0.0173, B: -36.96"),
                                  QStringLiteral("   档位7, K: 0.1154, B: -119.81"),
                                  QStringLiteral("   档位8, K: 0.7218, B: -375.32")};
    EXPECT_EQ(NewLines(), expected);
}

TEST_F(DebugWindowTest, SpectralTableGoesInNineChunksAndReadsBackAs701Pairs)
{
    simmeter::MeterConfig cfg;
    simmeter::Calibration c = simmeter::DefaultCalibration();
    c.base.startNm = 400;
    c.base.endNm = 1100;
    c.spectral.entries = {{400, 0.5f}, {700, 0.75f}, {1100, 1.0f}};
    cfg.calibration = c;
    auto meter = PlugMeter(cfg);
    OpenMeter();
    Press("pbGetSpecParam");
    EXPECT_EQ(NewLines().mid(0, 2),
              QStringList({QStringLiteral("查询光谱校准参数, recv len: 18, 成功"),
                           QStringLiteral("   波长/系数对个数: 3")}));

    meter->ClearReceived();
    Press("pbSetSpecParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置光谱校准参数, 成功")}));
    std::vector<simmeter::Bytes> chunks;
    for (const auto &f : meter->Received()) {
        if (f.code == kSetSpecParam)
            chunks.push_back(f.payload);
    }
    ASSERT_GE(chunks.size(), 9u);  // nine per attempt; the last attempt counts
    chunks.erase(chunks.begin(), chunks.end() - 9);
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].size(), i < 8 ? 4u + 6 * 80 : 4u + 6 * 61) << i;
        EXPECT_EQ(simmeter::wire::GetU16(chunks[i].data()), 701);
        EXPECT_EQ(simmeter::wire::GetU16(chunks[i].data() + 2), 80 * i);
    }
    const auto &table = meter->Model().GetCalibration().spectral.entries;
    const auto &simDefault = simmeter::DefaultSpectralTable().entries;
    const QVector<calib::SpectralEntry> &builtIn = calib::BuiltInSpectralTable();
    ASSERT_EQ(table.size(), 701u);
    for (int i = 0; i < 701; ++i) {
        ASSERT_EQ(table[i].nm, builtIn[i].nm);
        ASSERT_EQ(table[i].coef, builtIn[i].coef);
        // Made the same way as the simulated probe's own table: writing it changes no reading.
        ASSERT_EQ(simDefault[i].coef, builtIn[i].coef) << builtIn[i].nm;
    }

    CloseAndReopen();
    Press("pbGetSpecParam");
    const QStringList lines = NewLines();
    ASSERT_EQ(lines.size(), 2 + 701);
    EXPECT_EQ(lines[0], QStringLiteral("查询光谱校准参数, recv len: 4206, 成功"));
    EXPECT_EQ(lines[1], QStringLiteral("   波长/系数对个数: 701"));
    EXPECT_EQ(lines[2], QStringLiteral("   Index:0, 波长: 400, 系数: 0.354"));
    EXPECT_EQ(lines[2 + 564], QStringLiteral("   Index:564, 波长: 964, 系数: 1"));
    EXPECT_EQ(lines[2 + 700], QStringLiteral("   Index:700, 波长: 1100, 系数: 0.1812"));
}

TEST_F(DebugWindowTest, AFailedSpectralChunkDoesNotStopTheOthers)
{
    auto meter = PlugMeter();
    OpenMeter();
    simmeter::FaultConfig f;
    f.badStatus = 1;
    f.badStatusCodes = {kSetSpecParam};  // refused replies: the library times out
    meter->SetFaults(f);
    meter->ClearReceived();
    PressOnce("pbSetSpecParam");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置光谱校准参数, 失败")}));
    // The last chunk may still be on its way when its wait has run out.
    EXPECT_TRUE(simmeter::testing::WaitFor(
        [&] { return meter->Model().ReceivedCount(kSetSpecParam) == 9u; }));
    EXPECT_EQ(meter->Model().ReceivedCount(kSetSpecParam), 9u);
}

TEST_F(DebugWindowTest, ClockWavelengthAndAverage)
{
    auto meter = PlugMeter();
    PressOnce("pbSetSpec");  // no meter opened here yet: the call fails in the library
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置波长: 0, 失败")}));
    OpenMeter();

    Press("pbUpdateTime");
    EXPECT_EQ(NewLines(),
              QStringList({QStringLiteral("设置时间: 24-05-08 week 3 10-44-00, 成功")}));
    ASSERT_TRUE(meter->Model().LastSetTime());
    const simmeter::MeterTime t = *meter->Model().LastSetTime();
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.weekday, t.hour, t.minute, t.second}),
              std::vector<int>({24, 5, 8, 3, 10, 44, 0}));

    W<QSpinBox>("dsWaveLen")->setValue(1310);
    Press("pbSetSpec");
    W<QSpinBox>("sbAve")->setValue(25);
    Press("pbSetAve");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置波长: 1310, 成功"),
                                       QStringLiteral("设置平均次数: 25, 成功")}));
    EXPECT_EQ(meter->Model().SampleWavelength(), 1310);
    EXPECT_EQ(meter->Model().Average(), 25);

    W<QSpinBox>("dsWaveLen")->setValue(0);
    Press("pbGetSpec");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("读取波长(0): 1310, 成功")}));
    EXPECT_EQ(W<QSpinBox>("dsWaveLen")->value(), 1310);
}

TEST_F(DebugWindowTest, PowerPollRunsBetweenStartAndStop)
{
    auto meter = PlugMeter();
    OpenMeter();
    // Meter and library agree on the wavelength (the library keeps its own across opens).
    W<QSpinBox>("dsWaveLen")->setValue(532);
    Press("pbSetSpec");
    Press("pbStart");
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("设置波长: 532, 成功"),
                                       QStringLiteral("启动传输, 成功")}));
    ASSERT_NE(PollTimer(), nullptr);
    EXPECT_TRUE(PollTimer()->isActive());
    EXPECT_EQ(PollTimer()->interval(), 30);

    const QRegularExpression data(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}, data num: (\\d+), value: (\\S+)$"));
    QStringList got;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            got += NewLines();
            return got.size() >= 3;
        },
        guitest::kWaitMs));
    for (const QString &line : got) {
        const auto m = data.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_GE(m.captured(1).toInt(), 1);
        EXPECT_LE(m.captured(1).toInt(), 30);
        EXPECT_NEAR(m.captured(2).toDouble(), 25000.0, 250.0);
    }

    Press("pbStop");
    const QStringList stop = NewLines();
    ASSERT_GE(stop.size(), 2);
    EXPECT_EQ(stop.mid(stop.size() - 2),
              QStringList({QStringLiteral("停止传输, 成功"), QString()}));
    EXPECT_FALSE(PollTimer()->isActive());
    EXPECT_TRUE(simmeter::testing::WaitFor([&] { return !meter->IsStreaming(); }));
}

TEST_F(DebugWindowTest, ClosingTheWindowClosesTheMeter)
{
    auto meter = PlugMeter();
    OpenMeter();
    Press("pbStart");
    NewLines();
    win->close();
    EXPECT_EQ(NewLines().filter(QStringLiteral("关闭设备")),
              QStringList({QStringLiteral("关闭设备 %1, 成功").arg(kId)}));
    EXPECT_EQ(isDevOpen(kId), 0);
    EXPECT_TRUE(W<QPushButton>("pbOpenDev")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("pbCloseDev")->isEnabled());
    EXPECT_FALSE(PollTimer()->isActive());
    EXPECT_TRUE(simmeter::testing::WaitFor([&] { return !meter->IsOpenByHost(); }));
}

TEST_F(DebugWindowTest, ChosenFilesAreOnlyRecorded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("levels.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    QString caption;
    guitest::AnswerFileDialog(path, &caption);
    Press("pbLevFile");
    EXPECT_EQ(caption, QStringLiteral("选择档位校准文件"));
    EXPECT_EQ(NewLines(), QStringList({QStringLiteral("选择档位校准文件: %1").arg(path)}));
    EXPECT_EQ(W<QLineEdit>("leLevFile")->text(), path);

    guitest::AnswerFileDialogCancel(&caption);
    Press("pbSpecFile");
    EXPECT_EQ(caption, QStringLiteral("选择光谱校准文件"));
    EXPECT_TRUE(NewLines().isEmpty());
    EXPECT_TRUE(W<QLineEdit>("leSpecFile")->text().isEmpty());
}

// A picture of the window after a short session, for a person to look at: runs only when
// QUORVEX_SCREENSHOT_DIR names a directory (e.g. under xvfb-run with a CJK font).
TEST_F(DebugWindowTest, Screenshot)
{
    const QString dir = qEnvironmentVariable("QUORVEX_SCREENSHOT_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "QUORVEX_SCREENSHOT_DIR not set";
    auto meter = PlugMeter();
    OpenMeter();
    Press("pbGetDevName");
    Press("pbGetBaseParam");
    Press("pbGetLevParam");
    Press("pbUpdateTime");
    Type("leDevName", QStringLiteral("OPM-S110"));
    const QImage shot = win->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(888, 604) * win->devicePixelRatioF());
    EXPECT_TRUE(shot.save(dir + QStringLiteral("/debug-window.png")));
}

}  // namespace
