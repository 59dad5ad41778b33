// The look-out's decisions over time, with records standing in for the device manager.
#include "lookout.h"

#include <QMap>

#include <vector>

#include <gtest/gtest.h>

namespace {

struct LookoutTest : ::testing::Test {
    Lookout lookout;
    QMap<int, DeviceRecordPtr> known;  // the device manager's records by id
    qint64 now = 100000;
    int selected = -1;

    DeviceRecordPtr Meter(int id, const char *head, bool streaming = true)
    {
        auto rec = std::make_shared<DeviceRecord>(id, "OPM", "probe", head, "P1");
        rec->SetStreaming(streaming);
        known[id] = rec;
        return rec;
    }
    Lookout::Step Tick(qint64 ms = 50)
    {
        now += ms;
        return lookout.Tick(
            now, [this](int id) { return known.value(id); }, selected);
    }
    // Ticks for `ms`; counts the scans asked for and collects the ids to forget.
    int Run(qint64 ms, std::vector<int> *forget = nullptr)
    {
        int scans = 0;
        for (qint64 t = 0; t < ms; t += 50) {
            const Lookout::Step s = Tick();
            scans += s.scan;
            for (int i = 0; forget && i < s.forget.size(); ++i)
                forget->push_back(s.forget.at(i));
        }
        return scans;
    }
};

TEST_F(LookoutTest, AStreamingMeterCostsNoScanAndAQuietOneIsForgottenAndLookedFor)
{
    const DeviceRecordPtr rec = Meter(1, "H1");
    lookout.Opened(rec, now);
    EXPECT_EQ(Run(60000), 0);
    EXPECT_FALSE(lookout.AnyMissing());

    rec->SetStreaming(false);  // unplugged: the worker saw it stop being ready
    std::vector<int> forget;
    EXPECT_EQ(Run(Lookout::kMissingAfterMs - 100, &forget), 0);
    EXPECT_TRUE(forget.empty()) << "a short pause is not a loss";
    EXPECT_EQ(Run(200, &forget), 1);
    EXPECT_EQ(forget, std::vector<int>{1});  // dropped once, so that a scan probes it again
    known.remove(1);
    // One scan at a time: none while one runs, then about every kScanEveryMs.
    EXPECT_EQ(Run(10000), 0);
    lookout.ScanFinished();
    EXPECT_EQ(Run(50), 1);
    lookout.ScanFinished();
    EXPECT_EQ(Run(Lookout::kScanEveryMs - 100), 0);
    lookout.ScanFinished();
    EXPECT_EQ(Run(200), 1);
    // A scan that never reports its end does not stop the look-out for good.
    EXPECT_GE(Run(Lookout::kScanGiveUpMs + Lookout::kScanEveryMs), 1);
}

TEST_F(LookoutTest, TheSameMeterComesBackUnderAnyIdWithItsSettingsAndSelection)
{
    const DeviceRecordPtr before = Meter(1, "H1");
    before->SetAttenuation(3.0);
    selected = 1;
    lookout.Opened(before, now);
    Run(500);
    before->SetStreaming(false);
    known.remove(1);  // a scan no longer found it
    selected = -1;
    Run(3000);
    lookout.ScanFinished();

    // Another meter, and the same head with another probe, are not this meter.
    auto other = std::make_shared<DeviceRecord>(2, "OPM", "probe", "H2", "P1");
    auto otherProbe = std::make_shared<DeviceRecord>(4, "OPM", "probe", "H1", "P9");
    EXPECT_FALSE(lookout.Appeared(other, now));
    EXPECT_FALSE(lookout.Appeared(otherProbe, now));

    const DeviceRecordPtr after = Meter(3, "H1", false);  // on another port
    EXPECT_TRUE(lookout.Appeared(after, now));
    EXPECT_FALSE(lookout.Appeared(after, now)) << "connected once";
    lookout.Opened(after, now);
    after->SetStreaming(true);
    const std::optional<Lookout::Restore> back = lookout.Ready(3);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->from, before);
    EXPECT_DOUBLE_EQ(back->from->Attenuation(), 3.0);
    EXPECT_TRUE(back->select);
    EXPECT_FALSE(lookout.Ready(3)) << "given back once";
    EXPECT_EQ(Run(10000), 0);
    EXPECT_TRUE(lookout.IsWanted(3));
    EXPECT_FALSE(lookout.IsWanted(1));
}

TEST_F(LookoutTest, OnlyMetersTheUserConnectedAndDidNotCloseAreLookedFor)
{
    const DeviceRecordPtr rec = Meter(1, "H1");
    EXPECT_FALSE(lookout.Appeared(rec, now)) << "never connected";
    lookout.Opened(rec, now);
    lookout.Closed(1);
    rec->SetStreaming(false);
    EXPECT_EQ(Run(10000), 0);
    EXPECT_FALSE(lookout.Appeared(Meter(2, "H1", false), now));
    EXPECT_EQ(lookout.WantedCount(), 0);
}

TEST_F(LookoutTest, AReconnectThatFailsOrNeverStreamsIsTriedAgain)
{
    lookout.Opened(Meter(1, "H1"), now);
    known[1]->SetStreaming(false);
    known.remove(1);
    Run(3000);
    lookout.ScanFinished();

    EXPECT_TRUE(lookout.Appeared(Meter(2, "H1", false), now));
    lookout.OpenFailed(2, now);
    std::vector<int> forget;
    EXPECT_EQ(Run(Lookout::kScanEveryMs + 100, &forget), 1);
    EXPECT_EQ(forget, std::vector<int>{2});
    known.remove(2);
    lookout.ScanFinished();

    EXPECT_TRUE(lookout.Appeared(Meter(5, "H1", false), now));
    lookout.Opened(known[5], now);  // opened, but it never gets to stream
    forget.clear();
    EXPECT_EQ(Run(Lookout::kReconnectTimeoutMs - 200, &forget), 0);
    EXPECT_GE(Run(Lookout::kScanEveryMs + 400, &forget), 1);
    EXPECT_EQ(forget, std::vector<int>{5});
}

}  // namespace
