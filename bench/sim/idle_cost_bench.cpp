// CPU cost of an open but idle meter on the virtual bus, host and simulation together (both
// live in this process). Run by hand:
//   sim_idle_bench [seconds] [meters]
// Mode "raw": a host thread per meter that does what the library's device loop does while
// idle: 4096-byte bulk reads with a 10 ms time-out back to back, and a heartbeat frame
// every second. Mode "library" (when built with the device library): openDev on each meter
// and nothing else. Prints the share of one core used over the measuring window.
#include <libusb-1.0/libusb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/cpu_time.h"
#include "simmeter/calibration.h"
#include "simmeter/preload.h"
#include "simmeter/virtual_bus.h"
#include "simmeter/wire.h"

#ifdef SIM_BENCH_WITH_LIBRARY
#include "tessivar/tessivar.h"
#endif

using bench::ProcessCpuSeconds;
using namespace simmeter;
using WallClock = std::chrono::steady_clock;

namespace {

double Measure(double seconds)
{
    const double c0 = ProcessCpuSeconds();
    const auto t0 = WallClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(WallClock::now() - t0).count();
    return 100.0 * (ProcessCpuSeconds() - c0) / wall;
}

double RawIdle(const std::vector<std::shared_ptr<SimMeter>>& meters, double seconds)
{
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return -1;
    std::atomic<bool> stop{false};
    std::vector<std::thread> hosts;
    std::vector<libusb_device_handle*> handles;
    for (const auto& m : meters) {
        libusb_device_handle* h = nullptr;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_device_address(list[i]) == m->DeviceNumber())
                libusb_open(list[i], &h);
        }
        libusb_free_device_list(list, 1);
        if (!h) {
            std::fprintf(stderr, "cannot open %s\n", m->PortName().c_str());
            return -1;
        }
        libusb_claim_interface(h, 0);
        handles.push_back(h);
        hosts.emplace_back([h, &stop] {
            uint8_t buf[4096];
            const Bytes hb = wire::EncodeRequest(cmd::kHeartbeat);
            auto lastWrite = WallClock::now();
            while (!stop) {
                int got = 0;
                libusb_bulk_transfer(h, kMeterInEndpoint, buf, sizeof buf, &got, 10);
                if (WallClock::now() - lastWrite > std::chrono::seconds(1)) {
                    int done = 0;
                    libusb_bulk_transfer(h, kMeterOutEndpoint, const_cast<uint8_t*>(hb.data()),
                                         static_cast<int>(hb.size()), &done, 1000);
                    lastWrite = WallClock::now();
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double pct = Measure(seconds);
    stop = true;
    for (auto& t : hosts)
        t.join();
    for (auto* h : handles) {
        libusb_release_interface(h, 0);
        libusb_close(h);
    }
    libusb_exit(ctx);
    return pct;
}

#ifdef SIM_BENCH_WITH_LIBRARY
double LibraryIdle(size_t meters, double seconds)
{
    int ids[16] = {};
    const int n = scanDev(ids, 16);
    if (n < static_cast<int>(meters)) {
        std::fprintf(stderr, "scanDev found %d meters\n", n);
        return -1;
    }
    for (size_t i = 0; i < meters; ++i) {
        if (openDev(ids[i]) != 0) {
            std::fprintf(stderr, "openDev(%d) failed\n", ids[i]);
            return -1;
        }
    }
    const auto until = WallClock::now() + std::chrono::seconds(3);
    for (size_t i = 0; i < meters; ++i) {
        while (isInited(ids[i]) != 1 && WallClock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (isInited(ids[i]) != 1)
            std::fprintf(stderr, "meter %d not initialised\n", ids[i]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double pct = Measure(seconds);
    for (size_t i = 0; i < meters; ++i)
        closeDev(ids[i]);
    releaseDev();
    return pct;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    EnsureUnderPreload(argv);
    TightenTimerSlack();
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const size_t count = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 1;
    auto& bus = VirtualBus::Instance();
    std::vector<std::shared_ptr<SimMeter>> meters;
    for (size_t i = 0; i < count; ++i)
        meters.push_back(bus.Plug("1-" + std::to_string(i + 1)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::printf("idle cost over %.0f s, %zu meter(s), %% of one core (host + simulation)\n",
                seconds, count);
    std::printf("  nothing open           : %5.2f %%\n", Measure(seconds / 2));
    const double raw = RawIdle(meters, seconds);
    std::printf("  raw libusb idle loop   : %5.2f %%\n", raw);
    uint64_t ioctls = 0;
    for (const auto& m : meters)
        ioctls += m->Counters().ioctls;
    std::printf("  (emulated ioctls so far: %llu)\n", static_cast<unsigned long long>(ioctls));
#ifdef SIM_BENCH_WITH_LIBRARY
    const double lib = LibraryIdle(count, seconds);
    std::printf("  library, device open   : %5.2f %%\n", lib);
#endif
    bus.UnplugAll();
    return 0;
}
