// The settings panel against a simulated meter connected through the main window: what
// the panel sends reaches the meter, what the meter holds reaches the panel.
#include "gui_fixture.h"

#include "datawidget.h"
#include "numdata.h"
#include "runview.h"

#include "simmeter/calibration.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <set>

using namespace guitest;

namespace {

class MeterPanel : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        simmeter::MeterConfig cfg;
        cfg.signal.powerNw = 2000;
        meter = Plug(1, cfg);
        StartWindow();
        ASSERT_TRUE(Connect(id, 40000));
        page = Find<DataWidget>(window, "pageData");
        ASSERT_TRUE(page);
    }
    simmeter::MeterModel &Model() { return meter->Model(); }
    QLabel *Status() const { return Find<QLabel>(window, "label_msg"); }
    void Drop(std::set<uint16_t> codes, int remaining = -1)
    {
        simmeter::FaultConfig f;
        f.dropCodes = std::move(codes);
        f.dropRemaining = remaining;
        meter->SetFaults(f);
    }
    // What a recording started now writes into its header.
    QString RecordingHeader() const
    {
        datafile::HeaderInfo info;
        runview::FillIdentity(id, &info);
        return datafile::Header(datafile::Variant::Recording, info);
    }

    const int id = IdOfPort(1);
    Meter meter;
    DataWidget *page = nullptr;
};

TEST_F(MeterPanel, WavelengthAndAveragingReachTheMeter)
{
    auto *wave = Find<QSpinBox>(page, "sbWaveLen");
    auto *average = Find<QSpinBox>(page, "sbAve");
    wave->setValue(1310);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Model().SampleWavelength() == 1310; }, guitest::kWaitMs));
    average->setValue(16);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Model().Average() == 16; }, guitest::kWaitMs));
}

// A setting the meter loses: the panel, the record and the next file header show what the
// meter still uses, and the status line says so.
TEST_F(MeterPanel, SettingsTheMeterLosesShowWhatItUses)
{
    struct Case {
        const char *box;
        uint16_t code;
        int used, asked;
        const char *message, *headerLine;
    };
    const Case cases[] = {
        {"sbWaveLen", simmeter::cmd::kSetSampleWavelength, 850, 1000,
         "波长设置失败，设备仍使用850nm", "波长:,850\n"},
        {"sbAve", simmeter::cmd::kSetAverage, 4, 16, "平均次数设置失败，设备仍使用4",
         "平均次数:,4\n"},
    };
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    ASSERT_TRUE(rec);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.box);
        auto *box = Find<QSpinBox>(page, c.box);
        const auto recorded = [&] {
            return c.code == simmeter::cmd::kSetAverage ? int(rec->average.load())
                                                        : int(rec->waveLen.load());
        };
        box->setValue(c.used);
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorded() == c.used; }, kWaitMs));
        meter->ClearReceived();
        Drop({c.code});
        box->setValue(c.asked);
        const QString message = QString::fromUtf8(c.message);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return Status()->text() == message && box->value() == c.used; }, kWaitMs))
            << Status()->text().toStdString() << " " << box->value();
        EXPECT_EQ(recorded(), c.used);
        EXPECT_EQ(Model().ReceivedCount(c.code), std::size_t{OpticalDev::kAttempts});
        EXPECT_TRUE(RecordingHeader().contains(QString::fromUtf8(c.headerLine)))
            << RecordingHeader().toStdString();
        meter->SetFaults({});
        Status()->clear();
    }
    // Showing the meter's value sent nothing further.
    EXPECT_EQ(Model().SampleWavelength(), 850);
    EXPECT_EQ(Model().Average(), 4);
}

TEST_F(MeterPanel, ASettingLostOnceIsSentAgainAndTaken)
{
    Drop({simmeter::cmd::kSetSampleWavelength}, 1);
    Find<QSpinBox>(page, "sbWaveLen")->setValue(1310);
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rec->waveLen.load() == 1310.0f; }, kWaitMs));
    EXPECT_EQ(Model().SampleWavelength(), 1310);
    EXPECT_GE(Model().ReceivedCount(simmeter::cmd::kSetSampleWavelength), 2u);
    EXPECT_EQ(Find<QSpinBox>(page, "sbWaveLen")->value(), 1310);
    EXPECT_TRUE(Status()->text().isEmpty()) << Status()->text().toStdString();
}

TEST_F(MeterPanel, ConnectionChangeLoadsTheMetersSettingsAndCalibrationDate)
{
    page->slot_devChanged();
    EXPECT_EQ(Find<QLineEdit>(page, "lineEdit_calibDate")->text(),
              QString::fromStdString(Model().GetCalibration().date));
    EXPECT_EQ(Find<QSpinBox>(page, "sbWaveLen")->value(), Model().SampleWavelength());
    EXPECT_EQ(Find<QSpinBox>(page, "sbAve")->value(), std::max<int>(1, Model().Average()));
}

TEST_F(MeterPanel, NumbersFollowTheMeter)
{
    auto *data = Find<QLabel>(page->NumView(), "lbData");
    // 2000 nW with noise: automatic ranging picks 5 μW.
    EXPECT_TRUE(QTest::qWaitFor([&] { return data->text().endsWith(QString::fromUtf8("μW")); },
                                guitest::kWaitMs));
}

TEST_F(MeterPanel, ZeroCompensationWithNoSendsNothing)
{
    meter->ClearReceived();
    AnswerMessageBox(QMessageBox::No);
    Click(Find<QPushButton>(page, "pbCaliReset"));
    EXPECT_EQ(Model().ReceivedCount(simmeter::cmd::kSetZeroOffset), 0u);
    EXPECT_EQ(Model().ZeroOffset(), 0.0);
}

TEST_F(MeterPanel, ZeroCompensationWithYesTakesTheReadingAsZero)
{
    QString title, text;
    AnswerNext<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
        box->button(QMessageBox::Yes)->click();
    });
    Click(Find<QPushButton>(page, "pbCaliReset"));
    EXPECT_EQ(title, QString::fromUtf8("归零补偿"));
    EXPECT_EQ(text, QString::fromUtf8("请在覆盖探头之后点击(Yes)按钮。"));
    EXPECT_GE(Model().ReceivedCount(simmeter::cmd::kSetZeroOffset), 1u);  // 2 or 3: a lost reply
    EXPECT_GT(Model().ZeroOffset(), 1000.0);  // about the 2000 nW the probe sees
    EXPECT_NEAR(Find<QDoubleSpinBox>(page, "dsbZeroComp")->value(), Model().ZeroOffset(), 0.01);
}

TEST_F(MeterPanel, ZeroCompensationTheMeterLosesIsReported)
{
    Drop({simmeter::cmd::kSetZeroOffset});
    AnswerMessageBox(QMessageBox::Yes);
    Click(Find<QPushButton>(page, "pbCaliReset"));
    EXPECT_EQ(Status()->text(), QString::fromUtf8("归零补偿失败，设备的零点补偿仍为0nw"));
    EXPECT_EQ(Model().ZeroOffset(), 0.0);
    EXPECT_EQ(Find<QDoubleSpinBox>(page, "dsbZeroComp")->value(), 0.0);
}

TEST_F(MeterPanel, LoadedWavelengthTheMeterLosesIsReported)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("m.ini");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[dataConfig]\nwaveLength=1550\naverageTime=8\n");
    }
    Drop({simmeter::cmd::kSetSampleWavelength});
    AnswerFileDialog(path);
    page->LoadConfig();
    auto *wave = Find<QSpinBox>(page, "sbWaveLen");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Model().Average() == 8; }, kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Status()->text() == QString::fromUtf8("波长设置失败，设备仍使用532nm") &&
                   wave->value() == 532;
        },
        kWaitMs))
        << Status()->text().toStdString() << " " << wave->value();
    EXPECT_EQ(Find<QSpinBox>(page, "sbAve")->value(), 8);
    EXPECT_EQ(Model().SampleWavelength(), 532);
}

TEST_F(MeterPanel, LoadedSettingsReachTheMeterWithinTheirLimits)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("m.ini");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[dataConfig]\nwaveLength=1550\naverageTime=0\n");
    }
    AnswerFileDialog(path);
    page->LoadConfig();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Model().SampleWavelength() == 1550; }, guitest::kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Model().Average() == 1; },
                                guitest::kWaitMs));  // 0 clamped to 1
}

}  // namespace
