// The liveness removal racing the worker's poll. The GUI side (this thread and a reader
// thread standing in for the data file writers) removes the streaming meter while the
// worker feeds its record; the worker's queued scan re-probes it and the test reconnects.
// Run under ASan and TSan: a record freed under the worker's feet shows up there.
#include "worker_fixture.h"

#include <QThread>

#include <atomic>

using namespace workertest;

TEST_F(WorkerTest, LivenessRemovalRacingThePoll)
{
    const Meter meter = Plug("1-3");
    ASSERT_TRUE(ConnectStreaming(kId13));

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    QThread *reader = QThread::create([&] {
        while (!stop.load()) {
            if (const DeviceRecordPtr rec = manager->GetDevRecord(kId13)) {
                StatBlock block;
                QVector<double> times, values;
                rec->GetStatistics(&block, &times, &values);
                volatile float wl = rec->waveLen.load();
                (void)wl;
                (void)rec->devSerial.size();
                ++reads;
            }
            QThread::usleep(200);
        }
    });
    reader->start();

    constexpr int kRounds = 6;
    for (int round = 0; round < kRounds; ++round) {
        manager->SetSelDev(kId13);
        manager->StartSelStatistics(round % 2 ? 0 : 200, 5);
        const DeviceRecordPtr rec = manager->GetDevRecord(kId13);
        ASSERT_TRUE(rec);
        // Let samples flow, reading as the GUI tick does, then drop the meter mid-stream.
        for (int tick = 0; tick < 10 + 3 * round; ++tick) {
            double current, totals[3];
            QVector<double> times, values;
            bool valid;
            StatBlock block;
            manager->GetSelStatistics(&current, totals, &times, &values, &valid, &block);
            QThread::msleep(5);
        }
        const int scansBefore = finished->count();
        manager->RemoveLostDev(kId13);
        // The queued scan probes the meter afresh.
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished->count() > scansBefore; }, 15000))
            << "round " << round;
        ASSERT_TRUE(ScanUntilKnown(kId13)) << "round " << round;
        EXPECT_TRUE(rec->IsRemoved());
        ASSERT_TRUE(ConnectStreaming(kId13)) << "round " << round;
    }

    stop.store(true);
    reader->wait();
    delete reader;
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(added->count(), kRounds + 1);
}
