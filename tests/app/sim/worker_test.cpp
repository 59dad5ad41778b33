// The device worker against simulated meters: scans and probes, the connection life of a
// meter, settings and direct queries, the liveness check's device side.
#include "worker_fixture.h"

#include <QElapsedTimer>

#include <cmath>
#include <vector>

using namespace workertest;

// ---- scans ----------------------------------------------------------------------------

TEST_F(WorkerTest, ScanWithoutMetersRemovesKnownOnesAndStillFinishes)
{
    manager->AddDevRecord(1, "gone", "gone");
    manager->AddDevRecord(2, "gone", "gone");
    const DeviceRecordPtr old = manager->GetDevRecord(2);

    ASSERT_TRUE(Scan());
    EXPECT_EQ(relay->order, (QStringList{"remove:1", "remove:2", "finish"}));
    int ids[8];
    EXPECT_EQ(manager->GetDevIds(ids, 8), 0);
    EXPECT_TRUE(old->IsRemoved());
    EXPECT_EQ(added->count(), 0);
}

TEST_F(WorkerTest, NewMeterIsProbedAddedWithItsIdentityAndClosedAgain)
{
    simmeter::MeterConfig cfg;
    cfg.identity =
        simmeter::MeterIdentity{"OPM-H200", "H2026-0042", "PD-S120", "P-77031", "FW 2.1.7"};
    const Meter meter = Plug("1-3", cfg);

    ASSERT_TRUE(Scan());
    ASSERT_EQ(relay->order, (QStringList{QStringLiteral("add:%1").arg(kId13), "finish"}));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->devName, QStringLiteral("OPM-H200"));
    EXPECT_EQ(rec->devSerial, QStringLiteral("H2026-0042"));
    EXPECT_EQ(rec->detName, QStringLiteral("PD-S120"));
    EXPECT_EQ(rec->detSerial, QStringLiteral("P-77031"));
    EXPECT_EQ(rec->version, QStringLiteral("FW 2.1.7"));
    EXPECT_EQ(isDevOpen(kId13), 0);  // probed, then left closed
    EXPECT_EQ(meter->Model().ReceivedCount(0x0001), 1u);
    // Read once, or again after a reply a loaded machine delayed past its budget.
    EXPECT_GE(meter->Model().ReceivedCount(0x101B), 1u);
    EXPECT_LE(meter->Model().ReceivedCount(0x101B), 3u);
    EXPECT_FALSE(meter->IsStreaming());

    // A meter that stays plugged in is not touched again.
    ASSERT_TRUE(Scan());
    EXPECT_EQ(added->count(), 1);
    EXPECT_EQ(manager->GetDevRecord(kId13), rec);
    EXPECT_EQ(meter->Model().ReceivedCount(0x0001), 1u);

    // Unplugged, it is removed by the next scan.
    simmeter::VirtualBus::Instance().Unplug(meter);
    ASSERT_TRUE(Scan());
    const QString add = QStringLiteral("add:%1").arg(kId13);
    const QString remove = QStringLiteral("remove:%1").arg(kId13);
    EXPECT_EQ(relay->order, (QStringList{add, "finish", "finish", remove, "finish"}));
    EXPECT_FALSE(manager->GetDevRecord(kId13));
    EXPECT_TRUE(rec->IsRemoved());
}

TEST_F(WorkerTest, DetachedProbeKeepsTheMeterOutUntilARescan)
{
    // Probe detached: refused, and a new scan after attaching it adds the meter.
    simmeter::MeterConfig detached;
    detached.faults.detectorState = 0;
    const Meter meter = Plug("1-3", detached);
    ASSERT_TRUE(Scan());
    EXPECT_EQ(added->count(), 0);
    EXPECT_EQ(debuglines::Count("Scan dev, detector not connected 0"), 1);
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_FALSE(manager->GetDevRecord(kId13));

    simmeter::FaultConfig attached;
    meter->SetFaults(attached);
    ASSERT_TRUE(Scan());
    EXPECT_EQ(added->count(), 1);
    EXPECT_TRUE(manager->GetDevRecord(kId13));
}

TEST_F(WorkerTest, MeterThatNeverGetsReadyIsClosedAfterAboutThreeSeconds)
{
    simmeter::MeterConfig cfg;
    cfg.faults.ignoreCodes = {0x100B};  // the level calibration never arrives
    Plug("1-3", cfg);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Scan());
    const qint64 took = clock.elapsed();
    EXPECT_GE(took, 2800);  // 300 rounds of 10 ms at least
    EXPECT_LT(took, 15000);
    EXPECT_EQ(debuglines::Count("Scan dev, check inited timeout!"), 1);
    EXPECT_EQ(added->count(), 0);
    EXPECT_FALSE(manager->GetDevRecord(kId13));
    EXPECT_EQ(isDevOpen(kId13), 0);
}

TEST_F(WorkerTest, OnlyEightMetersAreConsidered)
{
    std::vector<Meter> meters;
    for (int port = 1; port <= 9; ++port)
        meters.push_back(Plug("1-" + std::to_string(port)));
    ASSERT_TRUE(Scan(60000));
    ASSERT_TRUE(RescanWhile([&] { return added->count() < 8; }, 60000));
    EXPECT_EQ(added->count(), 8) << debuglines::All().join('\n').toStdString();
    int ids[16];
    EXPECT_EQ(manager->GetDevIds(ids, 16), 8);
    int touched = 0;
    for (const Meter &m : meters)
        touched += m->Model().ReceivedCount(0x0001) > 0 ? 1 : 0;
    EXPECT_EQ(touched, 8);  // the ninth is never opened
}

// ---- connection life ----------------------------------------------------------------

TEST_F(WorkerTest, OpenStreamsIntoTheRecordAndCloseDisconnectsWithinATick)
{
    const Meter meter = Plug("1-3", Steady(250000.0));
    ASSERT_TRUE(ScanUntilKnown(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    ASSERT_TRUE(rec);

    emit worker->SigOpenDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId13, true)); }, 10000));
    const int openAt =
        static_cast<int>(relay->order.indexOf(QStringLiteral("open:%1:true").arg(kId13)));
    ASSERT_GE(openAt, 0);
    EXPECT_LT(openAt, relay->order.indexOf(Conn(kId13, true)));
    EXPECT_EQ(debuglines::Count("Disonn -> Normal"), 1);

    // The first ready tick read the probe's range and the meter's settings.
    int waveMin = 0, waveMax = 0;
    bool connected = false;
    InWorker([&] {
        waveMin = rec->waveMin;
        waveMax = rec->waveMax;
        connected = rec->connected;
    });
    EXPECT_TRUE(connected);
    EXPECT_EQ(waveMin, 400);
    EXPECT_EQ(waveMax, 1100);
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 532.0f);
    EXPECT_EQ(rec->average.load(), 1u);

    // Then the transfer started and samples reach the record.
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(rec->LatestRaw() - 250000) < 2500; }, 5000))
        << rec->LatestRaw();
    EXPECT_EQ(debuglines::Count("Inited, start result: true"), 1);
    EXPECT_TRUE(meter->IsStreaming());
    EXPECT_GE(meter->Model().ReceivedCount(0x0024), 1u);  // again only after a missed reply
    EXPECT_LE(meter->Model().ReceivedCount(0x0024), 3u);
    manager->SetSelDev(kId13);
    double totals[3];
    ASSERT_TRUE(manager->GetSelPower(nullptr, totals));
    EXPECT_NEAR(totals[2], 250000.0, 2500.0);

    // Close: the next tick notices.
    QElapsedTimer clock;
    clock.start();
    emit worker->SigCloseDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId13, false)); }, 3000));
    EXPECT_LT(clock.elapsed(), 2000);  // one 50 ms tick plus the close itself, on a busy VM
    EXPECT_EQ(debuglines::Count("Normal -> Disonn"), 1);
    EXPECT_EQ(connChanged->count(), 2);
    // The record stays known.
    EXPECT_EQ(manager->GetDevRecord(kId13), rec);
}

TEST_F(WorkerTest, ReadinessRegainedRepeatsTheStartSequence)
{
    const Meter meter = Plug("1-3", Steady(100000.0));
    ASSERT_TRUE(ConnectStreaming(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);

    emit worker->SigSetWaveLen(kId13, 850.5f);
    emit worker->SigSetAverage(kId13, 16);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->average.load() == 16u; }, 5000));
    EXPECT_EQ(meter->Model().Average(), 16);
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 850.5f);

    emit worker->SigCloseDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId13, false)); }, 5000));
    meter->SetSignal(Steady(400000.0).signal);

    emit worker->SigOpenDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return connChanged->count() == 3; }, 10000));
    EXPECT_EQ(connChanged->at(2).at(1).toBool(), true);
    EXPECT_EQ(debuglines::Count("Disonn -> Normal"), 2);
    // Read afresh from the meter: whole nanometres now.
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 850.0f);
    EXPECT_EQ(rec->average.load(), 16u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(rec->LatestRaw() - 400000) < 4000; }, 5000))
        << rec->LatestRaw();
    // Streaming started once per open (a start whose reply a loaded machine delayed is sent
    // again), and reported started twice.
    EXPECT_GE(meter->Model().ReceivedCount(0x0024), 2u);
    EXPECT_LE(meter->Model().ReceivedCount(0x0024), 6u);
    EXPECT_EQ(debuglines::Count("Inited, start result: true"), 2);
}

TEST_F(WorkerTest, UnreadableSettingsOnTheFirstReadyTickKeepTheRecordsOrShowTheDefault)
{
    const Meter meter = Plug("1-3", Steady(1000.0));
    ASSERT_TRUE(ScanUntilKnown(kId13));
    simmeter::FaultConfig faults;
    faults.ignoreCodes = {0x1016, 0x1018};  // average, wavelength
    meter->SetFaults(faults);
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    ASSERT_EQ(rec->waveLen.load(), 0.0f);  // never read: the default shows
    emit worker->SigOpenDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId13, true)); }, 10000));
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 532.0f);
    EXPECT_EQ(rec->average.load(), 0u);
    EXPECT_EQ(meter->Model().ReceivedCount(0x1018), std::size_t{OpticalDev::kAttempts});

    // Settings of an earlier connection are not replaced by the defaults.
    emit worker->SigCloseDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.contains(Conn(kId13, false)); }, 5000));
    rec->waveLen.store(777.0f);
    rec->average.store(9);
    emit worker->SigOpenDev(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay->order.count(Conn(kId13, true)) == 2; }, 10000));
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 777.0f);
    EXPECT_EQ(rec->average.load(), 9u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->LatestRaw() != 0; }, 5000));
}

TEST_F(WorkerTest, StreamingThatWillNotStartIsReportedOnceAndOnceMoreWhenItStarts)
{
    const Meter meter = Plug("1-3", Steady(1000.0));
    ASSERT_TRUE(ScanUntilKnown(kId13));
    QObject here;  // the messages are read in this thread
    QStringList messages;
    QObject::connect(
        worker, &OpticalDev::SigDevMessage, &here,
        [&](int id, const QString &text) { messages << QStringLiteral("%1:%2").arg(id).arg(text); },
        Qt::QueuedConnection);
    simmeter::FaultConfig lost;
    lost.dropCodes = {0x0024};  // start transfer
    meter->SetFaults(lost);
    emit worker->SigOpenDev(kId13);
    const QString failing =
        QStringLiteral("%1:").arg(kId13) + QString::fromUtf8("设备未能开始传输数据，正在重试");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return meter->Model().ReceivedCount(0x0024) > 2 * OpticalDev::kStartFailuresToReport;
        },
        10000));
    EXPECT_EQ(messages, QStringList{failing});  // once, however long it goes on

    meter->SetFaults({});
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->LatestRaw() != 0; }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(messages, (QStringList{failing, QStringLiteral("%1:").arg(kId13) +
                                                  QString::fromUtf8("设备已开始传输数据")}));
}

TEST_F(WorkerTest, SettingsAndDirectQueries)
{
    const Meter meter = Plug("1-3", Steady(2000.0));
    ASSERT_TRUE(ConnectStreaming(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
    meter->ClearReceived();

    emit worker->SigSetWaveLen(kId13, 1310.7f);
    emit worker->SigSetAverage(kId13, 64);
    // The record follows once the command has returned in the worker.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->average.load() == 64u; }, 5000));
    EXPECT_EQ(meter->Model().Average(), 64);
    EXPECT_EQ(meter->Model().SampleWavelength(), 1310);  // sent truncated...
    EXPECT_FLOAT_EQ(rec->waveLen.load(), 1310.7f);       // ...kept as given
    // Once, or again after a reply that a loaded machine delayed past its budget.
    EXPECT_GE(meter->Model().ReceivedCount(0x1017), 1u);
    EXPECT_LE(meter->Model().ReceivedCount(0x1017), 3u);
    EXPECT_EQ(debuglines::Count(QString::fromUtf8("设置采样平均个数: 64 0")), 1);

    // For an id the manager does not know the library is still called; no record appears.
    emit worker->SigSetAverage(12345, 7);
    emit worker->SigSetWaveLen(12345, 600.0f);
    InWorker([] {});
    EXPECT_EQ(debuglines::Count(QString::fromUtf8("设置采样平均个数: 7 -1")), 1);
    EXPECT_FALSE(manager->GetDevRecord(12345));

    // The direct queries run in this thread. Each is one library call with its reply
    // budget; a loaded machine can delay a reply past it, so a failed answer is asked for
    // again, as a caller who knows the budget does.
    const auto asked = [](const auto &query, const auto &failed) {
        auto v = query();
        for (int i = 1; i < 5 && v == failed; ++i)
            v = query();
        return v;
    };
    EXPECT_EQ(asked([&] { return worker->ReadAverage(kId13); }, -1), 64);
    EXPECT_DOUBLE_EQ(asked([&] { return worker->ReadWaveLen(kId13); }, 532.0), 1310.0);
    EXPECT_EQ(asked([&] { return worker->ReadCalibDate(kId13); }, QString()),
              QStringLiteral("2026-01-15"));
    EXPECT_DOUBLE_EQ(worker->ReadZeroOffset(kId13), 0.0);
    worker->ClearZeroOffset(kId13);
    EXPECT_GT(meter->Model().ZeroOffset(), 100.0);  // the latest uncorrected sample
    const auto zero = [&] {
        bool read = false;
        const double v = worker->ReadZeroOffset(kId13, &read);
        return read ? v : -1.0;
    };
    EXPECT_NEAR(asked(zero, -1.0), meter->Model().ZeroOffset(), 1e-6);
    worker->EnterDiskMode(kId13);
    EXPECT_TRUE(meter->Model().InDiskMode());
    EXPECT_EQ(worker->ReadAverage(999), -1);
    EXPECT_DOUBLE_EQ(worker->ReadWaveLen(999), 532.0);
    EXPECT_DOUBLE_EQ(worker->ReadZeroOffset(999), 0.0);
    EXPECT_TRUE(worker->ReadCalibDate(999).isEmpty());
}

// ---- liveness check -------------------------------------------------------------------

TEST_F(WorkerTest, LivenessCheckFollowsTheProbeAndRemovalReprobes)
{
    const Meter meter = Plug("1-3", Steady(5000.0));
    ASSERT_TRUE(ConnectStreaming(kId13));
    const DeviceRecordPtr rec = manager->GetDevRecord(kId13);

    EXPECT_FALSE(manager->IsSelDetConnected());  // nothing selected
    manager->SetSelDev(kId13);
    EXPECT_TRUE(manager->IsSelDetConnected());
    simmeter::FaultConfig detached;
    detached.detectorState = 1;
    meter->SetFaults(detached);
    EXPECT_FALSE(manager->IsSelDetConnected());
    meter->SetFaults(simmeter::FaultConfig{});
    EXPECT_TRUE(manager->IsSelDetConnected());

    // The main window's removal after the third failure.
    const int addsBefore = added->count();
    const int scansBefore = finished->count();
    manager->RemoveLostDev(kId13);
    EXPECT_EQ(manager->GetSelDev(), -1);
    EXPECT_FALSE(manager->GetDevRecord(kId13));
    EXPECT_TRUE(rec->IsRemoved());

    // The queued close and scan follow: the meter is closed and offered again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished->count() > scansBefore; }, 15000));
    ASSERT_TRUE(ScanUntilKnown(kId13));
    EXPECT_EQ(added->count(), addsBefore + 1);
    const DeviceRecordPtr fresh = manager->GetDevRecord(kId13);
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh, rec);
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_FALSE(meter->IsStreaming());
    // The removed record is no longer fed.
    const qint64 frozen = rec->LatestRaw();
    InWorker([] {});
    QThread::msleep(150);
    InWorker([] {});
    EXPECT_EQ(rec->LatestRaw(), frozen);
}
