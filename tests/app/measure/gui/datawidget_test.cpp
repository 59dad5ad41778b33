// The measurement page driven by object name against a record fed by hand: ranging, the
// numeric and pointer views, attenuation, full screen, the settings file.
#include "page_support.h"

#include "datawidget.h"
#include "numdata.h"
#include "pointerdata.h"
#include "pointerdialwidget.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <cmath>

namespace {

using guitest::Find;

const QString kMicro = QString::fromUtf8("μW");

class DataWidgetTest : public measuretest::DataPageTest {
protected:
    void SetUp() override
    {
        DataPageTest::SetUp();
        combo = Find<QComboBox>(page.get(), "comboBox_powerRange");
        ASSERT_TRUE(combo);
    }
    // A label of the numeric view (the run views have labels of the same names).
    QString Text(const char *name) { return Find<QLabel>(page->NumView(), name)->text(); }
    // What a user does: pick an item, which emits activated.
    void Choose(int index)
    {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    QComboBox *combo = nullptr;
};

TEST_F(DataWidgetTest, FormAsTheUserSeesIt)
{
    ASSERT_EQ(combo->count(), 11);
    EXPECT_EQ(combo->itemText(0), "Auto");
    EXPECT_EQ(combo->itemText(3), QString::fromUtf8("5μw"));
    EXPECT_EQ(combo->itemText(10), "10w");
    auto *wave = Find<QSpinBox>(page.get(), "sbWaveLen");
    EXPECT_EQ(wave->value(), 700);
    EXPECT_EQ(wave->suffix(), "nm");
    EXPECT_EQ(wave->maximum(), 10000);
    EXPECT_FALSE(Find<QDoubleSpinBox>(page.get(), "dsbZeroComp")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>(page.get(), "lineEdit_calibDate")->isEnabled());
    EXPECT_EQ(Find<QPushButton>(page.get(), "pbCaliReset")->text(), QString::fromUtf8("设置"));
    EXPECT_TRUE(Find<QPushButton>(page.get(), "pbNum")->isChecked());
    auto *stack = Find<QStackedWidget>(page.get(), "stackedWidget");
    EXPECT_EQ(stack->currentWidget()->objectName(), "pageNum");
    // Exclusive page buttons.
    guitest::Click(Find<QPushButton>(page.get(), "pbCurve"));
    EXPECT_FALSE(Find<QPushButton>(page.get(), "pbNum")->isChecked());
    EXPECT_EQ(stack->currentWidget()->objectName(), "pageCurve");
}

TEST_F(DataWidgetTest, AutomaticRangingAtTheEdges)
{
    Feed(5000000);  // exactly 5 mW
    page->RefreshData();
    EXPECT_EQ(Unit(), "mw");
    EXPECT_EQ(FullScale(), 5);
    EXPECT_EQ(Text("lbData"), "5.00mw");

    Feed(5000000001.0);  // just above 5 W
    page->RefreshData();
    EXPECT_EQ(Unit(), "w");
    EXPECT_EQ(FullScale(), 10);

    Feed(800000000.0);  // 0.08 of 10 W: below a tenth, re-ranged to 5 W
    page->RefreshData();
    EXPECT_EQ(Unit(), "w");
    EXPECT_EQ(FullScale(), 5);
    // Anything between a tenth of the scale and the scale keeps the range.
    for (double nw : {500000000.0, 4999999999.0, 1000000000.0}) {
        Feed(nw);
        page->RefreshData();
        EXPECT_EQ(Unit(), "w") << nw;
        EXPECT_EQ(FullScale(), 5) << nw;
    }
    Feed(1200);
    page->RefreshData();
    EXPECT_EQ(Unit(), kMicro);
    EXPECT_EQ(Text("lbData"), QString::fromUtf8("1.20μW"));
}

TEST_F(DataWidgetTest, AutoChosenByHandAndFixedRanges)
{
    Feed(3000000);
    page->RefreshData();
    ASSERT_EQ(Unit(), "mw");
    Choose(0);  // "Auto" by hand: most sensitive range at once
    EXPECT_EQ(Unit(), "nw");
    EXPECT_EQ(FullScale(), 50);
    page->RefreshData();
    EXPECT_EQ(Unit(), "mw");
    EXPECT_EQ(FullScale(), 5);

    Choose(2);  // "500nw": fixed, the reading is far above it
    EXPECT_EQ(Unit(), "nw");
    page->RefreshData();
    EXPECT_EQ(FullScale(), 500);
    EXPECT_EQ(Text("lbData"), QString::fromUtf8("无穷大"));
    EXPECT_EQ(Text("lbMaxVal"), "");
    EXPECT_EQ(Text("lbMinVal"), "");
    EXPECT_EQ(Text("lbAveVal"), "");

    Choose(9);  // "5w"
    page->RefreshData();
    EXPECT_EQ(Unit(), "w");
    EXPECT_EQ(Text("lbData"), "0.00w");
}

TEST_F(DataWidgetTest, SelectionChangeReturnsToAutoWithoutTheActivatedPath)
{
    Feed(3000000);
    Choose(4);
    QSignalSpy activated(combo, QOverload<int>::of(&QComboBox::activated));
    page->ResetRange();
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(activated.count(), 0);
    EXPECT_EQ(Unit(), "mw");  // ranged by the refresh ResetRange runs
}

TEST_F(DataWidgetTest, NoSelectionChangesNothing)
{
    manager->SetSelDev(-1);
    Find<QLabel>(page.get(), "lbData")->setText("x");
    page->RefreshData();
    EXPECT_EQ(Text("lbData"), "x");
}

TEST_F(DataWidgetTest, AttenuationOfTenDecibelMultipliesByTen)
{
    Feed(100);
    page->RefreshData();
    EXPECT_EQ(Text("lbData"), "100.00nw");
    Find<QDoubleSpinBox>(page.get(), "dsbAttenComp")->setValue(10);
    EXPECT_DOUBLE_EQ(record->Attenuation(), 10);
    Feed(100);
    page->RefreshData();
    EXPECT_EQ(Text("lbData"), QString::fromUtf8("1.00μW"));
}

TEST_F(DataWidgetTest, TotalsAndTheirReset)
{
    for (double nw : {20.0, 40.0, 30.0})
        Feed(nw);
    page->RefreshData();
    EXPECT_EQ(Text("lbMaxVal"), "40.00nw");
    EXPECT_EQ(Text("lbMinVal"), "20.00nw");
    EXPECT_EQ(Text("lbAveVal"), "30.00nw");
    guitest::Click(Find<QPushButton>(page->NumView(), "pbReset"));
    Feed(25);
    page->RefreshData();
    EXPECT_EQ(Text("lbMaxVal"), "25.00nw");
    EXPECT_EQ(Text("lbMinVal"), "25.00nw");
}

TEST_F(DataWidgetTest, FullScreenTwicePutsTheViewBackAtTheTop)
{
    NumData *num = page->NumView();
    QWidget *pageNum = Find<QWidget>(page.get(), "pageNum");
    QSignalSpy toggled(num, &NumData::signal_showFullScreen);
    auto *button = Find<QPushButton>(num, "pbFullScr");
    guitest::Click(button);
    EXPECT_TRUE(num->isWindow());
    EXPECT_EQ(num->parentWidget(), nullptr);
    EXPECT_TRUE(num->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(pageNum->layout()->indexOf(num), -1);
    // Still fed while detached.
    Feed(42);
    page->RefreshData();
    EXPECT_EQ(Find<QLabel>(num, "lbData")->text(), "42.00nw");
    guitest::Click(button);
    EXPECT_FALSE(num->isWindow());
    EXPECT_EQ(num->parentWidget(), pageNum);
    EXPECT_EQ(pageNum->layout()->indexOf(num), 0);
    EXPECT_TRUE(num->isVisible());
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_EQ(toggled[0][0].toBool(), true);
    EXPECT_EQ(toggled[1][0].toBool(), false);
}

TEST(NumDataView, NothingIsOverRangeBeforeTheFirstRange)
{
    NumData num;
    const double totals[3] = {1, 2, 3};
    num.UpdateData(1e300, totals);
    EXPECT_NE(Find<QLabel>(&num, "lbData")->text(), QString::fromUtf8("无穷大"));
    num.SetUnit(QString::fromUtf8("μW"));
    num.SetRange(0, 5);
    double v = 5;
    num.UpdateData(v, totals);
    EXPECT_EQ(Find<QLabel>(&num, "lbData")->text(), QString::fromUtf8("5.00μW"));
    EXPECT_EQ(Find<QLabel>(&num, "lbAveVal")->text(), QString::fromUtf8("3.00μW"));
}

TEST_F(DataWidgetTest, PointerViewAbsoluteAndRelative)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbPointer"));
    PointerData *pointer = page->PointerView();
    PointerDialWidget *dial = pointer->Dial();
    Feed(3000000);
    page->RefreshData();
    EXPECT_EQ(dial->Min(), 0);
    EXPECT_EQ(dial->Max(), 5);
    EXPECT_EQ(dial->Value(), 3);
    EXPECT_EQ(Find<QLabel>(pointer, "label_maxValue")->text(), "3.00mw");

    auto *tip = Find<QLabel>(pointer, "label_powerTip");
    auto *reference = Find<QLabel>(pointer, "label_reference");
    auto *ratio = Find<QCheckBox>(pointer, "cbRelaPerc");
    EXPECT_FALSE(reference->isVisible());
    guitest::Click(Find<QPushButton>(pointer, "pbRela"));
    EXPECT_EQ(tip->text(), QString::fromUtf8("相对功率"));
    EXPECT_EQ(reference->text(), QString::fromUtf8("参考值:3mw"));
    EXPECT_TRUE(reference->isVisible() && ratio->isVisible());

    Feed(3300000);  // +0.3: inside (0, 5), the range stays
    page->RefreshData();
    EXPECT_EQ(dial->Max(), 5);
    EXPECT_NEAR(dial->Value(), 0.3, 1e-9);
    Feed(2700000);  // -0.3: widened to (-1, 1)
    page->RefreshData();
    EXPECT_EQ(dial->Min(), -1);
    EXPECT_EQ(dial->Max(), 1);
    ratio->setChecked(true);  // -0.3 / 3
    page->RefreshData();
    EXPECT_NEAR(dial->Value(), -0.1, 1e-9);

    guitest::Click(Find<QPushButton>(pointer, "pbRela"));
    EXPECT_EQ(tip->text(), QString::fromUtf8("功率"));
    EXPECT_FALSE(reference->isVisible());
    page->RefreshData();
    EXPECT_EQ(dial->Min(), 0);
    EXPECT_EQ(dial->Max(), 5);
}

TEST_F(DataWidgetTest, RatioToAZeroReferenceNeverGivesAnInfiniteNeedle)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbPointer"));
    PointerData *pointer = page->PointerView();
    Feed(0);
    page->RefreshData();
    guitest::Click(Find<QPushButton>(pointer, "pbRela"));  // reference 0
    Find<QCheckBox>(pointer, "cbRelaPerc")->setChecked(true);
    Feed(20);
    page->RefreshData();
    PointerDialWidget *dial = pointer->Dial();
    EXPECT_TRUE(std::isfinite(dial->Value()));
    EXPECT_TRUE(std::isfinite(dial->Min()) && std::isfinite(dial->Max()));
    EXPECT_EQ(dial->Value(), 20);  // the plain difference
    EXPECT_EQ(Find<QLabel>(pointer, "label_maxValue")->text(), "20.00nw");
}

TEST_F(DataWidgetTest, PointerAboveFullScalePegsTheNeedle)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbPointer"));
    Choose(1);  // 50 nW
    Feed(80);
    page->RefreshData();
    PointerData *pointer = page->PointerView();
    EXPECT_EQ(pointer->Dial()->Value(), 50);
    EXPECT_EQ(Find<QLabel>(pointer, "label_maxValue")->text(), "");
}

// ---- settings file ---------------------------------------------------------------------

class ConfigFileTest : public DataWidgetTest {
protected:
    void SetUp() override
    {
        DataWidgetTest::SetUp();
        wave = Find<QSpinBox>(page.get(), "sbWaveLen");
        atten = Find<QDoubleSpinBox>(page.get(), "dsbAttenComp");
        average = Find<QSpinBox>(page.get(), "sbAve");
    }
    void WriteFile(const QString &path, const QByteArray &text)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray ReadFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Load(const QString &path)
    {
        guitest::AnswerFileDialog(path);
        page->LoadConfig();
    }

    QTemporaryDir dir;
    QSpinBox *wave = nullptr;
    QDoubleSpinBox *atten = nullptr;
    QSpinBox *average = nullptr;
};

TEST_F(ConfigFileTest, SaveThenLoadRestoresTheThreeSpinBoxes)
{
    const QString path = dir.filePath("settings.ini");
    wave->setValue(1310);
    atten->setValue(10.5);
    average->setValue(20);
    guitest::AnswerFileDialog(path);
    page->SaveConfig();
    EXPECT_EQ(ReadFile(path),
              "[dataConfig]\nattenuation=10.5\naverageTime=20\ndisplayUnit=W\nwaveLength=1310\n");

    wave->setValue(700);
    atten->setValue(0);
    average->setValue(1);
    Load(path);
    EXPECT_EQ(wave->value(), 1310);
    EXPECT_EQ(atten->value(), 10.5);
    EXPECT_EQ(average->value(), 20);
    EXPECT_DOUBLE_EQ(record->Attenuation(), 10.5);
    EXPECT_EQ(statusLabel->text(), "");
}

TEST_F(ConfigFileTest, CancelledDialogsChangeNothing)
{
    const QString path = dir.filePath("never.ini");
    guitest::AnswerFileDialogCancel();
    page->SaveConfig();
    EXPECT_FALSE(QFile::exists(path));
    wave->setValue(900);
    guitest::AnswerFileDialogCancel();
    page->LoadConfig();
    EXPECT_EQ(wave->value(), 900);
}

// A file read as far as it is valid: a missing key leaves its spin box alone, values out of
// a spin box's range are clamped, text where a number belongs changes nothing and says so.
TEST_F(ConfigFileTest, LoadedFileSetsWhatItHoldsWithinTheLimits)
{
    const struct {
        const char *text;
        int wave, average;
        double atten;  // before the load
        int wantWave, wantAverage;
        double wantAtten;
        const char *status[2];  // parts of the status text; none: no status
    } rows[] = {
        {"[dataConfig]\nwaveLength=1550\n", 700, 37, 3, 1550, 37, 3, {}},
        {"[dataConfig]\nwaveLength=0\nattenuation=-20000\naverageTime=5000\n",
         700,
         1,
         0,
         1,
         1000,
         -9999,
         {}},
        {"[dataConfig]\nwaveLength=1310\nattenuation=abc\naverageTime=5\n",
         800,
         1,
         0,
         800,
         1,
         0,
         {"未读取", "attenuation"}},
    };
    const QString path = dir.filePath("loaded.ini");
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        WriteFile(path, r.text);
        wave->setValue(r.wave);
        average->setValue(r.average);
        atten->setValue(r.atten);
        statusLabel->clear();
        Load(path);
        EXPECT_EQ(wave->value(), r.wantWave);
        EXPECT_EQ(average->value(), r.wantAverage);
        EXPECT_EQ(atten->value(), r.wantAtten);
        EXPECT_DOUBLE_EQ(record->Attenuation(), r.wantAtten);
        if (!r.status[0]) {
            EXPECT_EQ(statusLabel->text(), "");
        }
        for (const char *part : r.status) {
            if (part) {
                EXPECT_TRUE(statusLabel->text().contains(QString::fromUtf8(part)))
                    << statusLabel->text().toStdString();
            }
        }
    }
}

}  // namespace
