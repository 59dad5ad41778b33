// The meter's own frame code: the documented request examples, reply layout, and how the
// request decoder copes with noise and broken frames.
#include <gtest/gtest.h>

#include "simmeter/calibration.h"
#include "simmeter/wire.h"

namespace simmeter {
namespace {

using wire::EncodeReply;
using wire::EncodeRequest;
using wire::RequestDecoder;

TEST(WireFrames, RequestExamplesMatchTheProtocol)
{
    EXPECT_EQ(EncodeRequest(0x100F), (Bytes{0x55, 0xAA, 0x0F, 0x10, 0x00, 0x00, 0x5A, 0xBA}));
    EXPECT_EQ(EncodeRequest(0x0024), (Bytes{0x55, 0xAA, 0x24, 0x00, 0x00, 0x00, 0x71, 0xAA}));
    EXPECT_EQ(EncodeRequest(0x1010, {0x0A, 0x00}),
              (Bytes{0x55, 0xAA, 0x10, 0x10, 0x02, 0x00, 0x0A, 0x00, 0x4D, 0xBA}));
}

TEST(WireFrames, ReplyLayoutPutsTheChecksumAfterThePayload)
{
    const Bytes f = EncodeReply(0x1009, 0, Bytes(10, 0x11));
    ASSERT_EQ(f.size(), 20u);
    EXPECT_EQ(f[0], 0xAA);
    EXPECT_EQ(f[1], 0x55);
    EXPECT_EQ(wire::GetU16(&f[2]), 0x1009);
    EXPECT_EQ(wire::GetU16(&f[4]), 0);
    EXPECT_EQ(wire::GetU16(&f[6]), 10);
    EXPECT_EQ(wire::GetU16(&f[18]), wire::XorWords(f.data(), 9));
    // An odd payload loses its last byte to the checksum; the length field keeps the truth.
    const Bytes odd = EncodeReply(0x000D, 0, {'a', 'b', 'c'});
    EXPECT_EQ(odd.size(), 12u);
    EXPECT_EQ(wire::GetU16(&odd[6]), 3);
}

TEST(WireFrames, ReplyDecoderSkipsNoiseAndChecksChecksums)
{
    Bytes s = {0x00, 0x11};
    const Bytes a = EncodeReply(0x0010, 0, {'V', '1'});
    Bytes b = EncodeReply(0x0029, 3, Bytes(8, 0));
    b[b.size() - 1] ^= 0xFF;
    s.insert(s.end(), a.begin(), a.end());
    s.insert(s.end(), b.begin(), b.end());
    const auto r = wire::DecodeReplies(s);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].code, 0x0010);
    EXPECT_TRUE(r[0].checksumOk);
    EXPECT_EQ(r[1].status, 3);
    EXPECT_FALSE(r[1].checksumOk);
}

TEST(RequestDecoding, ReassemblesFramesSplitAnywhere)
{
    Bytes stream;
    for (uint16_t code : {cmd::kReadVersion, cmd::kSetAverage, cmd::kHeartbeat}) {
        const Bytes f = EncodeRequest(code, code == cmd::kSetAverage ? Bytes{5, 0} : Bytes{});
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        RequestDecoder d;
        std::vector<uint16_t> codes;
        d.Feed(stream.data(), cut);
        while (auto r = d.Next())
            codes.push_back(r->code);
        d.Feed(stream.data() + cut, stream.size() - cut);
        while (auto r = d.Next())
            codes.push_back(r->code);
        EXPECT_EQ(codes,
                  (std::vector<uint16_t>{cmd::kReadVersion, cmd::kSetAverage, cmd::kHeartbeat}))
            << "cut at " << cut;
        EXPECT_EQ(d.DiscardedBytes(), 0u);
    }
}

TEST(RequestDecoding, DropsNoiseAndBadChecksumsAndResynchronises)
{
    RequestDecoder d;
    Bytes bad = EncodeRequest(cmd::kSetAverage, {7, 0});
    bad[bad.size() - 1] ^= 0x01;
    const Bytes good = EncodeRequest(cmd::kGetAverage);
    Bytes s = {0x12, 0x55, 0x34};  // noise, including a lone first header byte
    s.insert(s.end(), bad.begin(), bad.end());
    s.insert(s.end(), good.begin(), good.end());
    d.Feed(s.data(), s.size());
    auto r = d.Next();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, cmd::kGetAverage);
    EXPECT_FALSE(d.Next());
    EXPECT_EQ(d.BadFrames(), 1u);
    EXPECT_EQ(d.DiscardedBytes(), 3u + bad.size());
}

TEST(RequestDecoding, SkipsAHeaderAnnouncingAnImpossibleLength)
{
    RequestDecoder d;
    Bytes s = {0x55, 0xAA, 0x10, 0x10, 0xFF, 0xFF};
    const Bytes good = EncodeRequest(cmd::kReadDevName);
    s.insert(s.end(), good.begin(), good.end());
    d.Feed(s.data(), s.size());
    auto r = d.Next();
    ASSERT_TRUE(r);  // not stuck waiting for 64 KiB
    EXPECT_EQ(r->code, cmd::kReadDevName);
}

TEST(RequestDecoding, OddLengthCarriesOnlyWholeWords)
{
    RequestDecoder d;
    const Bytes f = EncodeRequest(0x000C, {'a', 'b', 'c'});
    EXPECT_EQ(f.size(), 10u);
    d.Feed(f.data(), f.size());
    auto r = d.Next();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->lengthField, 3);
    EXPECT_EQ(r->payload, (Bytes{'a', 'b'}));
}

TEST(Calibration, RecordsRoundTripAndRejectWrongSizes)
{
    const Calibration c = DefaultCalibration();
    EXPECT_EQ(c.base.Encode().size(), 10u);
    EXPECT_EQ(BaseRecord::Decode(c.base.Encode(), 0), c.base);
    const Bytes full = c.base.Encode();
    const Bytes eight(full.begin(), full.begin() + 8);
    auto keep = BaseRecord::Decode(eight, 9);
    ASSERT_TRUE(keep);
    EXPECT_EQ(keep->detectorType, 9);
    EXPECT_FALSE(BaseRecord::Decode(Bytes(9, 0), 0));
    EXPECT_EQ(LevelRecord::Decode(c.level.Encode()), c.level);
    EXPECT_FALSE(LevelRecord::Decode(Bytes(120, 0)));
    const Bytes spectral = c.spectral.Encode();
    EXPECT_EQ(spectral.size(), 2u + 6 * 701);
    EXPECT_EQ(SpectralTable::Decode(spectral), c.spectral);
    Bytes two = {2, 0};
    two.resize(12, 0);
    EXPECT_FALSE(SpectralTable::Decode(two));  // announces 2 entries, 14 bytes needed
}

TEST(Calibration, DefaultSpectralTableHasTheMeasuredRowsAndIsSmooth)
{
    const SpectralTable t = DefaultSpectralTable();
    ASSERT_EQ(t.entries.size(), 701u);
    EXPECT_EQ(t.entries.front().nm, 400);
    EXPECT_EQ(t.entries.back().nm, 1100);
    const std::pair<int, float> rows[] = {
        {400, 0.354f},  {401, 0.3559f},  {500, 0.5019f},  {532, 0.5424f}, {633, 0.658f},
        {700, 0.734f},  {800, 0.8411f},  {850, 0.8926f},  {900, 0.9523f}, {964, 1.0f},
        {980, 0.9846f}, {1000, 0.8608f}, {1050, 0.5017f}, {1100, 0.1812f}};
    for (const auto& [nm, c] : rows)
        EXPECT_EQ(t.entries[nm - 400].coef, c) << nm;
    float peak = 0;
    for (size_t i = 0; i < t.entries.size(); ++i) {
        EXPECT_EQ(t.entries[i].nm, 400 + i);
        peak = std::max(peak, t.entries[i].coef);
        if (i > 0) {
            EXPECT_LT(std::abs(t.entries[i].coef - t.entries[i - 1].coef), 0.012f) << i;
        }
    }
    EXPECT_EQ(peak, 1.0f);
}

TEST(Calibration, InterpolatesLikeTheHost)
{
    SpectralTable t;
    t.entries = {{400, 1.0f}, {500, 2.0f}, {600, 3.0f}};
    EXPECT_FLOAT_EQ(t.CoefficientAt(450), 1.5f);
    EXPECT_FLOAT_EQ(t.CoefficientAt(600), 3.0f);
    EXPECT_FLOAT_EQ(t.CoefficientAt(350), 1.0f);  // outside: nearest end
    EXPECT_FLOAT_EQ(t.CoefficientAt(700), 3.0f);
    EXPECT_FLOAT_EQ(SpectralTable{}.CoefficientAt(532), 1.0f);
}

}  // namespace
}  // namespace simmeter
