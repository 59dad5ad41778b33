// Per-tick cost of the measurement store with a full statistics window. The worker adds
// one batch of at most 30 samples per meter every 50 ms, and the GUI copies the whole
// window out every 50 ms; both must leave most of the tick free.
#include "devmanage.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kBatch = 30;

// Fills `rec` with a running sample window of `window` samples.
qint64 Prime(DeviceRecord &rec, int window)
{
    rec.StartStatistics(window, -1);
    qint64 t = 1700000000000;
    PowerData batch[kBatch];
    for (int filled = 0; filled < window + kBatch; filled += kBatch) {
        for (PowerData &s : batch) {
            s.time = t += 10;
            s.power = 1e6 + 5e3 * std::sin(static_cast<double>(t) * 1e-3);
        }
        rec.AddSamples(batch, kBatch);
    }
    return t;
}

void BM_AddSamplesBatch(benchmark::State &state)
{
    DeviceRecord rec(1, QStringLiteral("dev"), QStringLiteral("det"));
    const int window = static_cast<int>(state.range(0));
    qint64 t = Prime(rec, window);
    PowerData batch[kBatch];
    for (auto _ : state) {
        for (PowerData &s : batch) {
            s.time = t += 10;
            s.power = 1e6 + 5e3 * std::sin(static_cast<double>(t) * 1e-3);
        }
        rec.AddSamples(batch, kBatch);
    }
    state.counters["window"] = window;
}
BENCHMARK(BM_AddSamplesBatch)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_GetSelStatistics(benchmark::State &state)
{
    DevManage *m = DevManage::Instance();
    const DeviceRecordPtr rec = m->AddDevRecord(2, "dev", "det");
    const int window = static_cast<int>(state.range(0));
    Prime(*rec, window);
    m->SetSelDev(2);
    m->SetSelUnit(state.range(1) ? QStringLiteral("mw") : QStringLiteral("nw"));
    double current = 0.0, totals[3];
    QVector<double> times, values;
    bool valid = false;
    StatBlock block;
    for (auto _ : state) {
        m->GetSelStatistics(&current, totals, &times, &values, &valid, &block);
        benchmark::DoNotOptimize(values.data());
    }
    m->RemoveDev(2);
    m->SetSelDev(-1);
    state.counters["window"] = window;
}
// Second argument: 0 = nanowatts (plain copy), 1 = milliwatts (converted per value).
BENCHMARK(BM_GetSelStatistics)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
