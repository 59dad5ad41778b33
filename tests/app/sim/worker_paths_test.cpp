// The worker's less travelled paths: probes that fail half-way, a failed open, a start of
// the stream that has to be retried, a meter pulled out while connected, and the limit of
// samples taken per tick.
#include "worker_fixture.h"

#include <QTimer>

#include <cstdlib>
#include <string>

using namespace workertest;

namespace {

int StatCount(const DeviceRecordPtr &rec)
{
    StatBlock block;
    rec->GetStatistics(&block, nullptr, nullptr);
    return block.statCount;
}

}  // namespace

// ---- probes ---------------------------------------------------------------------------

TEST_F(WorkerTest, MeterGoneBeforeItsProbeIsAnOpenErrorAndTheScanGoesOn)
{
    // Neither meter gets ready, so the first probe takes its full wait; the other meter is
    // pulled out meanwhile and cannot be opened when its turn comes.
    simmeter::MeterConfig never;
    never.faults.ignoreCodes = {0x100B};
    const Meter m13 = Plug("1-3", never);
    const Meter m14 = Plug("1-4", never);

    emit worker->SigScanDev();
    int probing = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            probing = isDevOpen(kId13) == 1 ? kId13 : isDevOpen(kId14) == 1 ? kId14 : -1;
            return probing != -1;
        },
        10000));
    const int other = probing == kId13 ? kId14 : kId13;
    simmeter::VirtualBus::Instance().Unplug(probing == kId13 ? m14 : m13);

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished->count() == 1; }, 20000));
    EXPECT_EQ(debuglines::Count("Scan dev, check inited timeout!"), 1);
    EXPECT_EQ(debuglines::Count("Scan dev, open error!"), 1)
        << debuglines::All().join('\n').toStdString();
    EXPECT_EQ(added->count(), 0);
    EXPECT_FALSE(manager->GetDevRecord(other));
    EXPECT_FALSE(manager->GetDevRecord(probing));
    EXPECT_EQ(isDevOpen(probing), 0);
}

TEST_F(WorkerTest, IdentityThatCannotBeReadKeepsTheMeterOutAndClosed)
{
    simmeter::MeterConfig cfg;
    cfg.faults.ignoreCodes = {0x0010};  // the version, the last of the five texts
    const Meter meter = Plug("1-3", cfg);

    // An earlier reply missing its budget would end the probe sooner.
    ASSERT_TRUE(
        RescanWhile([] { return debuglines::Count("Scan dev, read dev/det name error!") == 0; }));
    EXPECT_EQ(debuglines::Count("Scan dev, read dev/det name error!"), 1);
    EXPECT_EQ(added->count(), 0);
    EXPECT_FALSE(manager->GetDevRecord(kId13));
    EXPECT_EQ(isDevOpen(kId13), 0);
    // The four texts before it were read before the probe gave up, each asked again at
    // most twice when its reply missed the budget on a loaded machine.
    for (uint16_t code : {0x000D, 0x000B, 0x1003, 0x1001}) {
        EXPECT_GE(meter->Model().ReceivedCount(code), 1u) << std::hex << code;
        EXPECT_LE(meter->Model().ReceivedCount(code), std::size_t{OpticalDev::kAttempts})
            << std::hex << code;
    }

    meter->SetFaults(simmeter::FaultConfig{});
    ASSERT_TRUE(ScanUntilKnown(kId13));
    EXPECT_EQ(added->count(), 1);
    EXPECT_FALSE(manager->GetDevRecord(kId13)->version.isEmpty());
}

// ---- opening and starting the stream ---------------------------------------------------

TEST_F(WorkerTest, OpenThatFailsIsReportedAndChangesNothing)
{
    const Meter meter = Plug("1-3");
    ASSERT_TRUE(ScanUntilKnown(kId13));
    simmeter::VirtualBus::Instance().Unplug(meter);  // known to the library, but gone

    const int at = static_cast<int>(relay->order.size());
    emit worker->SigOpenDev(kId13);
    emit worker->SigOpenDev(12345);  // an id the library never reported
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.size() >= at + 2; }, 5000));
    EXPECT_EQ(relay->order.mid(at),
              (QStringList{QStringLiteral("open:%1:false").arg(kId13), "open:12345:false"}));
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_EQ(connChanged->count(), 0);
    EXPECT_TRUE(manager->GetDevRecord(kId13));  // the record waits for the next scan
}

TEST_F(WorkerTest, StartOfTheStreamWithoutAnswerIsRetriedOnTheNextTick)
{
    const Meter meter = Plug("1-3", Steady(7000.0));
    ASSERT_TRUE(ScanUntilKnown(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    simmeter::FaultConfig noStartReply;
    noStartReply.ignoreCodes = {0x0024};
    meter->SetFaults(noStartReply);

    emit worker->SigOpenDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return debuglines::Count("Inited, start result: false") >= 3; }, 10000));
    // Connected once, but no samples are taken while the start is unconfirmed.
    EXPECT_EQ(debuglines::Count("Disonn -> Normal"), 1);
    EXPECT_EQ(relay->order.count(Conn(kId13, true)), 1);
    EXPECT_EQ(rec->LatestRaw(), 0);
    // Each attempt was a request of its own (written when the device thread gets to it).
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter->Model().ReceivedCount(0x0024) >= 3u; }, 5000))
        << meter->Model().ReceivedCount(0x0024);

    meter->SetFaults(simmeter::FaultConfig{});
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(rec->LatestRaw() - 7000) <= 70; }, 5000))
        << rec->LatestRaw();
    EXPECT_EQ(debuglines::Count("Inited, start result: true"), 1);
    EXPECT_EQ(debuglines::Count("Disonn -> Normal"), 1);
}

// ---- a meter pulled out ----------------------------------------------------------------

TEST_F(WorkerTest, UnpluggedMeterThatIsNotSelectedDisconnectsWhileTheSelectedOneStreams)
{
    const Meter selected = Plug("1-3", Steady(1000.0));
    const Meter other = Plug("1-4", Steady(2000.0));
    ASSERT_TRUE(ConnectStreaming(kId13)) << debuglines::All().join('\n').toStdString();
    ASSERT_TRUE(ConnectStreaming(kId14)) << debuglines::All().join('\n').toStdString();
    manager->SetSelDev(kId13);
    const DeviceRecordPtr rec13 = manager->GetDevRecord(kId13);
    const DeviceRecordPtr rec14 = manager->GetDevRecord(kId14);
    ASSERT_TRUE(rec13 && rec14);

    simmeter::VirtualBus::Instance().Unplug(other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId14, false)); }, 5000))
        << relay->order.join(' ').toStdString();
    EXPECT_EQ(debuglines::Count("Normal -> Disonn"), 1);
    EXPECT_EQ(isDevOpen(kId14), 1);  // still open in the library until someone closes it
    bool connected14 = true;
    InWorker([&] { connected14 = rec14->connected; });
    EXPECT_FALSE(connected14);

    // The selected meter goes on streaming into its record, and stays connected.
    manager->StartSelStatistics(0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatCount(rec13) >= 20; }, 5000));
    EXPECT_EQ(relay->order.count(Conn(kId13, false)), 0);
    EXPECT_EQ(relay->order.count(Conn(kId14, false)), 1);  // said once, not every tick
    EXPECT_NEAR(static_cast<double>(rec13->LatestRaw()), 1000.0, 10.0);
    EXPECT_EQ(manager->GetDevRecord(kId14), rec14);  // it stays known until a scan

    const int removedAt = static_cast<int>(relay->order.size());
    ASSERT_TRUE(Scan());
    EXPECT_EQ(relay->order.mid(removedAt),
              (QStringList{QStringLiteral("remove:%1").arg(kId14), "finish"}));
    EXPECT_EQ(manager->GetSelDev(), kId13);
}

// ---- samples per tick -------------------------------------------------------------------

TEST_F(WorkerTest, OneTickTakesAtMost30SamplesAndLeavesTheRestForTheNext)
{
    const Meter meter = Plug("1-3", Steady(3000.0, 2000));  // 100 samples per 50 ms
    ASSERT_TRUE(ConnectStreaming(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);

    // Only the ticks run below count: stop the poll timer (the worker's child) in its thread.
    InWorker([&] { worker->findChild<QTimer *>()->stop(); });
    rec->StartStatistics(0, 0);
    auto tick = [&] {
        const int before = StatCount(rec);
        InWorker([&] { QMetaObject::invokeMethod(worker, "UpdateStatus", Qt::DirectConnection); });
        return StatCount(rec) - before;
    };

    // Let a backlog of 200 ms build up, then tick three times in a row: each tick takes
    // 30 and leaves the rest. The meter's count is what it handed to the bus; on a loaded
    // machine the library may not have read all of it yet, so a short burst is retried
    // after the next backlog.
    QList<int> bursts;
    bool capped = false;
    for (int attempt = 0; attempt < 5 && !capped; ++attempt) {
        const uint64_t sent = meter->Model().SamplesSent();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return meter->Model().SamplesSent() >= sent + 400; }, 5000));
        const QList<int> burst{tick(), tick(), tick()};
        bursts += burst;
        capped = burst == QList<int>{30, 30, 30};
    }
    std::string taken;
    for (int n : bursts)
        taken += std::to_string(n) + ' ';
    EXPECT_TRUE(capped) << "taken per tick: " << taken;
    for (int n : bursts)
        EXPECT_LE(n, 30) << "taken per tick: " << taken;
    InWorker([&] { worker->findChild<QTimer *>()->start(); });
}
