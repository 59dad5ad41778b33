// Speed of the virtual bus through the real libusb. Run by hand:
//   sim_throughput_bench [seconds] [rate]
// Prints request/reply round trips per second and, with the meter streaming at `rate`
// samples per second (default 5000), the samples a host reading 4096-byte transfers with a
// 10 ms time-out receives per second, with the process's CPU share.
#include <libusb-1.0/libusb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/cpu_time.h"
#include "simmeter/calibration.h"
#include "simmeter/preload.h"
#include "simmeter/virtual_bus.h"
#include "simmeter/wire.h"

using bench::ProcessCpuSeconds;
using namespace simmeter;
using WallClock = std::chrono::steady_clock;

namespace {

int Write(libusb_device_handle* h, const Bytes& b)
{
    int done = 0;
    libusb_bulk_transfer(h, kMeterOutEndpoint, const_cast<uint8_t*>(b.data()),
                         static_cast<int>(b.size()), &done, 1000);
    return done;
}

}  // namespace

int main(int argc, char** argv)
{
    EnsureUnderPreload(argv);
    TightenTimerSlack();
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 5000.0;
    auto& bus = VirtualBus::Instance();
    MeterConfig cfg;
    cfg.signal.sampleRateHz = rate;
    auto meter = bus.Plug("1-1", cfg);

    libusb_context* ctx = nullptr;
    libusb_init(&ctx);
    libusb_device_handle* h = nullptr;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_device_address(list[i]) == meter->DeviceNumber())
            libusb_open(list[i], &h);
    }
    libusb_free_device_list(list, 1);
    if (!h) {
        std::fprintf(stderr, "cannot open the meter\n");
        return 1;
    }
    libusb_claim_interface(h, 0);
    uint8_t buf[4096];

    // Round trips: one request, read until its reply.
    const Bytes req = wire::EncodeRequest(cmd::kGetAverage);
    uint64_t trips = 0;
    auto t0 = WallClock::now();
    while (WallClock::now() - t0 < std::chrono::duration<double>(seconds)) {
        Write(h, req);
        Bytes rx;
        for (int tries = 0; tries < 100; ++tries) {
            int got = 0;
            libusb_bulk_transfer(h, kMeterInEndpoint, buf, sizeof buf, &got, 10);
            rx.insert(rx.end(), buf, buf + got);
            if (!wire::DecodeReplies(rx).empty())
                break;
        }
        ++trips;
    }
    const double tripWall = std::chrono::duration<double>(WallClock::now() - t0).count();
    std::printf("round trips       : %.0f /s (%.2f ms each)\n", trips / tripWall,
                1000.0 * tripWall / static_cast<double>(trips));

    // Streaming.
    Write(h, wire::EncodeRequest(cmd::kStartTransfer));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint64_t samples = 0, transfers = 0;
    const double c0 = ProcessCpuSeconds();
    t0 = WallClock::now();
    Bytes rx;
    while (WallClock::now() - t0 < std::chrono::duration<double>(seconds)) {
        int got = 0;
        libusb_bulk_transfer(h, kMeterInEndpoint, buf, sizeof buf, &got, 10);
        if (got > 0)
            ++transfers;
        rx.insert(rx.end(), buf, buf + got);
        size_t off = 0, used = 0;
        while (auto r = wire::DecodeReply(rx.data() + off, rx.size() - off, &used)) {
            if (r->code == cmd::kPowerData)
                ++samples;
            off += used;
        }
        rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(off));
    }
    const double wall = std::chrono::duration<double>(WallClock::now() - t0).count();
    const double cpu = 100.0 * (ProcessCpuSeconds() - c0) / wall;
    Write(h, wire::EncodeRequest(cmd::kStopTransfer));
    std::printf(
        "streaming at %5.0f: %.0f samples/s received in %.0f transfers/s, %.1f %% of a core\n",
        rate, samples / wall, transfers / wall, cpu);

    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_exit(ctx);
    bus.UnplugAll();
    return 0;
}
