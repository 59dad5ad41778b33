// The dial's picture, the statistics and curve views, the settings popup and the run
// control shared by both run views, driven by object name.
#include "page_support.h"

#include "curvedata.h"
#include "datasetting.h"
#include "datawidget.h"
#include "pointerdialwidget.h"
#include "statisticdata.h"

#include <qcustomplot.h>

#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <cmath>

namespace {

using guitest::Find;

// ---- dial ---------------------------------------------------------------------------

bool Near(QColor a, QColor b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// Pixel at `distance` px from the dial centre in the direction `angle` (degrees clockwise
// from straight up).
QColor PixelAt(const QImage &img, QPointF centre, double angle, double distance)
{
    const double rad = angle * M_PI / 180.0;
    const QPoint p(static_cast<int>(std::lround(centre.x() + std::sin(rad) * distance)),
                   static_cast<int>(std::lround(centre.y() - std::cos(rad) * distance)));
    return img.pixelColor(p);
}

TEST(PointerDial, NeedleAlongItsAngleAndAFixedHub)
{
    const QColor needle(195, 66, 60), hub(220, 66, 60);
    PointerDialWidget dial;
    EXPECT_EQ(dial.objectName(), "PointerDialWidget");
    EXPECT_EQ(dial.windowTitle(), QString::fromUtf8("模拟仪表盘"));
    dial.SetUnit("mw");
    dial.SetRange(0, 5);
    dial.SetValue(3.75);  // three quarters: 45 degrees right of straight up
    for (QSize size : {QSize(800, 480), QSize(400, 240), QSize(1000, 1000)}) {
        dial.resize(size);
        dial.show();
        const QImage img = dial.grab().toImage();
        const double s = std::min(size.width(), size.height()) / 500.0;
        EXPECT_DOUBLE_EQ(dial.DrawScale(), s);
        const QPointF centre(0.5 * size.width(), 0.7 * size.height());
        for (double r : {60.0 * s + 45, 150.0 * s})
            EXPECT_TRUE(Near(PixelAt(img, centre, 45, r), needle))
                << size.width() << " r=" << r << " "
                << PixelAt(img, centre, 45, r).name().toStdString();
        // Nothing red where the needle would point for other values.
        EXPECT_FALSE(Near(PixelAt(img, centre, -45, 150 * s), needle, 25));
        // The hub keeps 40 px whatever the size.
        EXPECT_TRUE(Near(PixelAt(img, centre, -90, 36), hub, 25)) << size.width();
        EXPECT_FALSE(Near(PixelAt(img, centre, -90, 45), hub, 25)) << size.width();
    }
    // Over the full scale the owner gives the end of the scale: the needle lies right.
    dial.resize(800, 480);
    dial.SetValue(5);
    const QImage img = dial.grab().toImage();
    EXPECT_TRUE(Near(PixelAt(img, QPointF(400, 336), 90, 150), needle));
}

// ---- statistics view ------------------------------------------------------------------

StatBlock Block(double lo, double width, int elapsed = 3725)
{
    StatBlock b;
    b.statMax = lo + 10 * width;
    b.statMin = lo;
    b.statMean = lo + 5 * width;
    b.statCount = 100;
    b.statElapsed = elapsed;
    b.statStdDev = 1.5;
    b.statRatio = b.statMin != 0 ? b.statMax / b.statMin : 0;
    for (int i = 0; i < 10; ++i)
        b.histogram << lo + i * width << lo + (i + 1) * width
                    << (i == 3 ? 40.0 : 6.0 + (i == 0 ? 6 : 0));
    return b;
}

TEST(StatisticView, LabelsHistogramAndTicks)
{
    StatisticData view;
    view.resize(900, 560);
    view.show();
    const QVector<double> times(100, 1.0), values(100, 2.0);
    double current = 12.345;
    bool replace = true;
    view.UpdateData(current, Block(10, 2), times, values, replace);
    EXPECT_EQ(Find<QLabel>(&view, "lbCurVal")->text(), "12.35");
    EXPECT_EQ(Find<QLabel>(&view, "lbMaxVal")->text(), "30.00");
    EXPECT_EQ(Find<QLabel>(&view, "lbMinVal")->text(), "10.00");
    EXPECT_EQ(Find<QLabel>(&view, "lbAveVal")->text(), "20.00");
    EXPECT_EQ(Find<QLabel>(&view, "lbRatioVal")->text(), "3.00");
    EXPECT_EQ(Find<QLabel>(&view, "lbDeviationVal")->text(), "1.50");
    EXPECT_EQ(Find<QLabel>(&view, "lbSampleVal")->text(), "100");
    EXPECT_EQ(Find<QLabel>(&view, "lbTimeVal")->text(), "01:02:05");

    QCPBars *bars = view.Bars();
    ASSERT_EQ(bars->data()->size(), 10);
    EXPECT_DOUBLE_EQ(bars->data()->at(0)->key, 11);
    EXPECT_DOUBLE_EQ(bars->data()->at(3)->value, 40);
    EXPECT_DOUBLE_EQ(bars->width(), 1.6);
    QCustomPlot *plot = view.Plot();
    EXPECT_DOUBLE_EQ(plot->xAxis->range().lower, 8);
    EXPECT_DOUBLE_EQ(plot->xAxis->range().upper, 32);
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerText>(plot->xAxis->ticker());
    ASSERT_TRUE(ticker);
    ASSERT_EQ(ticker->ticks().size(), 11);
    EXPECT_EQ(ticker->ticks().first(), "10.000");
    EXPECT_EQ(ticker->ticks().last(), "30.000");

    view.SetUnit("mw");
    EXPECT_EQ(plot->xAxis->label(), QString::fromUtf8("功率(mw)"));
}

TEST(StatisticView, EmptyAndDegenerateHistogramsKeepThePicture)
{
    StatisticData view;
    view.show();
    double current = 1;
    bool replace = true;
    view.UpdateData(current, Block(10, 2), {}, {}, replace);
    const QCPRange before = view.Plot()->xAxis->range();
    // A run that has just started: labels update, the chart does not.
    StatBlock fresh;
    fresh.statElapsed = 0;
    view.UpdateData(current, fresh, {}, {}, replace);
    EXPECT_EQ(Find<QLabel>(&view, "lbSampleVal")->text(), "0");
    EXPECT_EQ(view.Bars()->data()->size(), 10);
    // All values equal: bins of width 0, the axis keeps its range.
    StatBlock flat = Block(7, 0);
    for (int i = 0; i < 10; ++i)
        flat.histogram[i * 3 + 2] = 0;
    view.UpdateData(current, flat, {}, {}, replace);
    EXPECT_EQ(view.Bars()->width(), 0);
    EXPECT_EQ(view.Plot()->xAxis->range(), before);
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerText>(view.Plot()->xAxis->ticker());
    EXPECT_EQ(ticker->ticks().size(), 1);
}

// ---- curve view -----------------------------------------------------------------------

TEST(CurveView, PlotSetUpAndTickCountFromTheWidth)
{
    CurveData view;
    QCustomPlot *plot = view.Plot();
    EXPECT_TRUE(plot->interactions().testFlag(QCP::iRangeDrag));
    EXPECT_EQ(plot->selectionRectMode(), QCP::srmNone);
    EXPECT_EQ(plot->yAxis->label(), QString::fromUtf8("功率(nw)"));
    EXPECT_EQ(plot->yAxis->range(), QCPRange(0, 65535));
    EXPECT_EQ(view.TickCount(), 2);
    view.resize(500, 400);
    view.show();
    EXPECT_EQ(view.TickCount(), 4);
    view.resize(520, 400);
    EXPECT_EQ(view.TickCount(), 4);
    view.resize(530, 400);
    EXPECT_EQ(view.TickCount(), 5);
    EXPECT_EQ(plot->xAxis->ticker()->tickCount(), 5);

    auto *box = Find<QPushButton>(&view, "pbBoxSelect");
    guitest::Click(box);
    EXPECT_FALSE(plot->interactions().testFlag(QCP::iRangeDrag));
    EXPECT_EQ(plot->selectionRectMode(), QCP::srmZoom);
    guitest::Click(box);
    EXPECT_TRUE(plot->interactions().testFlag(QCP::iRangeDrag));
    EXPECT_EQ(plot->selectionRectMode(), QCP::srmNone);
}

TEST(CurveView, TimeAxisTicksAtClockSteps)
{
    CurveData view;
    view.resize(5 * 106 + 10, 400);  // tick count 5
    view.show();
    QCustomPlot *plot = view.Plot();
    plot->xAxis->setRange(36000, 36600);  // 10:00:00 to 10:10:00, 600 s
    plot->replot();
    const QVector<double> ticks = plot->xAxis->tickVector();
    ASSERT_GE(ticks.size(), 2);
    EXPECT_DOUBLE_EQ(ticks[1] - ticks[0], 120);
    EXPECT_EQ(plot->xAxis->tickVectorLabels().first(), "10:00:00");
}

// The graph after any sequence of windows equals the last window, whatever the update path.
TEST(CurveView, SlidingWindowMatchesAFullReplacement)
{
    CurveData view;
    double current = 0;
    StatBlock block;
    bool replace = true;
    QVector<double> t, v;
    auto check = [&](const char *what) {
        QCPGraph *g = view.Graph();
        ASSERT_EQ(g->data()->size(), t.size()) << what;
        for (int i = 0; i < t.size(); ++i) {
            ASSERT_EQ(g->data()->at(i)->key, t[i]) << what << " " << i;
            ASSERT_EQ(g->data()->at(i)->value, v[i]) << what << " " << i;
        }
    };
    for (int i = 0; i < 50; ++i)
        t << 1000 + i * 0.01, v << i % 7;
    view.UpdateData(current, block, t, v, replace);
    check("first");
    // Slide by 5: 5 dropped, 5 new.
    t.remove(0, 5), v.remove(0, 5);
    for (int i = 50; i < 55; ++i)
        t << 1000 + i * 0.01, v << i % 7;
    view.UpdateData(current, block, t, v, replace);
    check("slid");
    // Grow without dropping; then nothing new at all.
    t << 1000.6, v << 3;
    view.UpdateData(current, block, t, v, replace);
    check("grown");
    view.UpdateData(current, block, t, v, replace);
    check("same");
    // Unit change: every value converted anew.
    for (double &x : v)
        x /= 1000.0;
    view.UpdateData(current, block, t, v, replace);
    view.SetUnit(QString::fromUtf8("μW"));
    check("unit");
    // Restart: a fresh window later in time, then an empty one.
    t = {2000, 2000.1};
    v = {1, 2};
    view.UpdateData(current, block, t, v, replace);
    check("restart");
    t.clear(), v.clear();
    view.UpdateData(current, block, t, v, replace);
    check("empty");
}

// ---- popup and run control ----------------------------------------------------------------

class RunControlTest : public measuretest::DataPageTest {
protected:
    void SetUp() override
    {
        DataPageTest::SetUp();
        stat = page->StatisticView();
        curve = page->CurveView();
        popup = page->SettingPopup();
    }
    QPushButton *Button(QWidget *view, const char *name) { return Find<QPushButton>(view, name); }
    void SampleMode(int count)
    {
        Find<QRadioButton>(popup, "rbNumber")->setChecked(true);
        Find<QSpinBox>(popup, "sbNumber")->setValue(count);
        guitest::Click(Button(popup, "pbConfirm"));
    }

    StatisticData *stat = nullptr;
    CurveData *curve = nullptr;
    DataSetting *popup = nullptr;
};

TEST_F(RunControlTest, PopupPlacementCancelClickElsewhereAndConfirm)
{
    guitest::Click(Find<QPushButton>(page.get(), "pbStatistic"));
    guitest::Click(Button(stat, "pbSet"));
    ASSERT_TRUE(popup->isVisible());
    EXPECT_TRUE(popup->isWindow());
    EXPECT_TRUE(popup->windowFlags() & Qt::FramelessWindowHint);
    auto *stack = Find<QStackedWidget>(page.get(), "stackedWidget");
    EXPECT_EQ(popup->pos(), stack->mapToGlobal(QPoint(5, 45)));
    int count = 0, seconds = 0;
    popup->GetLimits(count, seconds);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(seconds, 100);

    auto *number = Find<QSpinBox>(popup, "sbNumber");
    auto *elapsed = Find<QSpinBox>(popup, "sbElapsed");
    auto *rbNumber = Find<QRadioButton>(popup, "rbNumber");
    auto *rbElapsed = Find<QRadioButton>(popup, "rbElapsed");
    number->setValue(500);
    elapsed->setValue(7);
    rbNumber->setChecked(true);
    guitest::Click(Button(popup, "pbCancle"));
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(number->value(), 100);
    EXPECT_EQ(elapsed->value(), 100);
    EXPECT_TRUE(rbElapsed->isChecked());

    // A click elsewhere deactivates the popup: the same as cancel.
    guitest::Click(Button(curve, "pbSet"));
    ASSERT_TRUE(popup->isVisible());
    number->setValue(300);
    rbNumber->setChecked(true);
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(popup, &deactivate);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(number->value(), 100);
    EXPECT_TRUE(rbElapsed->isChecked());

    page->ShowSettingWin();
    number->setValue(250);
    rbNumber->setChecked(true);
    guitest::Click(Button(popup, "pbConfirm"));
    EXPECT_FALSE(popup->isVisible());
    popup->GetLimits(count, seconds);
    EXPECT_EQ(count, 250);
    EXPECT_EQ(seconds, -1);
    // Leaving for the numeric page hides an open popup.
    page->ShowSettingWin();
    guitest::Click(Find<QPushButton>(page.get(), "pbNum"));
    EXPECT_FALSE(popup->isVisible());
}

TEST_F(RunControlTest, SampleModeRunFeedsBothViewsAndBothButtonsFollow)
{
    SampleMode(100);
    guitest::Click(Button(stat, "pbRunStop"));
    EXPECT_TRUE(page->StatisticsRunning());
    EXPECT_TRUE(Button(stat, "pbRunStop")->isChecked());
    EXPECT_TRUE(Button(curve, "pbRunStop")->isChecked());
    StatSetting setting;
    ASSERT_TRUE(manager->GetSelStatSetting(&setting));
    EXPECT_TRUE(setting.running);
    EXPECT_EQ(setting.sampleLimit, 100);

    for (int i = 1; i <= 150; ++i)
        Feed(1000 + i);
    page->RefreshData();
    EXPECT_EQ(Find<QLabel>(stat, "lbSampleVal")->text(), "100");
    EXPECT_EQ(Find<QLabel>(curve, "lbSampleVal")->text(), "100");
    EXPECT_EQ(curve->Graph()->data()->size(), 100);
    // Ranged to 5 μW: values and labels in the new unit, the axis labels follow.
    EXPECT_EQ(Find<QLabel>(curve, "lbMaxVal")->text(), "1.15");
    EXPECT_EQ(curve->Plot()->yAxis->label(), QString::fromUtf8("功率(μW)"));
    EXPECT_EQ(stat->Plot()->xAxis->label(), QString::fromUtf8("功率(μW)"));
    EXPECT_EQ(stat->Bars()->data()->size(), 10);

    // Stop from the curve view: both buttons out, the record's run frozen.
    guitest::Click(Button(curve, "pbRunStop"));
    EXPECT_FALSE(page->StatisticsRunning());
    EXPECT_FALSE(Button(stat, "pbRunStop")->isChecked());
    ASSERT_TRUE(manager->GetSelStatSetting(&setting));
    EXPECT_FALSE(setting.running);
}

TEST_F(RunControlTest, TimeModeRunAndTheRecordEndingIt)
{
    guitest::Click(Button(curve, "pbRunStop"));  // time mode, 100 s
    StatSetting setting;
    ASSERT_TRUE(manager->GetSelStatSetting(&setting));
    EXPECT_EQ(setting.timeLimit, 100);
    EXPECT_EQ(setting.sampleLimit, -1);
    for (int i = 0; i < 20; ++i)
        Feed(500);
    page->RefreshData();
    EXPECT_EQ(Find<QLabel>(stat, "lbSampleVal")->text(), "20");
    // The run ends outside the page: the next tick unchecks both buttons.
    manager->StopSelStatistics();
    page->RefreshData();
    EXPECT_FALSE(page->StatisticsRunning());
    EXPECT_FALSE(Button(stat, "pbRunStop")->isChecked());
    EXPECT_FALSE(Button(curve, "pbRunStop")->isChecked());
}

TEST_F(RunControlTest, NoMeterNoRun)
{
    manager->SetSelDev(-1);
    guitest::Click(Button(stat, "pbRunStop"));
    EXPECT_FALSE(page->StatisticsRunning());
    EXPECT_FALSE(Button(stat, "pbRunStop")->isChecked());
    EXPECT_FALSE(Button(curve, "pbRunStop")->isChecked());
}

TEST_F(RunControlTest, ResetWhileRunningRestartsAndWhileStoppedOnlyClears)
{
    SampleMode(100);
    guitest::Click(Button(curve, "pbRunStop"));
    for (int i = 0; i < 30; ++i)
        Feed(700);
    page->RefreshData();
    ASSERT_EQ(curve->Graph()->data()->size(), 30);
    guitest::Click(Button(curve, "pbReset"));
    EXPECT_EQ(Find<QLabel>(curve, "lbSampleVal")->text(), "");
    EXPECT_EQ(curve->Graph()->data()->size(), 0);
    StatBlock block;
    double current = 0, totals[3];
    QVector<double> times, values;
    bool valid = false;
    EXPECT_TRUE(manager->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_EQ(values.size(), 0);  // restarted
    Feed(700);
    page->RefreshData();
    EXPECT_EQ(Find<QLabel>(stat, "lbSampleVal")->text(), "1");

    guitest::Click(Button(stat, "pbRunStop"));  // stop
    guitest::Click(Button(stat, "pbReset"));
    EXPECT_EQ(Find<QLabel>(stat, "lbSampleVal")->text(), "");
    EXPECT_EQ(stat->Bars()->data()->size(), 0);
    StatSetting setting;
    manager->GetSelStatSetting(&setting);
    EXPECT_FALSE(setting.running);  // a stopped run stays stopped
}

// ---- saving both files --------------------------------------------------------------------

QStringList Lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(bytes.endsWith('\n'));
    return QString::fromUtf8(bytes).split('\n');
}

TEST_F(RunControlTest, SaveCurveAndHistogramFiles)
{
    QTemporaryDir dir;
    SampleMode(100);
    guitest::Click(Button(curve, "pbRunStop"));
    for (int i = 0; i < 10; ++i)
        Feed(2000 + 100 * i);
    page->RefreshData();

    const QString curvePath = dir.filePath("curve.csv");
    guitest::AnswerFileDialog(curvePath);
    guitest::Click(Button(curve, "pbSave"));
    QStringList lines = Lines(curvePath);
    ASSERT_GT(lines.size(), 20);
    EXPECT_EQ(lines[0], "Data File");
    EXPECT_EQ(lines[3], QString::fromUtf8("表头型号:,OPM-T"));
    EXPECT_EQ(lines[6], QString::fromUtf8("探头序列号:,PS-1"));
    EXPECT_TRUE(lines.contains(QString::fromUtf8("样本数量:,10")));
    EXPECT_TRUE(lines.contains(QString::fromUtf8("最大值(μW):,2.90")));
    const int begin = lines.indexOf("++++++++++++++++++begin++++++++++++++++");
    ASSERT_GT(begin, 0);
    EXPECT_EQ(lines[begin + 1], QString::fromUtf8("序号,功率值(μW)"));
    EXPECT_EQ(lines[begin + 2], "0.00,2.00");
    EXPECT_EQ(lines[begin + 11], "9.00,2.90");
    EXPECT_EQ(lines.size(), begin + 13);  // the last line end leaves one empty piece

    const QString histPath = dir.filePath("hist.csv");
    guitest::AnswerFileDialog(histPath);
    guitest::Click(Button(stat, "pbSave"));
    lines = Lines(histPath);
    ASSERT_GT(lines.size(), 12);
    EXPECT_FALSE(lines.join('\n').contains(QString::fromUtf8("表头型号")));
    const int hbegin = lines.indexOf("++++++++++++++++++begin++++++++++++++++");
    ASSERT_GT(hbegin, 0);
    EXPECT_EQ(lines[hbegin + 1], QString::fromUtf8("最小值(μW),最大值(μW),占比(%)"));
    EXPECT_EQ(lines[hbegin + 2], "2.00,2.09,10.00");
    EXPECT_EQ(lines.size(), hbegin + 13);
    EXPECT_EQ(statusLabel->text(), "");
}

// The curve, the histogram and the settings file alike.
TEST_F(RunControlTest, AFileThatCannotBeWrittenIsReported)
{
    // An existing folder in which nobody, not even root, can create files.
    const QString blocker = QStringLiteral("/proc/self");
    guitest::AnswerFileDialog(blocker + "/quorvex-settings.ini");
    page->SaveConfig();
    EXPECT_TRUE(statusLabel->text().contains(QString::fromUtf8("未保存")));
    statusLabel->clear();
    guitest::AnswerFileDialog(blocker + "/curve.csv");
    guitest::Click(Button(curve, "pbSave"));
    EXPECT_TRUE(statusLabel->text().contains(QString::fromUtf8("未保存")))
        << statusLabel->text().toStdString();
    statusLabel->clear();
    guitest::AnswerFileDialog(blocker + "/hist.csv");
    guitest::Click(Button(stat, "pbSave"));
    EXPECT_TRUE(statusLabel->text().contains(QString::fromUtf8("未保存")));
    guitest::AnswerFileDialogCancel();
    statusLabel->clear();
    guitest::Click(Button(stat, "pbSave"));
    EXPECT_EQ(statusLabel->text(), "");
}

}  // namespace
