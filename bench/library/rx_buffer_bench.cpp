// Receive-buffer throughput on one core: a stream of 0x200A sample frames, fed in
// 4096-byte reads as the device loop gets them, cut into frames, verified and turned into
// power values. A plain memcpy of the same bytes is the reference.
#include "calibration/calibration.h"
#include "protocol/frame.h"
#include "protocol/rx_buffer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tessivar;

namespace {

struct Consumer : RxEvents {
    LevelTable levels{};
    double sum = 0;
    long frames = 0;
    void OnFrame(const uint8_t* f, int size) override
    {
        if (frame::VerifyFrame(f, size) != frame::kValid)
            return;
        PowerSample s;
        if (!ParsePowerSample(f + 8, frame::ReadU16(f + 6), &s))
            return;
        sum += ComputePower(s.raw, levels[(s.range - 1) & 7], 0.9f, 0, 0).power;
        ++frames;
    }
    void OnHeadRemoved(const uint8_t*, int) override {}
    void OnOverlong(int, const uint8_t*, int) override {}
};

std::vector<uint8_t> SampleStream(int frames)
{
    std::vector<uint8_t> out;
    out.reserve(static_cast<std::size_t>(frames) * 18);
    for (int i = 0; i < frames; ++i) {
        uint8_t f[18];
        frame::WriteU16(f, frame::kReplyHeader);
        frame::WriteU16(f + 2, 0x200A);
        frame::WriteU16(f + 4, 0);
        frame::WriteU16(f + 6, 8);
        const uint32_t tick = static_cast<uint32_t>(i);
        std::memcpy(f + 8, &tick, 4);
        frame::WriteU16(f + 12, static_cast<uint16_t>(1 + i % 8));
        frame::WriteU16(f + 14, static_cast<uint16_t>(20000 + i % 1000));
        frame::WriteU16(f + 16, frame::Checksum(f, 8));
        out.insert(out.end(), f, f + 18);
    }
    return out;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main()
{
    constexpr int kFrames = 2000000;
    constexpr int kRead = 4096;
    const std::vector<uint8_t> stream = SampleStream(kFrames);
    const double megabytes = stream.size() / 1e6;

    Consumer consumer;
    for (auto& l : consumer.levels)
        l = {0.0173, -36.96};
    RxBuffer rx;
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t pos = 0; pos < stream.size(); pos += kRead) {
        const std::size_t n = std::min<std::size_t>(kRead, stream.size() - pos);
        rx.Append(stream.data() + pos, static_cast<int>(n));
        rx.Process(consumer);
    }
    const double rxSeconds = Seconds(std::chrono::steady_clock::now() - t0);

    std::vector<uint8_t> sink(kRead);
    volatile uint8_t guard = 0;
    const auto t1 = std::chrono::steady_clock::now();
    for (int rep = 0; rep < 20; ++rep) {
        for (std::size_t pos = 0; pos < stream.size(); pos += kRead) {
            const std::size_t n = std::min<std::size_t>(kRead, stream.size() - pos);
            std::memcpy(sink.data(), stream.data() + pos, n);
            guard = guard + sink[n - 1];
        }
    }
    const double copySeconds = Seconds(std::chrono::steady_clock::now() - t1) / 20;

    if (consumer.frames != kFrames) {
        std::printf("error: %ld of %d frames decoded\n", consumer.frames, kFrames);
        return 1;
    }
    std::printf("receive buffer, %d sample frames of 18 bytes in %d-byte reads\n", kFrames, kRead);
    std::printf("  frames/s:           %.2f million\n", kFrames / rxSeconds / 1e6);
    std::printf("  throughput:         %.1f MB/s\n", megabytes / rxSeconds);
    std::printf("  memcpy reference:   %.1f MB/s\n", megabytes / copySeconds);
    std::printf("  memcpy / receive:   %.1fx\n", rxSeconds / copySeconds);
    std::printf("  (USB 2.0 high speed carries at most ~2.7 million such frames/s)\n");
    return 0;
}
