// libFuzzer target: arbitrary bytes from a meter, cut into reads of arbitrary sizes, go
// through the receive buffer; every frame it hands out is verified and, when valid,
// parsed as each calibration record and power sample would be.
#include "calibration/calibration.h"
#include "protocol/frame.h"
#include "protocol/rx_buffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct Checker : tessivar::RxEvents {
    void OnFrame(const uint8_t* f, int size) override
    {
        if (size < tessivar::frame::kReplyOverhead)
            std::abort();
        if (tessivar::frame::VerifyFrame(f, size) != tessivar::frame::kValid)
            return;
        const uint8_t* payload = f + tessivar::frame::kReplyPayloadOffset;
        const int len = tessivar::frame::ReadU16(f + 6);
        if (8 + 2 * (len / 2) + 2 != size)
            std::abort();
        tessivar::BaseParam base;
        tessivar::LevelTable levels;
        tessivar::SpecTable spectral;
        tessivar::PowerSample sample;
        tessivar::ParseBaseParam(payload, len, &base);
        tessivar::ParseLevelTable(payload, len, &levels);
        if (tessivar::ParseSpecTable(payload, len, &spectral)) {
            tessivar::InterpolateCoefficient(spectral, 532.0f, 1.0f);
        }
        if (tessivar::ParsePowerSample(payload, len, &sample) && sample.range >= 1 &&
            sample.range <= 8) {
            tessivar::ComputePower(sample.raw, levels[sample.range - 1], 1.0f, 0.0, 0.0);
        }
    }
    void OnHeadRemoved(const uint8_t*, int count) override
    {
        if (count <= 0)
            std::abort();
    }
    void OnOverlong(int expected, const uint8_t*, int) override
    {
        if (expected <= tessivar::frame::kMaxExpectedLength)
            std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tessivar::RxBuffer rx;
    Checker checker;
    size_t pos = 0;
    // The first bytes choose the read sizes, the rest is the stream.
    const uint8_t* sizes = data;
    const size_t sizeCount = size > 0 ? (data[0] % 8) + 1 : 0;
    if (size <= sizeCount)
        return 0;
    pos = sizeCount;
    size_t turn = 0;
    while (pos < size) {
        const size_t chunk = 1 + sizes[turn++ % sizeCount] * 17 % 4096;
        const size_t n = chunk < size - pos ? chunk : size - pos;
        rx.Append(data + pos, static_cast<int>(n));
        pos += n;
        rx.Process(checker);
        if (rx.Size() < 0)
            std::abort();
    }
    // Drain what complete frames remain.
    for (int i = 0; i < 64 && rx.Size() > 0; ++i)
        rx.Process(checker);
    return 0;
}
