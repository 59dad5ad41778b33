// The manager and its records under concurrent use, without a meter: a feeder thread
// plays the worker (poll-list snapshot, sample batches) while this thread plays the GUI
// (per-tick reads, statistics commands, the liveness removal). Meant for the sanitizer
// builds: a use after free or an unguarded field shows up there.
#include "devmanage.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <vector>

namespace {

void ClearManager()
{
    DevManage *m = DevManage::Instance();
    int ids[64];
    const int n = m->GetDevIds(ids, 64);
    for (int i = 0; i < n; ++i)
        m->RemoveDev(ids[i]);
    m->SetSelDev(-1);
}

}  // namespace

TEST(StoreRaceTest, RemovalWhileTheFeederHoldsTheRecords)
{
    ClearManager();
    DevManage *m = DevManage::Instance();
    constexpr int kIds = 4;
    for (int id = 1; id <= kIds; ++id)
        m->AddDevRecord(id, "dev", "det", "serial", "probe", "ver");

    std::atomic<bool> stop{false};
    std::atomic<long> batches{0};
    QThread *feeder = QThread::create([&] {
        DeviceRecordPtr poll[8];
        qint64 t = 0;
        while (!stop.load()) {
            // Refresh the snapshot now and then, as a scan would.
            const int n = m->GetDevRecords(poll, 8);
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < n; ++i) {
                    DeviceRecord &rec = *poll[i];
                    if (rec.IsRemoved())
                        continue;
                    PowerData samples[30];
                    for (PowerData &s : samples) {
                        s.time = t += 10;
                        s.power = 1000.0 + static_cast<double>(t % 97);
                    }
                    rec.AddSamples(samples, 30);
                    rec.waveLen.store(1310.7f);
                    rec.average.store(16);
                    ++batches;
                }
            }
            for (DeviceRecordPtr &p : poll)
                p.reset();
        }
    });
    feeder->start();

    long removals = 0;
    for (int iter = 0; iter < 20000 || (batches.load() < 200 && iter < 200000); ++iter) {
        const int id = 1 + iter % kIds;
        m->SetSelDev(id);
        m->SetSelAttenuation(iter % 3);
        m->SetSelUnit(iter % 2 ? QStringLiteral("mw") : QStringLiteral("nw"));
        if (iter % 50 == 0)
            m->StartSelStatistics(iter % 100 == 0 ? 500 : 0, 5);
        double current, totals[3];
        QVector<double> times, values;
        bool valid;
        StatBlock block;
        m->GetSelStatistics(&current, totals, &times, &values, &valid, &block);
        if (const DeviceRecordPtr rec = m->GetDevRecord(id)) {
            // What the data file writers read.
            volatile float wl = rec->waveLen.load();
            volatile quint32 avg = rec->average.load();
            (void)wl;
            (void)avg;
            (void)rec->devSerial.size();
        }
        if (iter % 7 == 0) {
            // Liveness removal of the selected meter, and its re-probe by a later scan.
            m->RemoveDev(id);
            m->SetSelDev(-1);
            ++removals;
            m->AddDevRecord(id, "dev", "det", "serial", "probe", "ver");
        }
    }
    stop.store(true);
    feeder->wait();
    delete feeder;

    EXPECT_GT(removals, 100);
    EXPECT_GT(batches.load(), 0);
    ClearManager();
}
