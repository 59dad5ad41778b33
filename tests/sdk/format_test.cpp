// Output formatting: unit conversions, time stamps, data rows that read back exactly,
// and text that is safe to print whatever the meter sent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "format.h"
#include "test_files.h"

using namespace tessivar::cli;

TEST(FormatUnits, WattsAndDbmFromNanowatts)
{
    EXPECT_DOUBLE_EQ(nanowattsToWatts(1e9), 1.0);
    EXPECT_DOUBLE_EQ(nanowattsToWatts(1000.0), 1e-6);
    ASSERT_TRUE(nanowattsToDbm(1e6).has_value());
    EXPECT_NEAR(*nanowattsToDbm(1e6), 0.0, 1e-12);       // 1 mW
    EXPECT_NEAR(*nanowattsToDbm(1000.0), -30.0, 1e-12);  // 1 µW
    EXPECT_NEAR(*nanowattsToDbm(1e9), 30.0, 1e-12);      // 1 W
    EXPECT_NEAR(*nanowattsToDbm(2e6), 3.0103, 1e-4);
    // Zero, negative (normal after zero compensation) and broken values have no dBm.
    EXPECT_FALSE(nanowattsToDbm(0.0).has_value());
    EXPECT_FALSE(nanowattsToDbm(-0.5).has_value());
    EXPECT_FALSE(nanowattsToDbm(NAN).has_value());
    EXPECT_FALSE(nanowattsToDbm(INFINITY).has_value());
}

TEST(FormatUnits, SiPrefixChosenForTheMagnitude)
{
    EXPECT_EQ(formatPowerSi(1000.2), "1.0002 µW");
    EXPECT_EQ(formatPowerSi(999.99), "999.99 nW");
    EXPECT_EQ(formatPowerSi(999999.99), "1.0000 mW") << "rounding up crosses into the next unit";
    EXPECT_EQ(formatPowerSi(12.5e6), "12.500 mW");
    EXPECT_EQ(formatPowerSi(2.5e9), "2.5000 W");
    EXPECT_EQ(formatPowerSi(0.0042), "4.2000 pW");
    EXPECT_EQ(formatPowerSi(-3.1), "-3.1000 nW");
    EXPECT_EQ(formatPowerSi(0.0), "0 W");
    EXPECT_EQ(formatPowerSi(NAN), "nan W");
    EXPECT_EQ(formatDbm(1000.0), "-30.000 dBm");
    EXPECT_EQ(formatDbm(-1.0), "- dBm");
}

TEST(FormatTime, LocalWallClockMillisecondsWithoutShift)
{
    // 2026-01-15 08:30:05.042 as the library stamps it (already local time).
    const int64_t ms = 1768465805042LL;
    EXPECT_EQ(formatTimestamp(ms), "2026-01-15 08:30:05.042");
    EXPECT_EQ(formatTimestamp(ms, 'T'), "2026-01-15T08:30:05.042");
    EXPECT_EQ(formatTimestamp(0), "1970-01-01 00:00:00.000");
    EXPECT_EQ(formatTimestamp(-1), "1969-12-31 23:59:59.999") << "fraction stays 0..999";
    EXPECT_EQ(formatTimestamp(999), "1970-01-01 00:00:00.999");
}

TEST(FormatTime, UnixTimeAndIsoWithTheOffsetFromTheLibrarysLocalStamp)
{
    // The library's 08:30:05.042 local time, one hour east of UTC: 07:30:05.042 UTC.
    const int64_t local = 1768465805042LL;
    EXPECT_EQ(unixMsOf(local, 3600), local - 3600000);
    EXPECT_EQ(formatIsoTime(local, 3600), "2026-01-15T08:30:05.042+01:00");
    EXPECT_EQ(formatIsoTime(local, -(3 * 3600 + 30 * 60)), "2026-01-15T08:30:05.042-03:30");
    EXPECT_EQ(formatIsoTime(local, 0), "2026-01-15T08:30:05.042+00:00");
    EXPECT_EQ(formatUtcOffset(5 * 3600 + 45 * 60), "+05:45");
}

TEST(FormatTime, OffsetOfTheLocalZoneFollowsTZ)
{
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    setenv("TZ", "UTC-05:30", 1);  // POSIX: 5:30 east of Greenwich
    tzset();
    EXPECT_EQ(localUtcOffsetSeconds(1768465805), 5 * 3600 + 30 * 60);
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(localUtcOffsetSeconds(1768465805), 3600) << "January: CET";
    EXPECT_EQ(localUtcOffsetSeconds(1784100000), 7200) << "July: CEST";
    if (saved)
        setenv("TZ", before.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(FormatRows, CsvColumnsNameWhatTheyAre)
{
    EXPECT_EQ(csvHeader(), "unix_ms,local_ms,time,power_w,power_dbm\n");
    const double powers[] = {1000.0, 1234.56789012345, 0.1 + 0.2, 3.3e8, 7e-3};
    for (double nw : powers) {
        const std::string row = csvRow({1768465805042LL, nw}, 3600);
        ASSERT_EQ(row.back(), '\n');
        auto cells = split(row.substr(0, row.size() - 1), ',');
        ASSERT_EQ(cells.size(), 5u) << row;
        EXPECT_EQ(cells[0], "1768462205042") << "Unix time is an hour before the local stamp";
        EXPECT_EQ(cells[1], "1768465805042");
        EXPECT_EQ(cells[2], "2026-01-15T08:30:05.042+01:00");
        EXPECT_NEAR(std::strtod(cells[3].c_str(), nullptr), nanowattsToWatts(nw),
                    nanowattsToWatts(nw) * 1e-7)
            << row;
        EXPECT_NEAR(std::strtod(cells[4].c_str(), nullptr), *nanowattsToDbm(nw), 1e-4) << row;
    }
}

TEST(FormatRows, WattsWithSevenSignificantDigits)
{
    EXPECT_EQ(formatWatts(1234.56789012345), "1.234568e-06");
    EXPECT_EQ(formatWatts(1000.0), "1e-06");
    EXPECT_EQ(formatWatts(2500.0), "2.5e-06");
    EXPECT_EQ(formatWatts(0.0), "0");
    EXPECT_EQ(formatWatts(-2.0), "-2e-09");
}

TEST(FormatRows, MissingValuesAreEmptyInCsvAndNullInJson)
{
    auto row = csvRow({5, -2.0}, 0);
    auto cells = split(row.substr(0, row.size() - 1), ',');
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(std::strtod(cells[3].c_str(), nullptr), -2e-9);
    EXPECT_EQ(cells[4], "");
    row = csvRow({5, NAN}, 0);
    auto broken = split(row.substr(0, row.size() - 1), ',');
    ASSERT_EQ(broken.size(), 5u);
    EXPECT_EQ(broken[3], "");
    EXPECT_EQ(broken[4], "");

    EXPECT_EQ(
        jsonlRow({1768465805042LL, 1000.0}, 3600),
        "{\"unix_ms\":1768462205042,\"local_ms\":1768465805042,\"time\":\"2026-01-15T08:30:05.042+01:00\","
        "\"power_w\":1e-06,\"power_dbm\":-30.0000}\n");
    EXPECT_EQ(
        jsonlRow({0, 0.0}, 0),
        "{\"unix_ms\":0,\"local_ms\":0,\"time\":\"1970-01-01T00:00:00.000+00:00\",\"power_w\":0,"
        "\"power_dbm\":null}\n");
    EXPECT_NE(jsonlRow({0, INFINITY}, 0).find("\"power_w\":null"), std::string::npos)
        << "JSON has no literal for infinity";
}

TEST(FormatText, JsonStringsAreEscaped)
{
    EXPECT_EQ(jsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(jsonObject({{"a", "1"}, {"b", jsonString("x")}}), "{\"a\":1,\"b\":\"x\"}");
}

TEST(FormatText, PluralsReadAsEnglish)
{
    EXPECT_EQ(plural(1, "sample"), "1 sample");
    EXPECT_EQ(plural(0, "sample"), "0 samples");
    EXPECT_EQ(plural(2, "frame"), "2 frames");
}

TEST(FormatText, TableColumnsAlignAndCountCodePoints)
{
    const std::string t = formatTable({"ID", "Name"}, {{"3", "µW meter"}, {"50331648", "x"}});
    EXPECT_EQ(t, "ID        Name\n"
                 "--------  --------\n"
                 "3         µW meter\n"
                 "50331648  x\n");
    // A short row (meter not answering) is padded, not cut.
    const std::string shortRow = formatTable({"ID", "A", "B"}, {{"1", "(not answering)"}});
    EXPECT_NE(shortRow.find("1   (not answering)\n"), std::string::npos) << shortRow;
    EXPECT_EQ(formatFields({{"Probe", "x"}, {"Wavelength range", "400 to 1100 nm"}}),
              "Probe:             x\n"
              "Wavelength range:  400 to 1100 nm\n");
}

TEST(FormatText, MeterBytesAreMadeSafeForATerminal)
{
    const char text[] = {'P', 'M', '-', '1', 0, 'x', 'x'};
    EXPECT_EQ(printableText(text, sizeof text), "PM-1") << "stops at the terminator";
    const char unterminated[] = {'A', 'B', 'C'};
    EXPECT_EQ(printableText(unterminated, 3), "ABC") << "never reads past n";
    const char control[] = {'a', '\x1b', '[', '2', 'J', '\n', '\xff', '\\'};
    EXPECT_EQ(printableText(control, sizeof control), "a\\x1B[2J\\x0A\\xFF\\x5C");
    EXPECT_EQ(printableText("2026-01-15", 10), "2026-01-15");
}
