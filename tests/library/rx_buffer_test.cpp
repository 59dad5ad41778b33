#include "protocol/frame.h"
#include "protocol/rx_buffer.h"
#include "reply_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tessivar;
using Bytes = std::vector<uint8_t>;

namespace {

struct Recorder : RxEvents {
    std::vector<Bytes> frames;
    std::vector<Bytes> dropped;
    std::vector<std::pair<int, int>> overlong;  // expected, buffer size
    void OnFrame(const uint8_t* f, int size) override { frames.emplace_back(f, f + size); }
    void OnHeadRemoved(const uint8_t* d, int n) override { dropped.emplace_back(d, d + n); }
    void OnOverlong(int expected, const uint8_t*, int size) override
    {
        overlong.emplace_back(expected, size);
    }
};

void Feed(RxBuffer& rx, const Bytes& bytes)
{
    rx.Append(bytes.data(), static_cast<int>(bytes.size()));
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(RxBuffer, GarbageBeforeAHeaderIsDroppedAndTheFrameTakenNextTurn)
{
    RxBuffer rx;
    Recorder events;
    const Bytes frame = Reply(0x000D, 0, {'M', '1'});
    Feed(rx, Concat({{0x00, 0x11}, frame}));
    rx.Process(events);
    ASSERT_EQ(events.dropped.size(), 1u);
    EXPECT_EQ(events.dropped[0], (Bytes{0x00, 0x11}));
    EXPECT_TRUE(events.frames.empty());
    rx.Process(events);
    ASSERT_EQ(events.frames.size(), 1u);
    EXPECT_EQ(events.frames[0], frame);
    EXPECT_EQ(rx.Size(), 0);
}

TEST(RxBuffer, KeepsWhatMayStartTheNextFrame)
{
    const Bytes frame = Reply(0x000D, 0, {'A', 'B'});
    const struct {
        const char* what;
        Bytes input;
        std::vector<std::size_t> dropped;  // sizes of the removed heads
        int kept;
    } cases[] = {
        {"a lone trailing 0xAA may be the first byte of the next header",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xAA},
         {8},
         1},
        {"seven bytes of a valid frame wait silently",
         Bytes(frame.begin(), frame.begin() + 7),
         {},
         7},
        {"garbage without any header candidate goes entirely", Bytes(20, 0x33), {20}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RxBuffer rx;
        Recorder events;
        Feed(rx, c.input);
        rx.Process(events);
        std::vector<std::size_t> dropped;
        for (const Bytes& d : events.dropped)
            dropped.push_back(d.size());
        EXPECT_EQ(dropped, c.dropped);
        EXPECT_TRUE(events.frames.empty());
        EXPECT_TRUE(events.overlong.empty());
        EXPECT_EQ(rx.Size(), c.kept);
    }
}

TEST(RxBuffer, ImpossibleLengthClearsTheBuffer)
{
    RxBuffer rx;
    Recorder events;
    Feed(rx, {0xAA, 0x55, 0x0D, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x02});
    rx.Process(events);
    ASSERT_EQ(events.overlong.size(), 1u);
    EXPECT_EQ(events.overlong[0].first, 65544);
    EXPECT_EQ(events.overlong[0].second, 10);
    EXPECT_EQ(rx.Size(), 0);
    // The longest legal frame (8192 bytes) waits instead.
    RxBuffer big;
    Recorder bigEvents;
    Feed(big, {0xAA, 0x55, 0x0D, 0x00, 0x00, 0x00, 0xF6, 0x1F});  // L = 8182 -> 8192 bytes
    big.Process(bigEvents);
    EXPECT_TRUE(bigEvents.overlong.empty());
    EXPECT_EQ(big.ExpectedLength(), 8192);
}

TEST(RxBuffer, SeveralFramesInOneReadAndOneSplitOverTwo)
{
    RxBuffer rx;
    Recorder events;
    const Bytes a = Reply(0x200A, 0, {1, 0, 0, 0, 1, 0, 0x10, 0x27});
    const Bytes b = Reply(0x200A, 0, {2, 0, 0, 0, 1, 0, 0x11, 0x27});
    const Bytes c = Reply(0x1016, 0, {10, 0});
    const Bytes all = Concat({a, b, c});
    const std::size_t cut = a.size() + b.size() + 5;
    rx.Append(all.data(), static_cast<int>(cut));
    rx.Process(events);
    ASSERT_EQ(events.frames.size(), 2u);
    EXPECT_EQ(events.frames[1], b);
    EXPECT_EQ(rx.Size(), 5);
    rx.Append(all.data() + cut, static_cast<int>(all.size() - cut));
    rx.Process(events);
    ASSERT_EQ(events.frames.size(), 3u);
    EXPECT_EQ(events.frames[2], c);
    EXPECT_EQ(rx.Size(), 0);
}
