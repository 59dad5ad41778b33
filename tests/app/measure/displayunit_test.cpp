// The display units: texts, floors, the reference, statistics in logarithmic units, the
// dial's logarithmic range and the viewer's conversion of a file's values.
#include "displayunit.h"
#include "measureformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using displayunit::Kind;
using displayunit::Scale;

std::string S(const QString &s) { return s.toStdString(); }

constexpr double kUw = 1e3, kMw = 1e6;  // nW per unit

TEST(DisplayUnit, TextsInEveryUnit)
{
    struct Case {
        Scale scale;
        double value, factor;
        const char *token;
        const char *text;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        // Watts are exactly what they always were.
        {Scale::Watt(), 1.0, kUw, "μW", "1.00μW"},
        {Scale::Watt(), -0.001, kUw, "μW", "-0.00μW"},
        {Scale::Dbm(), 1000, 1, "nw", "-30.00dBm"},
        {Scale::Dbm(), 1.0, kUw, "μW", "-30.00dBm"},
        {Scale::Dbm(), 2.0, kMw, "mw", "3.01dBm"},
        {Scale::Dbm(), 1, 1, "nw", "-60.00dBm"},
        // Below the whole-nanowatt resolution, and what no power is.
        {Scale::Dbm(), 0, 1, "nw", "<-60.00dBm"},
        {Scale::Dbm(), -5, 1, "nw", "<-60.00dBm"},
        {Scale::Dbm(), 0.5, 1, "nw", "<-60.00dBm"},
        {Scale::Dbm(), nan, 1, "nw", "<-60.00dBm"},
        {Scale::Dbm(), inf, 1, "nw", "<-60.00dBm"},
        {Scale::Db(1000), 1000, 1, "nw", "0.00dB"},
        {Scale::Db(1000), 0.5, kUw, "μW", "-3.01dB"},
        {Scale::Db(1000), 999.999, 1, "nw", "0.00dB"},  // never "-0.00dB"
        {Scale::Db(1000), 10, kUw, "μW", "10.00dB"},
        {Scale::Db(1000), 0, 1, "nw", "<-30.00dB"},
        // A dB scale without a reference is a dBm scale.
        {Scale::Db(0), 1000, 1, "nw", "-30.00dBm"},
        {Scale::Db(nan), 1000, 1, "nw", "-30.00dBm"},
    };
    for (const Case &c : cases) {
        const QString token = QString::fromUtf8(c.token);
        const QString text = c.scale.Text(c.value, c.factor, token);
        EXPECT_EQ(S(text), c.text) << c.value;
        EXPECT_FALSE(text.contains("nan") || text.contains("inf")) << S(text);
        EXPECT_TRUE(std::isfinite(c.scale.Number(c.value, c.factor)) || !c.scale.IsLog());
    }
    EXPECT_EQ(S(Scale::Dbm().Text(2.0, kMw, "mw", false)), "3.01");
    EXPECT_EQ(Scale::Db(0).kind(), Kind::Dbm);
    EXPECT_EQ(S(Scale::Watt().Token("mw")), "mw");
    EXPECT_EQ(S(Scale::Db(5).Token("mw")), "dB");
    // The numbers a curve holds: another reference, other numbers.
    EXPECT_NE(Scale::Db(5).Key("nw"), Scale::Db(6).Key("nw"));
    EXPECT_EQ(Scale::Dbm().Key("nw"), Scale::Dbm().Key("mw"));
    EXPECT_NE(Scale::Watt().Key("nw"), Scale::Watt().Key("mw"));
}

TEST(DisplayUnit, ConversionsBothWaysAndTheReferenceText)
{
    EXPECT_DOUBLE_EQ(displayunit::DbmOfNw(1e6), 0.0);
    EXPECT_DOUBLE_EQ(displayunit::DbmOfNw(1), -60.0);
    EXPECT_DOUBLE_EQ(displayunit::DbmOfNw(0), -60.0);
    EXPECT_NEAR(displayunit::DbOfNw(500, 1000), -3.0103, 1e-4);
    for (double nw : {1.0, 12.0, 1e6, 3.3e9})
        EXPECT_NEAR(displayunit::NwOfDbm(displayunit::DbmOfNw(nw)) / nw, 1.0, 1e-12);
    EXPECT_NEAR(displayunit::NwOfDb(-3.0103, 1000), 500, 0.01);

    EXPECT_EQ(S(displayunit::ReferenceText("参考: ", 1000)), "参考: -30.00dBm");
    EXPECT_EQ(S(displayunit::ReferenceText("参考: ", 0)), "");
    EXPECT_EQ(displayunit::ItemNames(), (QStringList{"W", "dBm", "dB"}));
    EXPECT_EQ(displayunit::FromName("dB"), Kind::Db);
    EXPECT_FALSE(displayunit::FromName("dbm").has_value());
}

TEST(DisplayUnit, StatisticsAreTheLogOfTheLinearFigures)
{
    // Max, min and mean of 1 µW and 3 µW: the mean 2 µW is -26.99 dBm, where the mean of
    // the two logarithms would be -27.61 dBm.
    const double totals[3] = {3.0, 1.0, 2.0};
    const measurefmt::NumTexts t = measurefmt::NumView(3.0, totals, 5.0, "μW", Scale::Dbm(), kUw);
    EXPECT_EQ(S(t.value), "-25.23dBm");
    EXPECT_EQ(S(t.max), "-25.23dBm");
    EXPECT_EQ(S(t.min), "-30.00dBm");
    EXPECT_EQ(S(t.mean), "-26.99dBm");
    // Over range is decided on the linear full scale in every unit.
    EXPECT_TRUE(measurefmt::NumView(5.01, totals, 5.0, "μW", Scale::Dbm(), kUw).overRange);
    EXPECT_FALSE(measurefmt::NumView(5.0, totals, 5.0, "μW", Scale::Db(1000), kUw).overRange);
    // Histogram edges: watts keep 3 decimals, logarithmic units get 2 and the floor.
    EXPECT_EQ(S(Scale::Watt().EdgeText(1.23456, kUw)), "1.235");
    EXPECT_EQ(S(Scale::Dbm().EdgeText(1.0, kUw)), "-30.00");
    EXPECT_EQ(S(Scale::Dbm().EdgeText(0.0, kUw)), "<-60.00");
}

TEST(DisplayUnit, LogDialRangeSpansFortyFiveDecibelsOnRoundNumbers)
{
    struct Case {
        double fullScale, min, max;
    };
    for (const Case &c :
         {Case{6.99, -35, 10}, Case{-10, -55, -10}, Case{-13.01, -55, -10}, Case{0, -45, 0},
          Case{std::numeric_limits<double>::quiet_NaN(), -45, 0}}) {
        const displayunit::DialRange r = displayunit::LogDialRange(c.fullScale);
        EXPECT_EQ(r.min, c.min) << c.fullScale;
        EXPECT_EQ(r.max, c.max) << c.fullScale;
    }
}

TEST(DisplayUnit, ViewerConvertsOnlyThePlot)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A file in watts viewed in watts, and a dBm file in dBm: as read.
    EXPECT_TRUE(displayunit::FileScale("μW", 0, Kind::Watt, 5).AsRead());
    EXPECT_TRUE(displayunit::FileScale("dBm", 0, Kind::Dbm, -3).AsRead());
    // Watts in dBm.
    const displayunit::FileScale toDbm("μW", 0, Kind::Dbm, 5);
    EXPECT_EQ(S(toDbm.Token()), "dBm");
    EXPECT_NEAR(toDbm.Apply(1.0), -30.0, 1e-9);
    EXPECT_EQ(toDbm.Apply(0.0), -60.0);
    EXPECT_TRUE(std::isnan(toDbm.Apply(nan)));  // a gap stays a gap
    // dBm in watts: the unit the automatic range would choose for the largest value.
    const displayunit::FileScale toW("dBm", 0, Kind::Watt, -27.0);  // 1.995 µW
    EXPECT_EQ(S(toW.Token()), "μW");
    EXPECT_NEAR(toW.Apply(-30.0), 1.0, 1e-9);
    // dB with its reference; without one it cannot be converted.
    const displayunit::FileScale db("dB", 1000, Kind::Dbm, 0);
    EXPECT_NEAR(db.Apply(-3.0), -33.0, 1e-9);
    EXPECT_NEAR(displayunit::FileScale("dB", 1000, Kind::Watt, 0).Apply(0.0), 1.0, 1e-9);
    const displayunit::FileScale lost("dB", 0, Kind::Dbm, 0);
    EXPECT_TRUE(lost.AsRead());
    EXPECT_EQ(S(lost.Token()), "dB");
}

}  // namespace
