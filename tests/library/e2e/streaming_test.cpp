// Streaming: the bounded power queue, closing while streaming, rescans and unplugs.
#include "meter_fixture.h"

#include <QElapsedTimer>

using namespace e2e;

TEST_F(MeterTest, AnUnreadQueueKeepsTheNewest401Records)
{
    Meter meter = Plug("1-3");
    simmeter::SignalConfig signal;
    signal.sampleRateHz = 1000;
    meter->Model().SetSignal(signal);
    OpenReady(kId13);
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    ASSERT_TRUE(WaitFor([&] { return meter->Model().SamplesSent() >= 500; }, 3000));
    ASSERT_EQ(Answered([&] { return stopTransfer(kId13); }), 0);
    ASSERT_TRUE(WaitFor([&] { return !meter->Model().IsStreaming(); }, 1000));
    // The last samples may still be in flight; every one past 401 drops the oldest.
    const int sent = static_cast<int>(meter->Model().SamplesSent());
    WaitFor([&] { return CountLog("<50331648> Remove one power data!") >= sent - 401; }, 2000);
    std::vector<PowerData> all(600);
    const int n = getData(kId13, all.data(), 600);
    EXPECT_EQ(n, 401);
    EXPECT_EQ(CountLog("<50331648> Remove one power data!"), sent - 401);
    // Oldest first, and the newest survived.
    for (int i = 1; i < n; ++i)
        EXPECT_EQ(all[i].time - all[i - 1].time, 1);
    EXPECT_EQ(getData(kId13, all.data(), 600), 0);
    double power;
    int time;
    EXPECT_EQ(getSingleData(kId13, &power, &time), -4);
}

TEST_F(MeterTest, ClosingWhileStreamingStopsTheMeterLastAndKeepsQueuedRecords)
{
    Meter meter = OpenMeter();
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    ASSERT_TRUE(WaitFor([&] { return meter->Model().SamplesSent() >= 20; }, 2000));
    ASSERT_EQ(closeDev(kId13), 0);
    EXPECT_FALSE(meter->Model().IsStreaming());
    const auto frames = meter->Model().Received();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().code, 0x0025);
    double power = 0;
    int time = 0;
    EXPECT_EQ(getSingleData(kId13, &power, &time), 0);
    EXPECT_GT(power, 0);
    PowerData rest[64];
    EXPECT_GT(getData(kId13, rest, 64), 0);
}

TEST_F(MeterTest, ARescanKeepsStreamingMetersAndDropsUnpluggedOnes)
{
    Meter a = Plug("1-3");
    Meter b = Plug("1-1.2");
    OpenReady(kId13);
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    int ids[8];
    ASSERT_EQ(scanDev(ids, 8), 2);
    tessivar::DevThread* before = Device(kId13);
    ASSERT_EQ(scanDev(ids, 8), 2);
    EXPECT_EQ(Device(kId13), before);  // same device thread, same queues
    EXPECT_EQ(isInited(kId13), 1);
    EXPECT_TRUE(StillStreams(kId13)) << "stream stopped";

    simmeter::VirtualBus::Instance().Unplug(b);
    ASSERT_TRUE(WaitFor([&] { return scanDev(ids, 8) == 1; }, 2000));
    EXPECT_EQ(ids[0], kId13);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(isDevOpen(kId112), -1);
    // A scan with less room than meters registers only what fits.
    b = Plug("1-1.2");
    ASSERT_TRUE(WaitFor([&] { return scanDev(ids, 8) == 2; }, 2000));
    ASSERT_EQ(scanDev(ids, 1), 1);
    EXPECT_EQ(isDevOpen(ids[0] == kId13 ? kId112 : kId13), -1);
}

TEST_F(MeterTest, UnplugWhileStreamingIsReportedAtMostEvery100ms)
{
    Meter meter = OpenMeter();
    ASSERT_EQ(Answered([] { return startTransfer(kId13); }), 0);
    ASSERT_TRUE(WaitFor([&] { return meter->Model().SamplesSent() >= 10; }, 2000));
    CapturedMessages messages;
    simmeter::VirtualBus::Instance().Unplug(meter);
    QThread::msleep(1000);
    const int readErrors = messages.Lines().filter("Error while waiting for data").size();
    const int errors = CountLog("<50331648> Error recv data, ");
    EXPECT_GE(errors, 1);
    EXPECT_LE(errors, 12);
    // Every read fails at once now; the loop must still keep its 10 ms period instead of
    // spinning (which would mean thousands of failed reads per second).
    EXPECT_LE(readErrors, 200);
    EXPECT_EQ(closeDev(kId13), 0);
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_EQ(Scan(), 0);
    EXPECT_EQ(isDevOpen(kId13), -1);
}

TEST_F(MeterTest, AnUnpluggedMeterIsNoLongerReadyButStaysOpenUntilClosed)
{
    Meter gone = Plug("1-1.2");
    Meter stays = Plug("1-3");
    OpenReady(kId112);
    ASSERT_EQ(openDev(kId13), 0);
    ASSERT_TRUE(Ready(kId13));
    ASSERT_EQ(Answered([&] { return startTransfer(kId112); }), 0);
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    ASSERT_TRUE(WaitFor([&] { return gone->Model().SamplesSent() >= 10; }, 2000));

    QElapsedTimer sinceUnplug;
    sinceUnplug.start();
    simmeter::VirtualBus::Instance().Unplug(gone);
    ASSERT_TRUE(WaitFor([&] { return isInited(kId112) == 0; }, 2000)) << "still reported ready";
    EXPECT_EQ(isDevOpen(kId112), 1);
    EXPECT_EQ(startTransfer(kId112), TESSIVAR_ERR_NOT_INITED);  // refused at once, no wait

    // Past the 2 s that an initialising meter gets, the loop still runs and reports the
    // lost meter as before: one recovery attempt and one error line per 100 ms at most.
    const QString errorLine = QStringLiteral("<%1> Error recv data, -4").arg(kId112);
    ASSERT_TRUE(WaitFor([&] { return CountLog(errorLine) >= 22; }, 10000)) << CountLog(errorLine);
    EXPECT_LE(CountLog(errorLine), sinceUnplug.elapsed() / 100 + 1);
    EXPECT_EQ(isDevOpen(kId112), 1);
    EXPECT_EQ(isInited(kId112), 0);

    // The other meter is untouched.
    EXPECT_EQ(isInited(kId13), 1);
    EXPECT_TRUE(StillStreams(kId13)) << "stream stopped";

    EXPECT_EQ(closeDev(kId112), 0);
    EXPECT_EQ(isDevOpen(kId112), 0);
}
