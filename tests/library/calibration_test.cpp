#include "calibration/calibration.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tessivar;

namespace {

SpecTable Table(std::vector<uint16_t> nm, std::vector<float> c)
{
    return SpecTable{std::move(nm), std::move(c)};
}

BaseParam Range(uint16_t start, uint16_t end)
{
    BaseParam b;
    b.startNm = start;
    b.endNm = end;
    return b;
}

std::vector<uint8_t> SpecPayload(uint16_t n, const std::vector<std::pair<uint16_t, float>>& entries)
{
    std::vector<uint8_t> p(2 + 6 * entries.size());
    std::memcpy(p.data(), &n, 2);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(&p[2 + 6 * i], &entries[i].first, 2);
        std::memcpy(&p[4 + 6 * i], &entries[i].second, 4);
    }
    return p;
}

}  // namespace

TEST(Interpolation, FollowsTheTableAndKeepsThePreviousValueOutsideIt)
{
    const SpecTable t = Table({400, 500, 600}, {1.0f, 2.0f, 3.0f});
    EXPECT_FLOAT_EQ(InterpolateCoefficient(t, 450.0f, 9.0f), 1.5f);
    EXPECT_FLOAT_EQ(InterpolateCoefficient(t, 500.0f, 9.0f),
                    2.0f);  // touching segments: later wins
    EXPECT_FLOAT_EQ(InterpolateCoefficient(t, 600.0f, 9.0f), 3.0f);
    EXPECT_FLOAT_EQ(InterpolateCoefficient(t, 650.0f, 9.0f), 9.0f);
    EXPECT_FLOAT_EQ(InterpolateCoefficient(Table({700}, {0.5f}), 700.0f, 9.0f), 9.0f);
    // Two equal neighbouring wavelengths are skipped instead of dividing by zero.
    const SpecTable dup = Table({400, 500, 500, 600}, {1.0f, 2.0f, 7.0f, 3.0f});
    EXPECT_FLOAT_EQ(InterpolateCoefficient(dup, 550.0f, 9.0f), 5.0f);
    EXPECT_FLOAT_EQ(InterpolateCoefficient(dup, 500.0f, 9.0f), 7.0f);
}

TEST(Interpolation, RangeCheckAndClamp)
{
    const BaseParam base = Range(400, 600);
    EXPECT_TRUE(WavelengthInRange(600.0f, base));
    EXPECT_FALSE(WavelengthInRange(601.0f, base));
    EXPECT_FALSE(WavelengthInRange(399.0f, base));
    EXPECT_FLOAT_EQ(ClampWavelength(532.0f, Range(800, 1700)), 800.0f);
    EXPECT_FLOAT_EQ(ClampWavelength(1800.0f, Range(800, 1700)), 1700.0f);
}

TEST(RecordParsers, AcceptOnlyTheRecordLayouts)
{
    SpecTable t;
    const auto two = SpecPayload(2, {{400, 1.0f}, {500, 2.0f}});
    ASSERT_TRUE(ParseSpecTable(two.data(), static_cast<int>(two.size()), &t));
    EXPECT_EQ(t.wavelengths, (std::vector<uint16_t>{400, 500}));
    EXPECT_FLOAT_EQ(t.coefficients[1], 2.0f);
    // n = 2 announced in 12 bytes (14 expected).
    EXPECT_FALSE(ParseSpecTable(two.data(), 12, &t));
    // Shorter than the count word: an empty table.
    ASSERT_TRUE(ParseSpecTable(two.data(), 1, &t));
    EXPECT_EQ(t.Count(), 0);

    uint8_t spectral[12] = {};
    WriteSpecExport(Table({400, 500}, {1.0f, 2.0f}), spectral);
    uint16_t nm[2];
    float c[2];
    std::memcpy(nm, spectral, 4);
    std::memcpy(c, spectral + 4, 8);
    EXPECT_EQ(nm[1], 500);
    EXPECT_FLOAT_EQ(c[0], 1.0f);

    BaseParam base;
    const uint8_t rec[10] = {0x90, 0x01, 0x4C, 0x04, 0xD0, 0x07, 0x60, 0xEA, 0x03, 0x00};
    ASSERT_TRUE(ParseBaseParam(rec, 10, &base));
    EXPECT_EQ(base.startNm, 400);
    EXPECT_EQ(base.endNm, 1100);
    EXPECT_EQ(base.adcHigh, 60000);
    EXPECT_EQ(base.detectorType, 3);
    EXPECT_FALSE(ParseBaseParam(rec, 8, &base));

    LevelTable levels;
    std::vector<uint8_t> lev(128);
    const double k3 = 0.0173, b3 = -36.96;
    std::memcpy(&lev[32], &k3, 8);
    std::memcpy(&lev[40], &b3, 8);
    ASSERT_TRUE(ParseLevelTable(lev.data(), 128, &levels));
    EXPECT_DOUBLE_EQ(levels[2].k, 0.0173);
    EXPECT_DOUBLE_EQ(levels[2].b, -36.96);
    EXPECT_FALSE(ParseLevelTable(lev.data(), 127, &levels));

    PowerSample s;
    const uint8_t sample[8] = {0x10, 0, 0, 0, 3, 0, 0x20, 0x4E};
    ASSERT_TRUE(ParsePowerSample(sample, 8, &s));
    EXPECT_EQ(s.tick, 16u);
    EXPECT_EQ(s.range, 3);
    EXPECT_EQ(s.raw, 20000);
    EXPECT_FALSE(ParsePowerSample(sample, 6, &s));
}

TEST(PowerFormula, AppliesLevelCoefficientAndOffsets)
{
    const LevelPair level{0.0173, -36.96};
    PowerValue v = ComputePower(20000, level, 0.5424f, 0.0, 0.0);
    EXPECT_NEAR(v.power, (20000 + 36.96) / (double(0.5424f) * 0.0173), 1e-6);
    v = ComputePower(20000, level, 1.0f, 100.0, 5.0);
    EXPECT_NEAR(v.power, (20000 + 36.96) / 0.0173 - 105.0, 1e-6);
    EXPECT_NEAR(v.uncorrected, (20000 + 36.96) / 0.0173 - 5.0, 1e-6);
    // raw == b leaves only the offsets.
    v = ComputePower(100, LevelPair{2.0, 100.0}, 1.0f, 3.0, 4.0);
    EXPECT_DOUBLE_EQ(v.power, -7.0);
    // Zero compensation: the uncorrected value as zero offset gives 0 for the same raw.
    const PowerValue first = ComputePower(30000, level, 0.8f, 0.0, 2.0);
    EXPECT_DOUBLE_EQ(ComputePower(30000, level, 0.8f, first.uncorrected, 2.0).power, 0.0);
}

TEST(PowerFormula, OnlyRangesOneToEightHaveACalibration)
{
    LevelTable t{};
    t[0] = {1.0, 0.0};
    t[7] = {8.0, 0.0};
    LevelPair p{-1, -1};
    ASSERT_TRUE(LevelForRange(t, 1, &p));
    EXPECT_DOUBLE_EQ(p.k, 1.0);
    ASSERT_TRUE(LevelForRange(t, 8, &p));
    EXPECT_DOUBLE_EQ(p.k, 8.0);
    EXPECT_FALSE(LevelForRange(t, 0, &p));
    EXPECT_FALSE(LevelForRange(t, 9, &p));
    EXPECT_FALSE(LevelForRange(t, 0xFFFF, &p));
    EXPECT_DOUBLE_EQ(p.k, 8.0);  // untouched on refusal
}

TEST(SampleClock, TakesTheWallClockOnceThenFollowsTheTick)
{
    SampleClock clock;
    EXPECT_EQ(clock.Stamp(0xFFFFFFF0u, 1000000), 1000000);
    EXPECT_EQ(clock.Stamp(16, 5), 1000032);  // wrap: 2^32 - 16 -> 16 is 32 ms
    EXPECT_EQ(clock.Stamp(26, 5), 1000042);
    clock.Reset();
    EXPECT_EQ(clock.Stamp(30, 7777), 7777);
}

TEST(LogTexts, LevelTableLayout)
{
    LevelTable t{};
    t[0] = {0.0005, -24.4145};
    const QString text = LevelTableLogText(t);
    const QStringList lines = text.split('\n');
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], QString::fromUtf8("获取探头档位校准参数"));
    EXPECT_EQ(lines[1], QString::fromUtf8("   1档, k = 0.0005          b = -24.4145"));
    EXPECT_EQ(lines[8], QString::fromUtf8("   8档, k = 0               b = 0"));
}
