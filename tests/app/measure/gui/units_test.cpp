// The display unit of the measurement page (W, dBm, dB against a reference) on every view,
// against a record fed by hand so that every figure is known exactly.
#include "page_support.h"

#include "curvedata.h"
#include "datasetting.h"
#include "numdata.h"
#include "pointerdata.h"
#include "pointerdialwidget.h"
#include "statisticdata.h"

#include "qcustomplot.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>

namespace {

using guitest::Find;

class UnitsTest : public measuretest::DataPageTest {
protected:
    void SetUp() override
    {
        DataPageTest::SetUp();
        units = Find<QComboBox>(page.get(), "cbDisplayUnit");
        ASSERT_TRUE(units);
    }
    void ChooseUnit(const char *name)
    {
        const int i = units->findText(name);
        ASSERT_GE(i, 0) << name;
        units->setCurrentIndex(i);
        emit units->activated(i);
    }
    QString Num(const char *name) { return Find<QLabel>(page->NumView(), name)->text(); }
    QString Stat(const char *name) { return Find<QLabel>(page->StatisticView(), name)->text(); }
    QString Pointer(const char *name) { return Find<QLabel>(page->PointerView(), name)->text(); }
    QString Reference() { return Find<QLabel>(page.get(), "lbRefValue")->text(); }
    void SetReference() { guitest::Click(Find<QPushButton>(page.get(), "pbSetRef")); }
    void StartSampleRun(int count)
    {
        DataSetting *popup = page->SettingPopup();
        Find<QRadioButton>(popup, "rbNumber")->setChecked(true);
        Find<QSpinBox>(popup, "sbNumber")->setValue(count);
        guitest::Click(Find<QPushButton>(popup, "pbConfirm"));
        guitest::Click(Find<QPushButton>(page->StatisticView(), "pbRunStop"));
        ASSERT_TRUE(page->StatisticsRunning());
    }

    QComboBox *units = nullptr;
};

TEST_F(UnitsTest, NumericViewInEachUnitAndTheReference)
{
    EXPECT_EQ(Find<QLabel>(page.get(), "lbDisplayUnit")->text(), "显示单位");
    ASSERT_EQ(units->count(), 3);
    EXPECT_EQ(units->itemText(0), "W");
    EXPECT_EQ(units->itemText(1), "dBm");
    EXPECT_EQ(units->itemText(2), "dB");
    EXPECT_EQ(units->currentText(), "W");
    EXPECT_EQ(Find<QPushButton>(page.get(), "pbSetRef")->text(), "设为参考");
    EXPECT_EQ(Reference(), "");

    Feed(1000);
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), QString::fromUtf8("1.00μW"));  // watts: as always
    ChooseUnit("dBm");
    EXPECT_EQ(Num("lbData"), "-30.00dBm");  // at once, not on the next tick
    Feed(3000);
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), "-25.23dBm");
    EXPECT_EQ(Num("lbMaxVal"), "-25.23dBm");
    EXPECT_EQ(Num("lbMinVal"), "-30.00dBm");
    EXPECT_EQ(Num("lbAveVal"), "-26.99dBm");  // the log of the 2 µW mean
    Feed(2000000);                            // 2 mW, ranged to 5 mW
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), "3.01dBm");
    Feed(0);
    page->RefreshData();
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), "<-60.00dBm");
    EXPECT_EQ(Num("lbMinVal"), "<-60.00dBm");

    // dB without a reference takes the present reading; none below 1 nW.
    ChooseUnit("dB");
    EXPECT_EQ(units->currentText(), "dBm");
    EXPECT_EQ(statusLabel->text(), "当前读数低于1nw，不能设为参考");
    Feed(1000);
    page->RefreshData();
    ChooseUnit("dB");
    EXPECT_EQ(units->currentText(), "dB");
    EXPECT_EQ(Reference(), "参考: -30.00dBm");
    EXPECT_EQ(page->ReferenceNw(), 1000.0);
    EXPECT_EQ(Num("lbData"), "0.00dB");
    Feed(500);  // an attenuator's 3 dB
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), "-3.01dB");
    Feed(0);
    page->RefreshData();
    EXPECT_EQ(Num("lbData"), "<-30.00dB");
    // A new reference from the present reading.
    Feed(2000);
    page->RefreshData();
    SetReference();
    EXPECT_EQ(Reference(), "参考: -26.99dBm");
    EXPECT_EQ(Num("lbData"), "0.00dB");
    for (const char *label : {"lbData", "lbMaxVal", "lbMinVal", "lbAveVal"}) {
        EXPECT_FALSE(Num(label).contains("nan") || Num(label).contains("inf")) << label;
    }

    // Without a meter nothing can be taken.
    manager->SetSelDev(-1);
    SetReference();
    EXPECT_EQ(statusLabel->text(), "请先连接并选择一台设备");
    EXPECT_EQ(page->ReferenceNw(), 2000.0);
}

TEST_F(UnitsTest, PointerViewOnALogarithmicDial)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbPointer"));
    PointerDialWidget *dial = page->PointerView()->Dial();
    Feed(1000);
    page->RefreshData();
    auto *relative = Find<QPushButton>(page->PointerView(), "pbRela");
    guitest::Click(relative);
    ASSERT_TRUE(relative->isChecked());

    // A reference taken in watts means nothing in dBm: the relative mode ends.
    ChooseUnit("dBm");
    EXPECT_FALSE(relative->isChecked());
    // 1 µW in the 5 µW range (-23.01 dBm): the dial spans -65 to -20 dBm in steps of 5.
    EXPECT_EQ(dial->Min(), -65.0);
    EXPECT_EQ(dial->Max(), -20.0);
    EXPECT_DOUBLE_EQ(dial->Value(), -30.0);
    EXPECT_EQ(dial->ValueText(), "-30.00dBm");
    EXPECT_EQ(Pointer("label_avgValue"), "-30.00dBm");

    Feed(0);
    page->RefreshData();
    page->RefreshData();
    EXPECT_EQ(dial->ValueText(), "<-60.00dBm");
    EXPECT_DOUBLE_EQ(dial->Value(), -60.0);

    // Relative in dBm: the difference in dB.
    Feed(1000);
    page->RefreshData();
    guitest::Click(relative);
    Feed(500);
    page->RefreshData();
    EXPECT_NEAR(dial->Value(), -3.0103, 1e-3);
    EXPECT_EQ(dial->ValueText(), "-3.01dB");
}

TEST_F(UnitsTest, RunViewsFollowTheUnitWithoutLosingTheRun)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbCurve"));
    StartSampleRun(100);
    for (int i = 0; i < 10; ++i)
        Feed(1000 + 100 * i);
    page->RefreshData();
    QCPGraph *graph = page->CurveView()->Graph();
    ASSERT_EQ(graph->dataCount(), 10);
    EXPECT_DOUBLE_EQ(graph->data()->at(0)->value, 1.0);  // µW

    ChooseUnit("dBm");
    EXPECT_TRUE(page->StatisticsRunning());
    ASSERT_EQ(graph->dataCount(), 10);
    EXPECT_NEAR(graph->data()->at(0)->value, -30.0, 1e-9);
    EXPECT_NEAR(graph->data()->at(9)->value, -27.2125, 1e-3);
    EXPECT_EQ(page->CurveView()->Plot()->yAxis->label(), "功率(dBm)");
    EXPECT_EQ(page->StatisticView()->Plot()->xAxis->label(), "功率(dBm)");
    EXPECT_EQ(Stat("lbMaxVal"), "-27.21");
    EXPECT_EQ(Stat("lbMinVal"), "-30.00");
    EXPECT_EQ(Stat("lbAveVal"), "-28.39");  // 1.45 µW
    EXPECT_TRUE(Stat("lbDeviationVal").endsWith("nw")) << Stat("lbDeviationVal").toStdString();
    EXPECT_EQ(Stat("lbDeviationVal"), "287.23nw");
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerText>(
        page->StatisticView()->Plot()->xAxis->ticker());
    ASSERT_TRUE(ticker);
    EXPECT_EQ(ticker->ticks().first(), "-30.00");
    EXPECT_EQ(ticker->ticks().last(), "-27.21");

    // The run goes on: new samples are added to the same window.
    for (int i = 0; i < 5; ++i)
        Feed(1500);
    page->RefreshData();
    EXPECT_EQ(Stat("lbSampleVal"), "15");
    EXPECT_EQ(graph->dataCount(), 15);

    // dB against 1.5 µW, then back to watts: the graph is read anew in each.
    SetReference();
    ChooseUnit("dB");
    page->RefreshData();
    EXPECT_EQ(page->CurveView()->Plot()->yAxis->label(), "功率(dB)");
    EXPECT_NEAR(graph->data()->at(14)->value, 0.0, 1e-9);
    ChooseUnit("W");
    page->RefreshData();
    EXPECT_EQ(graph->dataCount(), 15);
    EXPECT_DOUBLE_EQ(graph->data()->at(0)->value, 1.0);
    EXPECT_EQ(page->CurveView()->Plot()->yAxis->label(), "功率(μW)");
    EXPECT_EQ(Stat("lbDeviationVal").endsWith("nw"), false);
}

TEST_F(UnitsTest, SettingsFileKeepsTheUnitAndReferenceAndOldFilesLoadAsWatts)
{
    QTemporaryDir dir;
    Feed(1000);
    page->RefreshData();
    ChooseUnit("dB");
    const QString path = dir.filePath("units.ini");
    guitest::AnswerFileDialog(path);
    page->SaveConfig();

    ChooseUnit("W");
    Feed(4000);
    page->RefreshData();
    SetReference();
    guitest::AnswerFileDialog(path);
    page->LoadConfig();
    EXPECT_EQ(units->currentText(), "dB");
    EXPECT_EQ(page->ReferenceNw(), 1000.0);
    EXPECT_EQ(Reference(), "参考: -30.00dBm");
    EXPECT_EQ(Num("lbData"), "6.02dB");

    const QString old = dir.filePath("old.ini");
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[dataConfig]\nwaveLength=1310\nattenuation=0\naverageTime=1\n");
    }
    guitest::AnswerFileDialog(old);
    page->LoadConfig();
    EXPECT_EQ(units->currentText(), "W");
    EXPECT_EQ(Reference(), "");
    EXPECT_EQ(Num("lbData"), QString::fromUtf8("4.00μW"));
}

}  // namespace
