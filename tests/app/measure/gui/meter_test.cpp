// The settings panel against a simulated meter connected through the main window: what
// the panel sends reaches the meter, what the meter holds reaches the panel.
#include "gui_fixture.h"

#include "datawidget.h"
#include "numdata.h"

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
    EXPECT_EQ(Model().ReceivedCount(simmeter::cmd::kSetZeroOffset), 1u);
    EXPECT_GT(Model().ZeroOffset(), 1000.0);  // about the 2000 nW the probe sees
    EXPECT_NEAR(Find<QDoubleSpinBox>(page, "dsbZeroComp")->value(), Model().ZeroOffset(), 0.01);
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
