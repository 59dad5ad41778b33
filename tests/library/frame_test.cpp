#include "protocol/frame.h"
#include "reply_frame.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tessivar::frame;

namespace {

std::vector<uint8_t> Build(uint16_t code, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> buffer(8 + payload.size() + 2, 0xEE);
    const int n = BuildFrame(buffer.data(), code, payload.empty() ? nullptr : payload.data(),
                             static_cast<int>(payload.size()));
    buffer.resize(n > 0 ? n : 0);
    return buffer;
}

}  // namespace

TEST(BuildFrame, MatchesTheMeterDocumentationByteForByte)
{
    EXPECT_EQ(Build(0x100F, {}),
              (std::vector<uint8_t>{0x55, 0xAA, 0x0F, 0x10, 0x00, 0x00, 0x5A, 0xBA}));
    EXPECT_EQ(Build(0x0024, {}),
              (std::vector<uint8_t>{0x55, 0xAA, 0x24, 0x00, 0x00, 0x00, 0x71, 0xAA}));
    EXPECT_EQ(Build(0x1010, {0x0A, 0x00}),
              (std::vector<uint8_t>{0x55, 0xAA, 0x10, 0x10, 0x02, 0x00, 0x0A, 0x00, 0x4D, 0xBA}));
}

TEST(BuildFrame, RefusesMissingBuffersAndPayloads)
{
    EXPECT_EQ(BuildFrame(nullptr, 0x0024, nullptr, 0), -1);
    uint8_t buffer[16];
    EXPECT_EQ(BuildFrame(buffer, 0x1010, nullptr, 2), 0);
    EXPECT_EQ(RequestFrameLength(14), 22);
}

TEST(CheckFrame, AnnouncesLengthsAndRejectsWhatIsNoFrame)
{
    const auto base = Reply(0x1009, 0, std::vector<uint8_t>(10, 1));
    ASSERT_EQ(base.size(), 20u);  // checksum at offset 18
    int expected = 0;
    EXPECT_EQ(CheckFrame(base.data(), 20, &expected), kComplete);
    EXPECT_EQ(expected, 20);
    EXPECT_EQ(CheckFrame(base.data(), 19, &expected), kIncomplete);
    EXPECT_EQ(CheckFrame(base.data(), 7, &expected), kTooShort);
    EXPECT_EQ(CheckFrame(nullptr, 20, &expected), kNoBuffer);
    const uint8_t request[] = {0x55, 0xAA, 0x24, 0x00, 0x00, 0x00, 0x71, 0xAA};
    EXPECT_EQ(CheckFrame(request, 8, &expected), kBadHeader);
}

TEST(VerifyFrame, FindsBadStatusAndChecksum)
{
    auto ok = Reply(0x000D, 0, {'A', 'B', 'C', 'D'});
    EXPECT_EQ(VerifyFrame(ok.data(), static_cast<int>(ok.size())), kValid);
    auto status = Reply(0x000D, 1, {'A', 'B'});
    EXPECT_EQ(VerifyFrame(status.data(), static_cast<int>(status.size())), kBadStatus);
    ok[9] ^= 0x01;
    EXPECT_EQ(VerifyFrame(ok.data(), static_cast<int>(ok.size())), kBadChecksum);
    EXPECT_EQ(VerifyFrame(nullptr, 10), kNoFrame);
}
