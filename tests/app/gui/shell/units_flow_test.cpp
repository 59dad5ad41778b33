// dBm and dB as a user meets them in the main window against two simulated meters: a
// reference taken on one meter and used on the other, the unit kept across the change of
// meter and a run, a curve saved in dBm and read back by the viewer.
#include "gui_fixture.h"

#include "curvedata.h"
#include "datafile.h"
#include "datawidget.h"
#include "devinfoframe.h"
#include "displayunit.h"
#include "navigationbar.h"
#include "numdata.h"
#include "viewfilewidget.h"

#include "qcustomplot.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace guitest;

namespace {

class UnitsFlow : public MainWindowTest {
protected:
    DataWidget *Page() { return Find<DataWidget>(window, "pageData"); }
    void ChooseUnit(QComboBox *box, const char *name)
    {
        const int i = box->findText(name);
        box->setCurrentIndex(i);
        emit box->activated(i);
    }
    // The selected meter's newest power in dBm, from its record.
    double RecordDbm() { return displayunit::DbmOfNw(double(manager->GetSelLatestRaw())); }
    double Shown()
    {
        return Find<QLabel>(Page()->NumView(), "lbData")
            ->text()
            .remove("dBm")
            .remove("dB")
            .toDouble();
    }
    bool Select(int id)
    {
        Click(Find<NavigationBar>(window, "wgNavBar")->FindCard(id));
        // The signals are flat: a present reading, not a changed one, is what counts.
        return QTest::qWaitFor(
            [&] { return manager->GetSelDev() == id && manager->GetSelLatestRaw() > 0; }, 5000);
    }
};

}  // namespace

TEST_F(UnitsFlow, AReferenceOnOneMeterReadsTheLossOfAnotherInDb)
{
    simmeter::MeterConfig source, attenuated;
    source.signal.powerNw = 20000;
    source.signal.noiseRel = 0;
    attenuated.signal.powerNw = 10000;  // 3 dB less
    attenuated.signal.noiseRel = 0;
    Plug(1, source);
    Plug(2, attenuated);
    StartWindow();
    ASSERT_TRUE(Connect(IdOfPort(1)));
    ASSERT_TRUE(Connect(IdOfPort(2)));
    Find<QPushButton>(window, "pbMear")->click();
    ASSERT_TRUE(Select(IdOfPort(1)));
    DataWidget *page = Page();
    auto *units = Find<QComboBox>(page, "cbDisplayUnit");

    ChooseUnit(units, "dBm");
    page->RefreshData();
    EXPECT_NEAR(Shown(), RecordDbm(), 0.006);
    EXPECT_TRUE(Find<QLabel>(page->NumView(), "lbData")->text().endsWith("dBm"));

    Click(Find<QPushButton>(page, "pbSetRef"));
    const double refNw = page->ReferenceNw();
    ASSERT_GT(refNw, 0);
    EXPECT_EQ(Find<QLabel>(page, "lbRefValue")->text(),
              displayunit::ReferenceText("参考: ", refNw));
    ChooseUnit(units, "dB");
    page->RefreshData();
    EXPECT_EQ(Find<QLabel>(page->NumView(), "lbData")->text(), "0.00dB");

    // The other meter, through its card: the unit and the reference stay.
    ASSERT_TRUE(Select(IdOfPort(2)));
    page->RefreshData();
    EXPECT_EQ(units->currentText(), "dB");
    const double lossDb = displayunit::DbOfNw(double(manager->GetSelLatestRaw()), refNw);
    EXPECT_NEAR(lossDb, -3.01, 0.1);
    EXPECT_NEAR(Shown(), lossDb, 0.006);

    // A run in dB: the curve and the statistics in dB, the unit kept when it ends.
    Click(Find<QPushButton>(page, "pbCurve"));
    CurveData *curve = page->CurveView();
    Click(Find<QPushButton>(curve, "pbRunStop"));
    ASSERT_TRUE(page->StatisticsRunning());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            page->RefreshData();
            return curve->Graph()->dataCount() >= 5;
        },
        kWaitMs));
    EXPECT_EQ(curve->Plot()->yAxis->label(), "功率(dB)");
    EXPECT_NEAR(curve->Graph()->data()->at(0)->value, lossDb, 0.05);
    Click(Find<QPushButton>(curve, "pbRunStop"));
    EXPECT_FALSE(page->StatisticsRunning());
    EXPECT_EQ(units->currentText(), "dB");
}

TEST_F(UnitsFlow, ACurveSavedInDbmOpensInTheViewerInDbmAndConvertsToWatts)
{
    simmeter::MeterConfig cfg;
    cfg.signal.powerNw = 2000;
    cfg.signal.noiseRel = 0.01;
    Plug(1, cfg);
    StartWindow();
    ASSERT_TRUE(Connect(IdOfPort(1)));
    Find<QPushButton>(window, "pbMear")->click();
    DataWidget *page = Page();
    ChooseUnit(Find<QComboBox>(page, "cbDisplayUnit"), "dBm");
    Click(Find<QPushButton>(page, "pbCurve"));
    CurveData *curve = page->CurveView();
    Click(Find<QPushButton>(curve, "pbRunStop"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            page->RefreshData();
            return curve->Graph()->dataCount() >= 10;
        },
        kWaitMs));
    Click(Find<QPushButton>(curve, "pbRunStop"));
    std::vector<double> plotted;
    for (auto it = curve->Graph()->data()->constBegin(); it != curve->Graph()->data()->constEnd();
         ++it)
        plotted.push_back(it->value);

    QTemporaryDir tmp;
    const QString path = tmp.filePath("curve-dbm.csv");
    AnswerFileDialog(path);
    Click(Find<QPushButton>(curve, "pbSave"));
    const datafile::ReadSeries file = datafile::ReadDataSeries(path, 0);
    EXPECT_EQ(file.outcome.header.unit.value_or(""), "dBm");
    ASSERT_EQ(file.values.size(), int(plotted.size()));
    for (int i = 0; i < file.values.size(); ++i)
        EXPECT_NEAR(file.values[i], plotted[size_t(i)], 0.005);  // written with 2 decimals

    auto *viewer = Find<viewFileWidget>(window, "pageViewFile");
    QSignalSpy shown(viewer, &viewFileWidget::SigFileShown);
    viewer->OpenFile(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, kWaitMs));
    auto *viewUnit = Find<QComboBox>(viewer, "cbViewUnit");
    auto *plot = Find<QCustomPlot>(viewer, "widget_plot");
    EXPECT_EQ(viewUnit->currentText(), "dBm");
    EXPECT_EQ(plot->yAxis->label(), "功率(dBm)");
    EXPECT_DOUBLE_EQ(plot->graph(0)->data()->at(0)->value, file.values[0]);

    // Watts: the plot converts (about 2 µW), the file's values stay as read.
    ChooseUnit(viewUnit, "W");
    EXPECT_EQ(plot->yAxis->label(), QString::fromUtf8("功率(μW)"));
    EXPECT_NEAR(plot->graph(0)->data()->at(0)->value, displayunit::NwOfDbm(file.values[0]) / 1000.0,
                1e-9);
    EXPECT_EQ(viewer->FileUnit(), "dBm");
    ChooseUnit(viewUnit, "dBm");
    EXPECT_DOUBLE_EQ(plot->graph(0)->data()->at(0)->value, file.values[0]);
}
