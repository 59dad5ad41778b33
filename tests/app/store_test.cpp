// The measurement store and the unit conversion, without any meter.
#include "measurestore.h"
#include "powerunit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

PowerData Sample(qint64 timeMs, double powerNw)
{
    PowerData s;
    s.time = timeMs;
    s.power = powerNw;
    return s;
}

// Feeds `values` as one batch, 100 ms apart from `t0`.
void Feed(MeasureStore &store, const std::vector<double> &values, qint64 t0 = 1000000,
          double attenuationDb = 0.0)
{
    std::vector<PowerData> batch;
    for (std::size_t i = 0; i < values.size(); ++i)
        batch.push_back(Sample(t0 + static_cast<qint64>(i) * 100, values[i]));
    store.AddSamples(batch.data(), static_cast<int>(batch.size()), attenuationDb);
}

double Share(const StatBlock &b, int bin) { return b.histogram[3 * bin + 2]; }

double ShareSum(const StatBlock &b)
{
    double sum = 0.0;
    for (int i = 0; i < kHistogramBins; ++i)
        sum += Share(b, i);
    return sum;
}

}  // namespace

TEST(PowerUnitTest, TokensAreExactAndUnknownOnesMeanNanowatts)
{
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("nw")), 1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QString::fromUtf8("\xce\xbcW")), 1e3);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("mw")), 1e6);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("w")), 1e9);
    // Case matters: these are not the tokens.
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("mW")), 1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QString::fromUtf8("\xce\xbcw")), 1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QStringLiteral("W")), 1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::Factor(QString()), 1.0);
}

TEST(PowerUnitTest, ConversionTruncatesToWholeNanowattsFirst)
{
    EXPECT_DOUBLE_EQ(PowerUnit::ToDisplay(1999.9, 1e3), 1.999);
    EXPECT_DOUBLE_EQ(PowerUnit::ToDisplay(-1.9, 1.0), -1.0);
    EXPECT_DOUBLE_EQ(PowerUnit::ToDisplay(1234567.0, 1e6), 1.234567);
    // Out-of-range values saturate rather than overflow.
    EXPECT_EQ(PowerUnit::TruncNw(std::numeric_limits<double>::infinity()),
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(PowerUnit::TruncNw(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(PowerUnit::TruncNw(std::nan("")), 0);
    EXPECT_EQ(PowerUnit::TruncNw(1e300), std::numeric_limits<qint64>::max());
}

TEST(MeasureStoreTest, AttenuationGainAndTruncation)
{
    struct Case { double dB; double power; double expected; };
    const Case cases[] = {
        {0.0, 1000.0, 1000.0},
        {10.0, 1000.0, 10000.0},
        {-3.0, 1000.0, 501.0},   // 10^-0.3 = 0.50119
        {0.0, 0.9, 0.0},         // fractions of a nanowatt are cut off
        {0.0, -0.9, 0.0},        // toward zero, also below zero
        {0.0, -2.5, -2.0},
        {20.0, 1.23, 123.0},
    };
    for (const Case &c : cases) {
        MeasureStore store;
        Feed(store, {c.power}, 0, c.dB);
        EXPECT_DOUBLE_EQ(store.LastPower(), c.expected) << c.dB << " dB, " << c.power << " nW";
        EXPECT_EQ(store.LastPowerRaw(), static_cast<qint64>(c.expected));
    }
}

TEST(MeasureStoreTest, NonFiniteSamplesAreStoredSaturated)
{
    MeasureStore store;
    Feed(store, {std::numeric_limits<double>::infinity(), std::nan(""), 5.0});
    EXPECT_DOUBLE_EQ(store.TotalMax(), static_cast<double>(std::numeric_limits<qint64>::max()));
    EXPECT_DOUBLE_EQ(store.TotalMin(), 0.0);
    EXPECT_DOUBLE_EQ(store.LastPower(), 5.0);
}

TEST(MeasureStoreTest, RunningTotals)
{
    MeasureStore store;
    Feed(store, {5, 9, 2});
    EXPECT_DOUBLE_EQ(store.TotalMax(), 9.0);
    EXPECT_DOUBLE_EQ(store.TotalMin(), 2.0);
    EXPECT_NEAR(store.TotalMean(), 16.0 / 3.0, 1e-12);
    EXPECT_EQ(store.TotalCount(), 3);
    EXPECT_DOUBLE_EQ(store.LastPower(), 2.0);

    // The mean is weighted across batches.
    Feed(store, {20});
    EXPECT_NEAR(store.TotalMean(), 36.0 / 4.0, 1e-12);
    EXPECT_DOUBLE_EQ(store.TotalMax(), 20.0);

    // After a reset the first sample sets both extremes: the old ones (and zeros) must
    // not leak into the new totals.
    store.ResetTotals();
    EXPECT_EQ(store.TotalCount(), 0);
    Feed(store, {100, 101});
    EXPECT_DOUBLE_EQ(store.TotalMin(), 100.0);
    EXPECT_DOUBLE_EQ(store.TotalMax(), 101.0);
    EXPECT_DOUBLE_EQ(store.TotalMean(), 100.5);

    // Statistics are not touched while no run is going on.
    EXPECT_EQ(store.Statistics(1.0).statCount, 0);
    EXPECT_TRUE(store.Statistics(1.0).histogram.isEmpty());
}

TEST(MeasureStoreTest, SampleWindowKeepsNewestButRunCoversAll)
{
    MeasureStore store;
    store.StartStatistics(100, 50);
    StatSetting setting = store.Setting();
    EXPECT_TRUE(setting.running);
    EXPECT_EQ(setting.sampleLimit, 100);
    EXPECT_EQ(setting.timeLimit, -1);

    // 150 samples in batches of 30 with values 1..150, 100 ms apart.
    std::vector<double> all;
    for (int b = 0; b < 5; ++b) {
        std::vector<double> batch;
        for (int i = 0; i < 30; ++i)
            batch.push_back(b * 30 + i + 1);
        all.insert(all.end(), batch.begin(), batch.end());
        Feed(store, batch, 5000 + b * 3000);
    }
    const StatBlock s = store.Statistics(1.0);
    EXPECT_EQ(s.statCount, 150);
    EXPECT_DOUBLE_EQ(s.statMax, 150.0);
    EXPECT_DOUBLE_EQ(s.statMin, 1.0);
    EXPECT_DOUBLE_EQ(s.statMean, 75.0);  // mean 75.5, reported truncated
    EXPECT_DOUBLE_EQ(s.statRatio, 150.0);
    EXPECT_EQ(s.statElapsed, 14);        // (5000 + 4*3000 + 29*100 - 5000) / 1000
    EXPECT_EQ(store.Setting().firstTimeMs, 5000);

    QVector<double> times, values;
    store.CopyWindow(&times, &values, 1.0);
    ASSERT_EQ(values.size(), 100);
    EXPECT_DOUBLE_EQ(values.front(), 51.0);
    EXPECT_DOUBLE_EQ(values.back(), 150.0);
    EXPECT_DOUBLE_EQ(times.front(), (5000 + 3000 + 20 * 100) / 1000.0);
    EXPECT_DOUBLE_EQ(times.back(), (5000 + 4 * 3000 + 29 * 100) / 1000.0);

    // The deviation is taken over the window about the mean of the whole run.
    double squares = 0.0;
    for (int v = 51; v <= 150; ++v)
        squares += (v - 75.5) * (v - 75.5);
    EXPECT_NEAR(s.statStdDev, std::sqrt(squares / 100.0), 1e-9);

    // Histogram over the window only: its edges span the whole run, and the 100 window
    // values (51..150) all land in bins 3..9.
    ASSERT_EQ(s.histogram.size(), 30);
    EXPECT_DOUBLE_EQ(s.histogram[0], 1.0);
    EXPECT_DOUBLE_EQ(s.histogram[29 - 1], 150.0);
    EXPECT_DOUBLE_EQ(Share(s, 0) + Share(s, 1) + Share(s, 2), 0.0);
    EXPECT_NEAR(ShareSum(s), 100.0, 1e-9);
}

TEST(MeasureStoreTest, TimeWindowStopsGrowingAtItsAge)
{
    MeasureStore store;
    store.StartStatistics(-1, 10);
    EXPECT_EQ(store.Setting().timeLimit, 10);
    EXPECT_EQ(store.Setting().sampleLimit, -1);

    // 10 samples per second for 30 s, in batches of 5.
    std::vector<std::size_t> sizes;
    for (int b = 0; b < 60; ++b) {
        std::vector<PowerData> batch;
        for (int i = 0; i < 5; ++i) {
            const int k = b * 5 + i;
            batch.push_back(Sample(k * 100, 1000.0 + k));
        }
        store.AddSamples(batch.data(), 5, 0.0);
        QVector<double> values;
        store.CopyWindow(nullptr, &values, 1.0);
        sizes.push_back(static_cast<std::size_t>(values.size()));
    }
    // Grows for the first 10 s (100 samples), then holds its size.
    EXPECT_EQ(sizes[9], 50u);
    const std::size_t plateau = sizes[25];
    EXPECT_GE(plateau, 99u);
    EXPECT_LE(plateau, 101u);
    for (std::size_t i = 25; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], plateau) << "batch " << i;
    const StatBlock s = store.Statistics(1.0);
    EXPECT_EQ(s.statCount, 300);
    EXPECT_EQ(s.statElapsed, 29);
    QVector<double> values;
    store.CopyWindow(nullptr, &values, 1.0);
    EXPECT_DOUBLE_EQ(values.back(), 1299.0);  // newest kept, oldest dropped
}

TEST(MeasureStoreTest, WithoutLimitsTheWindowKeepsEverything)
{
    MeasureStore store;
    store.StartStatistics(0, 0);
    for (int b = 0; b < 40; ++b)
        Feed(store, std::vector<double>(30, 7.0 + b), b * 3000);
    QVector<double> values;
    store.CopyWindow(nullptr, &values, 1.0);
    EXPECT_EQ(values.size(), 1200);
}

TEST(MeasureStoreTest, AllValuesEqual)
{
    MeasureStore store;
    store.StartStatistics(100, -1);
    Feed(store, std::vector<double>(20, 42.0));
    const StatBlock s = store.Statistics(1.0);
    EXPECT_DOUBLE_EQ(s.statRatio, 1.0);
    EXPECT_DOUBLE_EQ(s.statStdDev, 0.0);
    ASSERT_EQ(s.histogram.size(), 30);
    for (int b = 0; b < kHistogramBins; ++b) {
        EXPECT_DOUBLE_EQ(s.histogram[3 * b], 42.0);
        EXPECT_DOUBLE_EQ(s.histogram[3 * b + 1], 42.0);
        EXPECT_DOUBLE_EQ(Share(s, b), 0.0);
    }
}

TEST(MeasureStoreTest, HistogramCountsTheMaximumInTheLastBin)
{
    MeasureStore store;
    store.StartStatistics(1000, -1);
    // 0..10 with the maximum three times: 11 distinct values, 13 samples.
    Feed(store, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 10});
    const StatBlock s = store.Statistics(1.0);
    EXPECT_NEAR(ShareSum(s), 100.0, 1e-9);
    EXPECT_NEAR(Share(s, 9), 4.0 / 13.0 * 100.0, 1e-9);  // 9, 10, 10, 10
    EXPECT_NEAR(Share(s, 0), 1.0 / 13.0 * 100.0, 1e-9);

    // Edges that are not exact in binary (width 3.1) still place every value.
    MeasureStore awkward;
    awkward.StartStatistics(1000, -1);
    std::vector<double> v;
    for (int i = 0; i <= 31; ++i)
        v.push_back(1000 + i);
    Feed(awkward, v);
    EXPECT_NEAR(ShareSum(awkward.Statistics(1.0)), 100.0, 1e-9);
}

TEST(MeasureStoreTest, StatisticsInDisplayUnit)
{
    MeasureStore store;
    store.StartStatistics(10, -1);
    Feed(store, {1500000, 2500999});
    const StatBlock s = store.Statistics(1e3);
    EXPECT_DOUBLE_EQ(s.statMax, 2500.999);
    EXPECT_DOUBLE_EQ(s.statMin, 1500.0);
    EXPECT_DOUBLE_EQ(s.statMean, 2000.499);     // 2000499.5 truncated first
    EXPECT_DOUBLE_EQ(s.histogram[0], 1500.0);  // edges converted
    EXPECT_DOUBLE_EQ(s.histogram[2], 50.0);    // shares are not
    EXPECT_NEAR(s.statStdDev, 500499.5, 1e-6); // nanowatts, unconverted
    QVector<double> times, values;
    store.CopyWindow(&times, &values, 1e6);
    ASSERT_EQ(values.size(), 2);
    EXPECT_DOUBLE_EQ(values[1], 2.500999);
    EXPECT_DOUBLE_EQ(times[0], 1000.0);        // seconds, never converted
}

TEST(MeasureStoreTest, StopFreezesAndStartBeginsAfresh)
{
    MeasureStore store;
    store.StartStatistics(100, -1);
    Feed(store, {10, 20, 30}, 1000);
    store.StopStatistics();
    Feed(store, {1000, 2000}, 5000);
    StatBlock s = store.Statistics(1.0);
    EXPECT_FALSE(store.Setting().running);
    EXPECT_EQ(s.statCount, 3);
    EXPECT_DOUBLE_EQ(s.statMax, 30.0);
    EXPECT_EQ(s.histogram.size(), 30);
    // The totals keep running while the run is stopped.
    EXPECT_DOUBLE_EQ(store.TotalMax(), 2000.0);

    store.StartStatistics(-1, 5);
    s = store.Statistics(1.0);
    EXPECT_EQ(s.statCount, 0);
    EXPECT_DOUBLE_EQ(s.statMax, 0.0);
    EXPECT_TRUE(s.histogram.isEmpty());
    QVector<double> values;
    store.CopyWindow(nullptr, &values, 1.0);
    EXPECT_TRUE(values.isEmpty());
    Feed(store, {7}, 90000);
    EXPECT_EQ(store.Setting().firstTimeMs, 90000);
    EXPECT_DOUBLE_EQ(store.Statistics(1.0).statMin, 7.0);
}

TEST(SampleWindowTest, SlidingKeepsOrderAcrossCompaction)
{
    SampleWindow w;
    double next = 0.0;
    double oldest = 0.0;
    for (int round = 0; round < 2000; ++round) {
        w.Reserve(30);
        for (int i = 0; i < 30; ++i) {
            w.Push(next, next * 2);
            next += 1.0;
            if (w.Size() > 500) {
                w.PopFront();
                oldest += 1.0;
            }
        }
        ASSERT_DOUBLE_EQ(w.Times()[0], oldest);
        ASSERT_DOUBLE_EQ(w.Values()[w.Size() - 1], (next - 1.0) * 2);
    }
    EXPECT_EQ(w.Size(), 500u);
    w.PopFront();
    EXPECT_EQ(w.Size(), 499u);
    w.Clear();
    EXPECT_EQ(w.Size(), 0u);
    w.PopFront();  // empty: nothing happens
    EXPECT_EQ(w.Size(), 0u);
}
