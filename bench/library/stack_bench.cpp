// The whole library stack against a simulated meter on the virtual USB bus:
//   1. query round trip of readDevName (p50, p99, max over 1000 calls; budget 30 ms), and
//      how long a command the meter does not answer waits (setAverage, budget 30 ms, and
//      one saveDetParam, budget 5 s),
//   2. sustained streaming: the highest sample rate at which a consumer calling getData in a
//      loop loses nothing, and the device thread's CPU per 1000 samples/s,
//   3. idle cost of one open, ready meter.
// CPU of the library's device threads is read per thread from /proc (they run as
// "QThread"); the process figure also contains the simulated meter and the bus emulation.
#include "common/cpu_time.h"
#include "simmeter/preload.h"
#include "simmeter/virtual_bus.h"

#include <tessivar/tessivar.h>

#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using bench::CpuSecondsOfThreadsNamed;
using bench::ProcessCpuSeconds;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

constexpr int kId = 3 << 24;  // port "1-3"

bool WaitReady()
{
    for (int i = 0; i < 300; ++i) {
        if (isInited(kId) == 1)
            return true;
        QThread::msleep(10);
    }
    return false;
}

void QueryRoundTrip()
{
    std::vector<double> ms;
    char name[33];
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        const auto t0 = Clock::now();
        if (readDevName(kId, name, sizeof name) != 0)
            ++failures;
        ms.push_back(Seconds(Clock::now() - t0) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("query round trip, readDevName x1000 (budget 30 ms)\n");
    std::printf("  p50 %.2f ms   p99 %.2f ms   max %.2f ms   failures %d\n", ms[500], ms[990],
                ms.back(), failures);
}

// A meter that acts on 0x1010 but never answers it: every setAverage waits out its budget.
void NoReplyWait(simmeter::SimMeter& meter)
{
    simmeter::FaultConfig faults;
    faults.ignoreCodes = {0x1010};
    meter.Model().SetFaults(faults);
    std::vector<double> ms;
    int other = 0;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        if (setAverage(kId, 1 + i % 10) != TESSIVAR_ERR_NO_REPLY)
            ++other;
        ms.push_back(Seconds(Clock::now() - t0) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("no reply, setAverage x200 (budget 30 ms)\n");
    std::printf("  min %.2f ms   p50 %.2f ms   p99 %.2f ms   max %.2f ms   not -2: %d\n", ms[0],
                ms[100], ms[198], ms.back(), other);

    faults.ignoreCodes = {0x100E};
    meter.Model().SetFaults(faults);
    const auto t0 = Clock::now();
    const int rc = saveDetParam(kId);
    std::printf("no reply, saveDetParam x1 (budget 5000 ms): %.1f ms, result %d\n",
                Seconds(Clock::now() - t0) * 1000, rc);
    meter.Model().SetFaults({});
}

// Streams at `rate` for `seconds`; returns the number of samples lost.
long StreamAt(simmeter::SimMeter& meter, double rate, double seconds, double* deviceCpu)
{
    simmeter::SignalConfig signal = meter.Signal();
    signal.sampleRateHz = rate;
    meter.SetSignal(signal);
    std::vector<PowerData> buffer(401);
    while (getData(kId, buffer.data(), 401) > 0) {
    }
    const uint64_t sentBefore = meter.Model().SamplesSent();
    const double cpu0 = CpuSecondsOfThreadsNamed("QThread");
    startTransfer(kId);
    long received = 0;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        const int n = getData(kId, buffer.data(), 401);
        if (n > 0)
            received += n;
        QThread::msleep(1);
    }
    stopTransfer(kId);
    QThread::msleep(100);
    for (int n; (n = getData(kId, buffer.data(), 401)) > 0;)
        received += n;
    *deviceCpu = CpuSecondsOfThreadsNamed("QThread") - cpu0;
    const long sent = static_cast<long>(meter.Model().SamplesSent() - sentBefore);
    return sent - received;
}

}  // namespace

int main(int, char** argv)
{
    simmeter::EnsureUnderPreload(argv);
    simmeter::TightenTimerSlack();
    auto& bus = simmeter::VirtualBus::Instance();
    simmeter::MeterConfig cfg;
    cfg.signal.noiseRel = 0.001;
    auto meter = bus.Plug("1-3", cfg);

    QTemporaryDir logDir;
    openLog(logDir.path().toUtf8().constData());
    int ids[8];
    if (scanDev(ids, 8) != 1 || openDev(kId) != 0 || !WaitReady()) {
        std::fprintf(stderr, "the simulated meter did not become ready\n");
        return 1;
    }

    QueryRoundTrip();
    NoReplyWait(*meter);

    std::printf("sustained streaming, consumer calling getData(401) every ~1 ms for 3 s\n");
    double best = 0;
    for (double rate : {500.0, 1000.0, 2000.0, 4000.0, 8000.0, 12000.0, 16000.0, 20000.0}) {
        double cpu = 0;
        const long lost = StreamAt(*meter, rate, 3.0, &cpu);
        const double cpuPercent = cpu / 3.0 * 100;
        std::printf(
            "  %6.0f samples/s: lost %ld, device thread %.1f %% of a core (%.2f %% per 1000 samples/s)\n",
            rate, lost, cpuPercent, cpuPercent / (rate / 1000));
        if (lost == 0)
            best = rate;
    }
    std::printf("  highest rate without loss: %.0f samples/s\n", best);

    QThread::msleep(500);
    const double thread0 = CpuSecondsOfThreadsNamed("QThread");
    const double process0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    QThread::sleep(10);
    const double wall = Seconds(Clock::now() - t0);
    std::printf("idle, one open ready meter for %.0f s\n", wall);
    std::printf("  library device thread: %.2f %% of a core\n",
                (CpuSecondsOfThreadsNamed("QThread") - thread0) / wall * 100);
    std::printf("  whole process (library + simulated meter + bus emulation): %.2f %% of a core\n",
                (ProcessCpuSeconds() - process0) / wall * 100);

    closeDev(kId);
    releaseDev();
    bus.UnplugAll();
    return 0;
}
