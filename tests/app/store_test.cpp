// The measurement store and the unit conversion, without any meter.
#include "measurestore.h"
#include "powerunit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Feeds `values` as one batch, 100 ms apart from `t0`.
void Feed(MeasureStore &store, const std::vector<double> &values, qint64 t0 = 1000000,
          double attenuationDb = 0.0)
{
    std::vector<PowerData> batch;
    for (std::size_t i = 0; i < values.size(); ++i)
        batch.push_back(PowerData{t0 + static_cast<qint64>(i) * 100, values[i]});
    store.AddSamples(batch.data(), static_cast<int>(batch.size()), attenuationDb);
}

// The statistics of a fresh run over `values` with a window of `sampleLimit` samples.
StatBlock RunOver(const std::vector<double> &values, int sampleLimit = 1000)
{
    MeasureStore store;
    store.StartStatistics(sampleLimit, -1);
    Feed(store, values);
    return store.Statistics(1.0);
}

double Share(const StatBlock &b, int bin)
{
    return b.histogram[kHistogramBinFields * bin + kBinShare];
}

double ShareSum(const StatBlock &b)
{
    double sum = 0.0;
    for (int i = 0; i < kHistogramBins; ++i)
        sum += Share(b, i);
    return sum;
}

QVector<double> Window(const MeasureStore &store, QVector<double> *times = nullptr)
{
    QVector<double> values;
    store.CopyWindow(times, &values, 1.0);
    return values;
}

}  // namespace

TEST(PowerUnitTest, ExactTokensAndSaturatingTruncation)
{
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("nw")), 1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QString::fromUtf8("\xce\xbcW")), 1e3);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("mw")), 1e6);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("w")), 1e9);
    for (const char *other : {"mW", "MW", "W", "\xce\xbcw", ""})
        EXPECT_DOUBLE_EQ(PowerUnit::Factor(QString::fromUtf8(other)), 1.0) << other;

    EXPECT_DOUBLE_EQ(PowerUnit::ToDisplay(1999.9, 1e3), 1.999);  // whole nW first
    EXPECT_DOUBLE_EQ(PowerUnit::ToDisplay(-1.9, 1.0), -1.0);
    EXPECT_EQ(PowerUnit::TruncNw(std::numeric_limits<double>::infinity()),
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(PowerUnit::TruncNw(-1e300), std::numeric_limits<qint64>::min());
    EXPECT_EQ(PowerUnit::TruncNw(std::nan("")), 0);
}

TEST(MeasureStoreTest, AttenuationGainAndTruncation)
{
    struct Case {
        double dB, power, stored;
    };
    for (const Case &c : {Case{0.0, 1000.0, 1000.0}, Case{10.0, 1000.0, 10000.0},
                          Case{-3.0, 1000.0, 501.0}, Case{0.0, 0.9, 0.0}, Case{0.0, -2.5, -2.0}}) {
        MeasureStore store;
        Feed(store, {c.power}, 0, c.dB);
        EXPECT_DOUBLE_EQ(store.LastPower(), c.stored) << c.dB << " dB, " << c.power << " nW";
        EXPECT_EQ(store.LastPowerRaw(), static_cast<qint64>(c.stored));
    }
    // A non-finite sample is stored saturated, not as undefined behaviour.
    MeasureStore store;
    Feed(store, {std::numeric_limits<double>::infinity(), std::nan(""), 5.0});
    EXPECT_DOUBLE_EQ(store.TotalMax(), static_cast<double>(std::numeric_limits<qint64>::max()));
    EXPECT_DOUBLE_EQ(store.TotalMin(), 0.0);
}

TEST(MeasureStoreTest, RunningTotals)
{
    MeasureStore store;
    Feed(store, {5, 9, 2});
    EXPECT_DOUBLE_EQ(store.TotalMax(), 9.0);
    EXPECT_DOUBLE_EQ(store.TotalMin(), 2.0);
    EXPECT_NEAR(store.TotalMean(), 16.0 / 3.0, 1e-12);
    Feed(store, {20});  // weighted across batches
    EXPECT_NEAR(store.TotalMean(), 9.0, 1e-12);
    EXPECT_EQ(store.TotalCount(), 4);

    // After a reset the first sample sets both extremes; old ones must not leak in.
    store.ResetTotals();
    Feed(store, {100, 101});
    EXPECT_DOUBLE_EQ(store.TotalMin(), 100.0);
    EXPECT_DOUBLE_EQ(store.TotalMax(), 101.0);
    EXPECT_DOUBLE_EQ(store.TotalMean(), 100.5);
    EXPECT_EQ(store.Statistics(1.0).statCount, 0);  // no run: statistics untouched
}

TEST(MeasureStoreTest, SampleWindowKeepsNewestWhileTheRunCoversAll)
{
    MeasureStore store;
    store.StartStatistics(100, 50);
    EXPECT_EQ(store.Setting().sampleLimit, 100);
    EXPECT_EQ(store.Setting().timeLimit, -1);
    for (int b = 0; b < 5; ++b) {  // values 1..150 in batches of 30, 100 ms apart
        std::vector<double> batch;
        for (int i = 1; i <= 30; ++i)
            batch.push_back(b * 30 + i);
        Feed(store, batch, 5000 + b * 3000);
    }
    const StatBlock s = store.Statistics(1.0);
    EXPECT_EQ(s.statCount, 150);
    EXPECT_DOUBLE_EQ(s.statMax, 150.0);
    EXPECT_DOUBLE_EQ(s.statMin, 1.0);
    EXPECT_DOUBLE_EQ(s.statMean, 75.0);  // 75.5 reported truncated
    EXPECT_DOUBLE_EQ(s.statRatio, 150.0);
    EXPECT_EQ(s.statElapsed, 14);
    EXPECT_EQ(store.Setting().firstTimeMs, 5000);

    QVector<double> times;
    const QVector<double> values = Window(store, &times);
    ASSERT_EQ(values.size(), 100);
    EXPECT_DOUBLE_EQ(values.front(), 51.0);
    EXPECT_DOUBLE_EQ(values.back(), 150.0);
    EXPECT_DOUBLE_EQ(times.front(), 10.0);  // seconds
    // Deviation over the window about the run's mean; histogram over the window only.
    double squares = 0.0;
    for (int v = 51; v <= 150; ++v)
        squares += (v - 75.5) * (v - 75.5);
    EXPECT_NEAR(s.statStdDev, std::sqrt(squares / 100.0), 1e-9);
    ASSERT_EQ(s.histogram.size(), 30);
    EXPECT_DOUBLE_EQ(Share(s, 0) + Share(s, 1) + Share(s, 2), 0.0);
    EXPECT_NEAR(ShareSum(s), 100.0, 1e-9);

    // In a display unit: extremes and edges converted, shares and deviation not.
    const StatBlock mw = store.Statistics(1e6);
    EXPECT_DOUBLE_EQ(mw.statMax, 150e-6);
    EXPECT_DOUBLE_EQ(mw.histogram[0], 1e-6);
    EXPECT_DOUBLE_EQ(mw.histogram[29], s.histogram[29]);
    EXPECT_DOUBLE_EQ(mw.statStdDev, s.statStdDev);
}

TEST(MeasureStoreTest, TimeWindowStopsGrowingAtItsAge)
{
    MeasureStore store;
    store.StartStatistics(-1, 10);
    EXPECT_EQ(store.Setting().timeLimit, 10);
    std::vector<int> sizes;
    for (int b = 0; b < 600; ++b) {  // 10 samples/s for 300 s, in batches of 5
        std::vector<double> batch;
        for (int i = 0; i < 5; ++i)
            batch.push_back(1000.0 + b * 5 + i);
        Feed(store, batch, b * 500);
        sizes.push_back(Window(store).size());
    }
    EXPECT_EQ(sizes[9], 50);
    for (std::size_t i = 20; i < sizes.size(); ++i)
        ASSERT_EQ(sizes[i], 100) << "batch " << i;
    EXPECT_DOUBLE_EQ(Window(store).back(), 3999.0);  // newest kept, oldest dropped
    EXPECT_DOUBLE_EQ(Window(store).front(), 3900.0);
    EXPECT_EQ(store.Statistics(1.0).statCount, 3000);
}

TEST(MeasureStoreTest, HistogramEdgeCases)
{
    // All values equal: zero width, every bin empty, ratio 1.
    StatBlock s = RunOver(std::vector<double>(20, 42.0), 100);
    EXPECT_DOUBLE_EQ(s.statRatio, 1.0);
    EXPECT_DOUBLE_EQ(s.statStdDev, 0.0);
    for (int b = 0; b < kHistogramBins; ++b) {
        EXPECT_DOUBLE_EQ(s.histogram[3 * b + 1], 42.0);
        EXPECT_DOUBLE_EQ(Share(s, b), 0.0);
    }

    // Samples at the maximum count in the last bin instead of vanishing.
    s = RunOver({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 10});
    EXPECT_NEAR(ShareSum(s), 100.0, 1e-9);
    EXPECT_NEAR(Share(s, 9), 4.0 / 13.0 * 100.0, 1e-9);

    // Edges that are not exact in binary (width 3.1) still place every value.
    std::vector<double> v;
    for (int i = 0; i <= 31; ++i)
        v.push_back(1000 + i);
    EXPECT_NEAR(ShareSum(RunOver(v)), 100.0, 1e-9);
}

TEST(MeasureStoreTest, WindowWithoutAnyLimitKeepsEverySample)
{
    MeasureStore store;
    store.StartStatistics(0, 0);
    EXPECT_EQ(store.Setting().sampleLimit, -1);
    EXPECT_LE(store.Setting().timeLimit, 0);
    for (int b = 0; b < 400; ++b) {  // 20000 samples, 100 ms apart: a run of 2000 s
        std::vector<double> batch;
        for (int i = 0; i < 50; ++i)
            batch.push_back(b * 50 + i);
        Feed(store, batch, 5000 + b * 5000);
    }
    QVector<double> times;
    const QVector<double> values = Window(store, &times);
    ASSERT_EQ(values.size(), 20000);
    EXPECT_DOUBLE_EQ(values.front(), 0.0);
    EXPECT_DOUBLE_EQ(values.back(), 19999.0);
    EXPECT_DOUBLE_EQ(times.front(), 5.0);
    const StatBlock s = store.Statistics(1.0);
    EXPECT_EQ(s.statCount, 20000);
    EXPECT_EQ(s.statElapsed, 1999);
    EXPECT_NEAR(ShareSum(s), 100.0, 1e-9);  // over the whole window
}

TEST(MeasureStoreTest, EachHistogramBinHoldsItsShareOfTheWindow)
{
    // Run from 0 to 100: ten bins 10 wide.
    StatBlock s = RunOver({0, 5, 15, 25, 26, 27, 55, 99, 100, 100});
    const double expected[kHistogramBins] = {20, 10, 30, 0, 0, 10, 0, 0, 0, 30};
    for (int b = 0; b < kHistogramBins; ++b) {
        EXPECT_DOUBLE_EQ(s.histogram[3 * b], 10.0 * b) << "bin " << b;
        EXPECT_DOUBLE_EQ(s.histogram[3 * b + 1], 10.0 * (b + 1)) << "bin " << b;
        EXPECT_NEAR(Share(s, b), expected[b], 1e-9) << "bin " << b;
    }

    // A sample window: the edges come from the whole run, the shares from the window.
    s = RunOver({0, 100, 10, 12, 18, 90}, 4);  // window: 10, 12, 18, 90
    EXPECT_DOUBLE_EQ(s.histogram[0], 0.0);
    EXPECT_DOUBLE_EQ(s.histogram[3 * 9 + 1], 100.0);
    const double shares[kHistogramBins] = {0, 75, 0, 0, 0, 0, 0, 0, 0, 25};
    for (int b = 0; b < kHistogramBins; ++b)
        EXPECT_NEAR(Share(s, b), shares[b], 1e-9) << "bin " << b;
}

// A reader that holds part of the window gets exactly what follows it; one that holds
// another run, or whose newest sample already left the window, gets the whole window.
TEST(MeasureStoreTest, ReadAfterACursorGivesExactlyTheNewSamples)
{
    MeasureStore store;
    store.StartStatistics(4, -1);  // a window of 4 samples
    Feed(store, {1, 2, 3});
    QVector<double> times, values;
    WindowPart part;
    store.CopyWindowAfter(WindowCursor{}, &times, &values, 1.0, &part);
    EXPECT_TRUE(part.whole);
    EXPECT_EQ(values, (QVector<double>{1, 2, 3}));
    EXPECT_EQ(part.end.seq, 3);
    EXPECT_EQ(part.windowSize, 3);

    Feed(store, {4, 5}, 2000000);  // 1 left the window
    const WindowCursor held = part.end;
    store.CopyWindowAfter(held, &times, &values, 1000.0, &part);
    EXPECT_FALSE(part.whole);
    EXPECT_EQ(values, (QVector<double>{0.004, 0.005}));
    EXPECT_EQ(times, (QVector<double>{2000.0, 2000.1}));
    EXPECT_EQ(part.end.seq, 5);
    EXPECT_EQ(part.windowSize, 4);

    store.CopyWindowAfter(part.end, &times, &values, 1.0, &part);  // nothing new
    EXPECT_FALSE(part.whole);
    EXPECT_TRUE(values.isEmpty());

    Feed(store, {6, 7, 8, 9, 10}, 3000000);  // the sample after `held` left the window
    store.CopyWindowAfter(held, &times, &values, 1.0, &part);
    EXPECT_TRUE(part.whole);
    EXPECT_EQ(values, (QVector<double>{7, 8, 9, 10}));

    const WindowCursor oldRun = part.end;
    store.StartStatistics(4, -1);
    Feed(store, {11}, 4000000);
    store.CopyWindowAfter(oldRun, &times, &values, 1.0, &part);
    EXPECT_TRUE(part.whole);
    EXPECT_NE(part.end.run, oldRun.run);
    EXPECT_EQ(values, (QVector<double>{11}));
}
