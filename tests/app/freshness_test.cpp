// When a meter's newest sample still counts as a present measurement: the cadence judged
// from the time stamps, and the record's marks that readers such as the recorder rely on.
#include "devicerecord.h"
#include "samplecadence.h"

#include <gtest/gtest.h>

namespace {

SampleCadence Every(qint64 intervalMs, int samples, qint64 from = 0)
{
    SampleCadence c;
    for (int i = 0; i < samples; ++i)
        c.Add(from + i * intervalMs);
    return c;
}

TEST(SampleCadence, LimitFollowsTheIntervalsSeenWithinItsBounds)
{
    struct Row {
        qint64 intervalMs;
        qint64 staleAfterMs;
    };
    for (const Row &r : {Row{10, SampleCadence::kMinStaleMs}, Row{500, 1500}, Row{2000, 6000},
                         Row{40000, SampleCadence::kMaxStaleMs}}) {
        const SampleCadence c = Every(r.intervalMs, 20);
        EXPECT_EQ(c.IntervalMs(), r.intervalMs);
        EXPECT_EQ(c.StaleAfterMs(), r.staleAfterMs) << r.intervalMs;
    }
    EXPECT_EQ(SampleCadence().StaleAfterMs(), SampleCadence::kMinStaleMs);
}

TEST(SampleCadence, OnePauseDoesNotStretchTheLimitButASlowerMeterDoes)
{
    SampleCadence c = Every(100, 20);
    c.Add(19 * 100 + 30000);  // the meter was away for 30 s
    for (int i = 1; i < 5; ++i)
        c.Add(19 * 100 + 30000 + i * 100);
    EXPECT_EQ(c.IntervalMs(), 100);
    // Repeated and backward stamps are not intervals.
    c.Add(0);
    c.Add(0);
    EXPECT_EQ(c.IntervalMs(), 100);
    // The meter now averages longer: within a window the new cadence rules.
    qint64 t = 19 * 100 + 30000 + 400;
    for (int i = 0; i < SampleCadence::kWindow; ++i)
        c.Add(t += 3000);
    EXPECT_EQ(c.StaleAfterMs(), 9000);
}

TEST(DeviceRecordFreshness, FreshOnlyWhileStreamingAndYoungerThanTheLimit)
{
    DeviceRecord rec(1, "head", "probe");
    const qint64 now = DeviceRecord::SteadyNowMs();
    EXPECT_FALSE(rec.IsFresh(now)) << "no sample yet";
    const PowerData batch[] = {{1000, 5.0}, {1100, 6.0}};
    rec.AddSamples(batch, 2);
    EXPECT_FALSE(rec.IsFresh(DeviceRecord::SteadyNowMs())) << "not streaming";
    rec.SetStreaming(true);
    const qint64 arrived = rec.LastArrivalMs();
    EXPECT_GE(arrived, now);
    EXPECT_TRUE(rec.IsFresh(arrived));
    EXPECT_TRUE(rec.IsFresh(arrived + rec.StaleAfterMs() - 1));
    EXPECT_FALSE(rec.IsFresh(arrived + rec.StaleAfterMs()));
    rec.SetStreaming(false);
    EXPECT_FALSE(rec.IsFresh(arrived));
}

TEST(DeviceRecordFreshness, ArrivalCountGrowsByEachBatchAndSurvivesAReset)
{
    DeviceRecord rec(1, "head", "probe");
    EXPECT_EQ(rec.ArrivedSamples(), 0);
    const PowerData batch[] = {{1000, 5.0}, {1100, 6.0}, {1200, 7.0}};
    rec.AddSamples(batch, 3);
    rec.AddSamples(batch, 0);  // an empty poll is no batch
    EXPECT_EQ(rec.ArrivedSamples(), 3);
    rec.ResetTotals();
    rec.AddSamples(batch, 2);
    EXPECT_EQ(rec.ArrivedSamples(), 5);
}

}  // namespace
