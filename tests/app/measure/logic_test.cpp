// The measurement page's widget-free logic: ranging, texts, dial geometry, relative mode,
// tick steps and the settings file. No QApplication.
#include "dialscale.h"
#include "measureconfig.h"
#include "measureformat.h"
#include "powerrange.h"
#include "tickstep.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QString kMicro = QString::fromUtf8("μW");

// ---- ranges ------------------------------------------------------------------------

TEST(PowerRange, ItemTable)
{
    const QStringList texts = powerrange::ItemTexts();
    ASSERT_EQ(texts.size(), 11);
    EXPECT_EQ(texts.first(), "Auto");
    EXPECT_EQ(texts[3], QString::fromUtf8("5μw"));
    EXPECT_EQ(texts.last(), "10w");
    const powerrange::Range r3 = powerrange::ForIndex(3);
    EXPECT_EQ(r3.unit, kMicro);  // capital W in the token, small w in the label
    EXPECT_EQ(r3.fullScale, 5);
    EXPECT_EQ(powerrange::ForIndex(8).unit, "mw");
    EXPECT_EQ(powerrange::ForIndex(8).fullScale, 500);
    EXPECT_EQ(powerrange::ForIndex(10).fullScale, 10);
    // "Auto" by hand and anything out of the table: the most sensitive range.
    for (int i : {0, -1, 11}) {
        EXPECT_EQ(powerrange::ForIndex(i).unit, "nw");
        EXPECT_EQ(powerrange::ForIndex(i).fullScale, 50);
    }
}

TEST(PowerRange, AutomaticChoiceAtTheEdges)
{
    struct Case {
        qint64 raw;
        double fs;
        const char *unit;
    };
    const Case cases[] = {
        {-7, 50, "nw"},          {0, 50, "nw"},
        {50, 50, "nw"},          {51, 500, "nw"},
        {500, 500, "nw"},        {501, 5, "μW"},
        {5000, 5, "μW"},         {50000, 50, "μW"},
        {500000, 500, "μW"},     {500001, 5, "mw"},
        {5000000, 5, "mw"},      {5000001, 50, "mw"},
        {500000000, 500, "mw"},  {5000000000LL, 5, "w"},
        {5000000001LL, 10, "w"}, {std::numeric_limits<qint64>::max(), 10, "w"},
    };
    for (const Case &c : cases) {
        const powerrange::Range r = powerrange::ForRawNw(c.raw);
        EXPECT_EQ(r.low, 0) << c.raw;
        EXPECT_EQ(r.fullScale, c.fs) << c.raw;
        EXPECT_EQ(r.unit, QString::fromUtf8(c.unit)) << c.raw;
    }
}

TEST(PowerRange, BandBetweenATenthAndFullScaleKeepsTheRange)
{
    EXPECT_FALSE(powerrange::NeedsNewRange(0.5, 5));
    EXPECT_FALSE(powerrange::NeedsNewRange(3.2, 5));
    EXPECT_FALSE(powerrange::NeedsNewRange(5, 5));
    EXPECT_TRUE(powerrange::NeedsNewRange(0.49, 5));
    EXPECT_TRUE(powerrange::NeedsNewRange(5.01, 5));
    EXPECT_TRUE(powerrange::NeedsNewRange(std::nan(""), 5));
    // The record's initial range (0, largest double): any finite reading re-ranges.
    EXPECT_TRUE(powerrange::NeedsNewRange(1000, std::numeric_limits<double>::max()));
}

// ---- texts ---------------------------------------------------------------------------

TEST(MeasureFormat, PowerAndElapsed)
{
    EXPECT_EQ(measurefmt::Power(12.345, "mw"), "12.35mw");
    EXPECT_EQ(measurefmt::Power(-0.5, kMicro), QString::fromUtf8("-0.50μW"));
    EXPECT_EQ(measurefmt::Power(3, "w"), "3.00w");
    EXPECT_EQ(measurefmt::Elapsed(3725), "01:02:05");
    EXPECT_EQ(measurefmt::Elapsed(0), "00:00:00");
    EXPECT_EQ(measurefmt::Elapsed(360000), "100:00:00");
    EXPECT_EQ(measurefmt::Elapsed(-5), "00:00:00");
}

TEST(MeasureFormat, NumericViewOverRangeUsesOnlyTheFullScale)
{
    const double totals[3] = {4, 1, 2.5};
    measurefmt::NumTexts t = measurefmt::NumView(5, totals, 5, "mw");
    EXPECT_FALSE(t.overRange);
    EXPECT_EQ(t.value, "5.00mw");
    EXPECT_EQ(t.max, "4.00mw");
    EXPECT_EQ(t.min, "1.00mw");
    EXPECT_EQ(t.mean, "2.50mw");
    t = measurefmt::NumView(5.001, totals, 5, "mw");
    EXPECT_TRUE(t.overRange);
    EXPECT_TRUE(t.value.isEmpty() && t.max.isEmpty() && t.min.isEmpty() && t.mean.isEmpty());
    // Below the lower end is still a number; nothing is over range before the first range.
    EXPECT_FALSE(measurefmt::NumView(-3, totals, 5, "mw").overRange);
    EXPECT_FALSE(
        measurefmt::NumView(1e300, totals, std::numeric_limits<double>::max(), "nw").overRange);
}

// ---- dial ----------------------------------------------------------------------------

TEST(Dial, ScaleNumbersZeroToFive)
{
    dial::ScaleLabel labels[10];
    dial::ScaleLabels(0, 5, 1.0, labels);
    const char *expected[10] = {"0", "0", "1", "1", "2", "5", "4", "3", "3", "2"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(labels[i].text, expected[i]) << i;
    // Left end at (-225, 0) turned -90, right end mirrored; 3.14 puts 80 degrees a hair off.
    EXPECT_EQ(labels[0].pos, QPoint(-224, 0));
    EXPECT_EQ(labels[0].rotation, -90);
    EXPECT_EQ(labels[5].pos, QPoint(224, 0));
    EXPECT_EQ(labels[5].rotation, 90);
    EXPECT_EQ(labels[4].rotation, -10);
    EXPECT_EQ(labels[9].rotation, 10);
    EXPECT_LT(labels[4].pos.y(), -200);
}

TEST(Dial, ScaleTextsOfSymmetricAndHugeRanges)
{
    dial::ScaleLabel labels[10];
    dial::ScaleLabels(-1, 1, 1.0, labels);
    EXPECT_EQ(labels[0].text, "-1");
    EXPECT_EQ(labels[4].text, "0");  // -0.11 truncates to 0, never "-0"
    EXPECT_EQ(labels[5].text, "1");
    EXPECT_EQ(dial::ScaleText(1e300), "9200000000000000000");
    EXPECT_EQ(dial::ScaleText(std::nan("")), "0");
}

TEST(Dial, TicksAndNeedle)
{
    EXPECT_EQ(dial::TickLength(0), 215);
    EXPECT_EQ(dial::TickLength(10), 210);
    EXPECT_EQ(dial::TickLength(12), 205);
    EXPECT_EQ(dial::TickLength(180), 215);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(0, 0, 50), -90);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(25, 0, 50), 0);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(50, 0, 50), 90);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(5, 5, 5), -90);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(std::nan(""), 0, 5), -90);
    EXPECT_DOUBLE_EQ(dial::NeedleAngle(1, 0, std::numeric_limits<double>::infinity()), -90);
    EXPECT_DOUBLE_EQ(dial::ScaleFor(800, 480), 480 / 500.0);
}

dial::PointerOutput Relative(double diff, double dialMin, double dialMax)
{
    dial::PointerInput in;
    in.relative = true;
    in.reference = 10;
    in.current = 10 + diff;
    in.dialMin = dialMin;
    in.dialMax = dialMax;
    return dial::PointerStep(in);
}

TEST(Dial, RelativeModeRanges)
{
    dial::PointerOutput o = Relative(0.3, 0, 50);
    EXPECT_FALSE(o.rangeChanged);
    EXPECT_EQ(o.dialMin, 0);
    EXPECT_EQ(o.dialMax, 50);
    EXPECT_NEAR(o.needle, 0.3, 1e-12);
    o = Relative(-0.3, 0, 50);
    EXPECT_TRUE(o.rangeChanged);
    EXPECT_EQ(o.dialMin, -1);
    EXPECT_EQ(o.dialMax, 1);
    o = Relative(2.5, -1, 1);
    EXPECT_EQ(o.dialMin, -2.5);
    EXPECT_EQ(o.dialMax, 2.5);
    EXPECT_FALSE(o.overRange);
    EXPECT_EQ(o.needle, 2.5);
    o = Relative(-4, -1, 1);
    EXPECT_EQ(o.dialMin, -4);
    EXPECT_EQ(o.dialMax, 4);
}

TEST(Dial, AbsoluteModePegsAboveFullScale)
{
    dial::PointerInput in;
    in.current = 7;
    in.lower = 0;
    in.upper = 5;
    dial::PointerOutput o = dial::PointerStep(in);
    EXPECT_TRUE(o.overRange);
    EXPECT_EQ(o.needle, 5);
    EXPECT_EQ(o.dialMax, 5);
    in.current = 5;
    o = dial::PointerStep(in);
    EXPECT_FALSE(o.overRange);
    EXPECT_EQ(o.needle, 5);
}

TEST(Dial, RatioModeAndAZeroReference)
{
    dial::PointerInput in;
    in.relative = true;
    in.ratio = true;
    in.reference = 4;
    in.current = 5;
    in.dialMin = -1;
    in.dialMax = 1;
    EXPECT_DOUBLE_EQ(dial::PointerStep(in).needle, 0.25);  // a ratio, not percent
    in.reference = 0;
    in.current = 0.5;
    const dial::PointerOutput o = dial::PointerStep(in);
    EXPECT_TRUE(std::isfinite(o.needle));
    EXPECT_DOUBLE_EQ(o.needle, 0.5);
    EXPECT_TRUE(std::isfinite(o.dialMin) && std::isfinite(o.dialMax));
    EXPECT_TRUE(std::isfinite(dial::NeedleAngle(o.needle, o.dialMin, o.dialMax)));
}

// ---- tick step -----------------------------------------------------------------------

TEST(TickStep, ClockSteps)
{
    EXPECT_EQ(tickstep::Step(0, 600, 5), 120);
    EXPECT_EQ(tickstep::Step(100, 103, 5), 1);  // span shorter than the count
    EXPECT_EQ(tickstep::Step(0, 0, 4), 1);
    EXPECT_EQ(tickstep::Step(0, 50, 10), 5);
    EXPECT_EQ(tickstep::Step(0, 9 * 5, 5), 10);  // between 6 and 10, nearer 10
    EXPECT_EQ(tickstep::Step(0, 7 * 4, 4), 6);
    EXPECT_EQ(tickstep::Step(0, 13 * 2, 2), 15);
    EXPECT_EQ(tickstep::Step(0, 2000 * 3, 3), 1800);
    EXPECT_EQ(tickstep::Step(0, 1e12, 3), 31104000);
    EXPECT_EQ(tickstep::Step(0, 100, 0), 31104000);  // count 0: huge step, last member
    EXPECT_EQ(tickstep::Step(0, std::nan(""), 4), 1);
}

TEST(TickStep, CountFromWidth)
{
    EXPECT_EQ(tickstep::CountForWidth(500), 4);
    EXPECT_EQ(tickstep::CountForWidth(520), 4);
    EXPECT_EQ(tickstep::CountForWidth(530), 5);
    EXPECT_EQ(tickstep::CountForWidth(105), 0);
}

// ---- settings file -------------------------------------------------------------------

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

TEST(MeasureConfig, WriteThenReadRestoresTheValuesAndKeepsOtherKeys)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    WriteText(path, "[other]\nkeep=1\n");
    QString error;
    ASSERT_TRUE(measureconfig::Write(path, {1310, 10.5, 20, "dB", 1000}, &error))
        << error.toStdString();
    EXPECT_EQ(ReadAll(path), "[dataConfig]\nattenuation=10.5\naverageTime=20\ndisplayUnit=dB\n"
                             "referenceNw=1000\nwaveLength=1310\n\n[other]\nkeep=1\n");
    measureconfig::Loaded loaded;
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_EQ(loaded.waveLength, 1310);
    EXPECT_EQ(loaded.attenuation, 10.5);
    EXPECT_EQ(loaded.averageTime, 20);
    EXPECT_EQ(loaded.displayUnit, QString("dB"));
    EXPECT_EQ(loaded.referenceNw, 1000.0);

    // Without a reference the old key goes: the file says what the page holds.
    ASSERT_TRUE(measureconfig::Write(path, {1310, 10.5, 20, "dBm", 0}, &error));
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_EQ(loaded.displayUnit, QString("dBm"));
    EXPECT_FALSE(loaded.referenceNw.has_value());
    EXPECT_FALSE(ReadAll(path).contains("referenceNw"));
}

TEST(MeasureConfig, DisplayUnitKeysOfOldAndBadFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("u.ini");
    measureconfig::Loaded loaded;
    QString error;
    // A file from before the unit existed: nothing about it, the rest as always.
    WriteText(path, "[dataConfig]\nwaveLength=1310\nattenuation=0\naverageTime=5\n");
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_FALSE(loaded.displayUnit || loaded.referenceNw);
    EXPECT_EQ(loaded.waveLength, 1310);
    // A stored 0 is no reference.
    WriteText(path, "[dataConfig]\ndisplayUnit=W\nreferenceNw=0\n");
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_EQ(loaded.displayUnit, QString("W"));
    EXPECT_FALSE(loaded.referenceNw.has_value());
    for (const char *text : {"[dataConfig]\ndisplayUnit=dbm\n", "[dataConfig]\ndisplayUnit=mW\n",
                             "[dataConfig]\nreferenceNw=-5\n", "[dataConfig]\nreferenceNw=inf\n",
                             "[dataConfig]\nreferenceNw=abc\nwaveLength=5\n"}) {
        WriteText(path, text);
        error.clear();
        EXPECT_FALSE(measureconfig::Read(path, &loaded, &error)) << text;
        EXPECT_FALSE(loaded.displayUnit || loaded.referenceNw || loaded.waveLength) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
}

TEST(MeasureConfig, MissingKeysStayEmptyAndOutOfRangeValuesAreClamped)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("b.ini");
    WriteText(path, "[dataConfig]\nwaveLength=0\nattenuation=123456.789\n");
    measureconfig::Loaded loaded;
    QString error;
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_EQ(loaded.waveLength, 1);
    EXPECT_EQ(loaded.attenuation, 9999.0);
    EXPECT_FALSE(loaded.averageTime.has_value());
    WriteText(path,
              "[dataConfig]\nwaveLength=99999999999999\naverageTime=-4\nattenuation=-1.005\n");
    ASSERT_TRUE(measureconfig::Read(path, &loaded, &error));
    EXPECT_EQ(loaded.waveLength, 10000);
    EXPECT_EQ(loaded.averageTime, 1);
    EXPECT_NEAR(*loaded.attenuation, -1.0, 0.011);
}

TEST(MeasureConfig, TextWhereANumberBelongsRejectsTheWholeFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("c.ini");
    for (const char *text :
         {"[dataConfig]\nwaveLength=1310\naverageTime=abc\n", "[dataConfig]\nwaveLength=13x0\n",
          "[dataConfig]\nattenuation=nan\nwaveLength=5\n", "[dataConfig]\nattenuation=inf\n",
          "[dataConfig]\nwaveLength=1310.5\n"}) {
        WriteText(path, text);
        measureconfig::Loaded loaded;
        QString error;
        EXPECT_FALSE(measureconfig::Read(path, &loaded, &error)) << text;
        EXPECT_FALSE(loaded.waveLength || loaded.attenuation || loaded.averageTime) << text;
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(MeasureConfig, UnreadableAndUnwritableFilesReportWhy)
{
    QTemporaryDir dir;
    measureconfig::Loaded loaded;
    QString error;
    EXPECT_FALSE(measureconfig::Read(dir.filePath("missing.ini"), &loaded, &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8("未读取")));
    error.clear();
    const QString path = dir.filePath("ro.ini");
    WriteText(path, "[dataConfig]\nwaveLength=5\n");
    // A path below a plain file can be created by nobody.
    EXPECT_FALSE(measureconfig::Write(path + "/x.ini", {}, &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8("未保存")));
}

TEST(MeasureConfig, ReadOnlyFileIsNotOverwritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ro.ini");
    WriteText(path, "[dataConfig]\nwaveLength=5\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    if (QFile(path).open(QIODevice::WriteOnly | QIODevice::Append))
        GTEST_SKIP() << "running as a user that ignores file permissions";
    QString error;
    EXPECT_FALSE(measureconfig::Write(path, {1310, 1, 2}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadAll(path), "[dataConfig]\nwaveLength=5\n");
}

}  // namespace
