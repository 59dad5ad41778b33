// The recorder's file logic without a screen: a scripted clock and meter, the real file
// system in a temporary folder, and a sink that can be made to fail.
#include "datafile.h"
#include "plotgaps.h"
#include "plotthin.h"
#include "recorder.h"
#include "testdata.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace recorder;

class FakeSource : public Source {
public:
    qint64 nowMs = 1700000000123;
    qint64 steadyMs = 5000;
    double power = 0;
    bool selected = true;    // a meter is selected (Bind)
    bool delivering = true;  // its newest sample is a present one
    double waveLen = 1310;
    qint64 NowMs() override { return nowMs; }
    qint64 SteadyMs() override { return steadyMs; }
    bool Bind() override { return selected; }
    std::optional<double> FreshPowerNw() override
    {
        return delivering ? std::optional<double>(power) : std::nullopt;
    }
    datafile::HeaderInfo Identity() override
    {
        datafile::HeaderInfo h;
        h.devName = QStringLiteral("OPM");
        h.detSerial = QStringLiteral("D1");
        h.waveLen = waveLen;
        h.average = 8;
        return h;
    }
    void Advance(int ms = 100)
    {
        nowMs += ms;
        steadyMs += ms;
        power += 1;
    }
};

// The disk, except that appends fail while `failing` is set (a full disk, a locked file).
class FlakySink : public DiskSink {
public:
    bool failing = false;
    int appends = 0;
    bool Append(const QString &path, const QByteArray &bytes, QString *error) override
    {
        ++appends;
        if (failing) {
            *error = QStringLiteral("No space left on device");
            return false;
        }
        return DiskSink::Append(path, bytes, error);
    }
};

// Sample numbers of the rows of a recording file, in file order.
QVector<qint64> RowNumbers(const QString &path)
{
    const datafile::ReadSeries r = datafile::ReadDataSeries(path, 0);
    const double start = double(r.outcome.header.startSeconds.value_or(0));
    QVector<qint64> out;
    for (double key : r.keys)
        out.append(qRound64((key - start) * 10));
    return out;
}

QVector<qint64> Range(qint64 from, qint64 to)
{
    QVector<qint64> v;
    for (qint64 i = from; i < to; ++i)
        v.append(i);
    return v;
}

void MakeFile(const QString &path, qint64 size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(size));
}

struct RecorderTest : ::testing::Test {
    QTemporaryDir tmp;
    FakeSource source;
    FlakySink sink;
    Recorder rec{source, sink};

    Settings Single(StopCondition stop = StopCondition::Manual)
    {
        Settings s;
        s.dir = tmp.filePath("data");
        s.name = QStringLiteral("sample.csv");
        s.stop = stop;
        return s;
    }
    Settings Multi()
    {
        Settings s = Single();
        s.mode = FileMode::Multiple;
        s.name = QStringLiteral("multiSample");
        return s;
    }
    // Ticks until the run ends or `max` ticks; returns the ticks and the last end.
    int Run(int max, TickEnd *last = nullptr)
    {
        TickEnd end = TickEnd::Running;
        int n = 0;
        while (n < max && rec.Running()) {
            source.Advance();
            rec.Tick(&end);
            ++n;
        }
        if (last)
            *last = end;
        return n;
    }
};

TEST(RecorderRules, PathsDurationsAndSizes)
{
    EXPECT_EQ(TargetPath("/a/data", "sample.csv"), "/a/data/sample.csv");
    EXPECT_EQ(DurationMs(0, 0, 0, 30), 30000);
    EXPECT_EQ(DurationMs(1000, 23, 59, 59), 86399000LL + 1000LL * 86400000LL);
    EXPECT_EQ(StorageBytes(10000), 10485760000LL);  // beyond 32 bits
}

TEST(RecorderRules, NaturalOrderAndTheMultipleFileChoice)
{
    QStringList names = {"sample_10.csv", "sample_2.csv", "a.csv", "sample_1.csv", "Sample_3.csv"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (QStringList{"a.csv", "sample_1.csv", "sample_2.csv", "Sample_3.csv",
                                  "sample_10.csv"}));

    const qint64 MiB = 1 << 20;
    EXPECT_EQ(ChooseMultiFile({}), "sample_0.csv");
    EXPECT_EQ(ChooseMultiFile({{"a.csv", 12 * MiB}, {"b.csv", 3 * MiB}}), "b.csv");
    EXPECT_EQ(ChooseMultiFile({{"a.csv", 3 * MiB}, {"b.csv", 12 * MiB}}), "a.csv");
    EXPECT_EQ(ChooseMultiFile({{"sample_0.csv", 10 * MiB}}), "sample_1.csv");
    EXPECT_EQ(ChooseMultiFile({{"sample_0.csv", 10 * MiB - 1}}), "sample_0.csv");
    // The count's name is taken by a full file: the next free number, not the full file.
    EXPECT_EQ(ChooseMultiFile({{"sample_1.csv", 11 * MiB}}), "sample_2.csv");
}

TEST_F(RecorderTest, SampleCountStopWritesExactlyRowsZeroTo999)
{
    Settings s = Single(StopCondition::SampleCount);
    s.sampleCount = 1000;
    rec.Start(s);
    TickEnd end;
    EXPECT_EQ(Run(5000, &end), 1000);
    EXPECT_EQ(end, TickEnd::CountReached);
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 1000));
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_F(RecorderTest, HeaderCarriesTheRunsStartAndTheMeter)
{
    rec.Start(Single());
    Run(3);
    ASSERT_TRUE(rec.Stop());
    const QByteArray bytes = ReadAll(tmp.filePath("data/sample.csv"));
    EXPECT_TRUE(bytes.contains("\n起始时间:,1700000000\n"));
    EXPECT_TRUE(bytes.contains("\n探头序列号:,D1\n波长:,1310\n平均次数:,8\n"));
    EXPECT_TRUE(bytes.endsWith("序号,功率值(nw)\n0,1\n1,2\n2,3\n"));
}

TEST_F(RecorderTest, TimeStopOnTheFirstTickAfterTheDuration)
{
    Settings s = Single(StopCondition::Duration);
    s.durationMs = DurationMs(0, 0, 0, 30);
    rec.Start(s);
    TickEnd end;
    EXPECT_EQ(Run(1000, &end), 301);  // 300 ticks reach exactly 30000 ms: not more than it
    EXPECT_EQ(end, TickEnd::DurationElapsed);
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")).size(), 301);
}

TEST_F(RecorderTest, StorageStopOnceTheFileExceedsTheLimit)
{
    Settings s = Single(StopCondition::Storage);
    s.storageBytes = 2000;
    rec.Start(s);
    TickEnd end;
    Run(100000, &end);
    EXPECT_EQ(end, TickEnd::StorageReached);
    const qint64 size = QFileInfo(tmp.filePath("data/sample.csv")).size();
    EXPECT_GT(size, 2000);
    EXPECT_LT(size, 2000 + 100 * 12);  // stopped by the first write past the limit

    // Multiple-file mode sums the folder's .csv files; others do not count.
    Settings m = Multi();
    m.stop = StopCondition::Storage;
    m.storageBytes = StorageBytes(10000);
    QDir().mkpath(tmp.filePath("data/multiSample"));
    MakeFile(tmp.filePath("data/multiSample/other.txt"), StorageBytes(10001));
    MakeFile(tmp.filePath("data/multiSample/a.csv"), StorageBytes(5000));
    rec.Start(m);
    Run(5, &end);
    EXPECT_EQ(end, TickEnd::Running);
    MakeFile(tmp.filePath("data/multiSample/b.csv"), StorageBytes(5000) + 1);
    Run(1, &end);
    EXPECT_EQ(end, TickEnd::StorageReached);
}

TEST_F(RecorderTest, MultipleFilesChooseAndRollOverWithNumbersContinuing)
{
    const QString folder = tmp.filePath("data/multiSample");
    rec.Start(Multi());
    Run(150);
    ASSERT_TRUE(rec.Stop());
    EXPECT_EQ(RowNumbers(folder + "/sample_0.csv"), Range(0, 150));

    // 12 MiB and 3 MiB files: the 3 MiB one gets the rows.
    QTemporaryDir other;
    Settings m = Multi();
    m.dir = other.path();
    QDir().mkpath(other.filePath("multiSample"));
    MakeFile(other.filePath("multiSample/sample_0.csv"), 12 << 20);
    MakeFile(other.filePath("multiSample/sample_1.csv"), 3 << 20);
    rec.Start(m);
    Run(100);
    EXPECT_EQ(rec.LastPath(), other.filePath("multiSample/sample_1.csv"));
    QFile appended(rec.LastPath());
    ASSERT_TRUE(appended.open(QIODevice::ReadOnly));
    appended.seek(3 << 20);
    const QByteArray tail = appended.readAll();
    EXPECT_TRUE(tail.startsWith("0,"));  // rows only, no header
    EXPECT_FALSE(tail.contains("Data File"));

    // A folder whose only file has reached 10 MiB gets sample_1.csv.
    QTemporaryDir full;
    m.dir = full.path();
    QDir().mkpath(full.filePath("multiSample"));
    MakeFile(full.filePath("multiSample/sample_0.csv"), kRolloverBytes);
    rec.Start(m);
    Run(100);
    EXPECT_EQ(rec.LastPath(), full.filePath("multiSample/sample_1.csv"));
}

TEST_F(RecorderTest, RolloverInTheMiddleOfARun)
{
    const QString folder = tmp.filePath("data/multiSample");
    QDir().mkpath(folder);
    MakeFile(folder + "/sample_0.csv", kRolloverBytes - 500);  // full after the first block
    rec.Start(Multi());
    Run(450);
    ASSERT_TRUE(rec.Stop());
    QFile first(folder + "/sample_0.csv");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    first.seek(kRolloverBytes - 500);
    EXPECT_TRUE(first.readAll().startsWith("0,1\n1,2\n"));  // rows only
    // The second file has its own header with the same start, numbers go on from 100.
    EXPECT_EQ(RowNumbers(folder + "/sample_1.csv"), Range(100, 450));
    EXPECT_TRUE(ReadAll(folder + "/sample_1.csv").contains("起始时间:,1700000000\n"));
    EXPECT_FALSE(QFile::exists(folder + "/sample_2.csv"));
}

TEST_F(RecorderTest, SecondRunAppendsWithoutASecondHeader)
{
    rec.Start(Single());
    Run(120);
    ASSERT_TRUE(rec.Stop());
    rec.Start(Single());
    Run(30);
    ASSERT_TRUE(rec.Stop());
    const QByteArray bytes = ReadAll(tmp.filePath("data/sample.csv"));
    EXPECT_EQ(bytes.count("Data File"), 1);
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 120) + Range(0, 30));
}

TEST_F(RecorderTest, WriteFailureThenSuccessLosesNothing)
{
    rec.Start(Single());
    sink.failing = true;
    Run(350);
    EXPECT_TRUE(rec.WriteFailing());
    EXPECT_TRUE(rec.LastError().contains("No space left on device"));
    EXPECT_EQ(rec.Pending(), 350);
    EXPECT_FALSE(QFile::exists(tmp.filePath("data/sample.csv")));
    sink.failing = false;
    Run(49);
    EXPECT_EQ(sink.appends, 3);  // while failing, one try per 100 new samples
    Run(1);                      // the 400th sample: the next try writes everything that piled up
    EXPECT_FALSE(rec.WriteFailing());
    EXPECT_EQ(rec.Pending(), 0);
    Run(1234);
    sink.failing = true;
    EXPECT_FALSE(rec.Stop());  // a stop that cannot write says so and keeps the rows
    EXPECT_EQ(rec.Pending(), 34);
    sink.failing = false;
    EXPECT_TRUE(rec.WritePending());
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 1634));
}

// Delivery stops and comes back: no row for a tick without a sample, numbers go on, each
// row keeps its time, the count stop counts rows, and the change is said once each way.
TEST_F(RecorderTest, TicksWithoutASampleWriteNoRowButKeepTheirNumbers)
{
    Settings s = Single(StopCondition::SampleCount);
    s.sampleCount = 100;
    ASSERT_TRUE(rec.Start(s));
    QVector<Sample> seen;
    auto tick = [&](int n, bool delivering) {
        source.delivering = delivering;
        for (int i = 0; i < n && rec.Running(); ++i) {
            source.Advance();
            seen.append(rec.Tick());
        }
    };
    tick(50, true);
    tick(30, false);
    // The gap's start wrote what was pending: a night without the meter loses nothing.
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 50));
    EXPECT_EQ(rec.GapTicks(), 30);
    tick(1000, true);
    EXPECT_FALSE(rec.Running());
    EXPECT_EQ(rec.Ticks(), 130);
    EXPECT_EQ(rec.Rows(), 100);
    EXPECT_EQ(rec.MissedTicks(), 30);
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 50) + Range(80, 130));

    ASSERT_EQ(seen.size(), 130);
    EXPECT_EQ(seen[50].delivery, Sample::Delivery::Stopped);
    EXPECT_EQ(seen[50].number, 50);
    EXPECT_FALSE(seen[50].measured);
    EXPECT_TRUE(std::isnan(seen[50].value));  // the plot breaks its line there
    EXPECT_EQ(seen[80].delivery, Sample::Delivery::Resumed);
    EXPECT_EQ(seen[80].gapTicks, 30);
    int changes = 0;
    for (const Sample &x : seen)
        changes += x.delivery != Sample::Delivery::Steady;
    EXPECT_EQ(changes, 2);
}

TEST_F(RecorderTest, ARunIsItsMetersFromTheStart)
{
    source.selected = false;
    EXPECT_FALSE(rec.Start(Single()));
    EXPECT_FALSE(rec.Running());

    // A run whose meter delivers nothing at first says so on its first tick; the header is
    // the meter's at the start, even when the first block is written much later.
    source.selected = true;
    source.delivering = false;
    ASSERT_TRUE(rec.Start(Single()));
    source.Advance();
    EXPECT_EQ(rec.Tick().delivery, Sample::Delivery::Stopped);
    source.waveLen = 0;  // the meter has gone: what it would tell now is empty
    Run(150);
    source.delivering = true;
    Run(10);
    ASSERT_TRUE(rec.Stop());
    const QByteArray bytes = ReadAll(tmp.filePath("data/sample.csv"));
    EXPECT_TRUE(bytes.contains("\n波长:,1310\n")) << bytes.constData();
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(151, 161));
}

TEST_F(RecorderTest, RolloverDuringAGapContinuesTheNumbers)
{
    const QString folder = tmp.filePath("data/multiSample");
    QDir().mkpath(folder);
    MakeFile(folder + "/sample_0.csv", kRolloverBytes - 500);  // full after the first block
    ASSERT_TRUE(rec.Start(Multi()));
    Run(120);
    source.delivering = false;
    Run(40);
    source.delivering = true;
    Run(100);
    ASSERT_TRUE(rec.Stop());
    EXPECT_EQ(RowNumbers(folder + "/sample_1.csv"), Range(100, 120) + Range(160, 260));
}

TEST_F(RecorderTest, StopByHandWritesEveryPendingRow)
{
    rec.Start(Single());
    sink.failing = true;
    Run(2500);  // more than the 1000 rows one block holds
    sink.failing = false;
    ASSERT_TRUE(rec.Stop());
    EXPECT_EQ(RowNumbers(tmp.filePath("data/sample.csv")), Range(0, 2500));
}

TEST_F(RecorderTest, NoNameOrAFolderInTheWayIsReportedNotLost)
{
    Settings s = Single();
    s.name.clear();
    rec.Start(s);
    Run(150);
    EXPECT_TRUE(rec.WriteFailing());
    EXPECT_EQ(rec.Pending(), 150);
    EXPECT_FALSE(rec.Stop());

    // A folder where the file should be: the append fails, nothing is removed.
    Settings f = Single();
    QDir().mkpath(f.dir + "/sample.csv");
    rec.Start(f);
    Run(100);
    EXPECT_TRUE(rec.WriteFailing());
    EXPECT_TRUE(QFileInfo(f.dir + "/sample.csv").isDir());
    EXPECT_EQ(rec.Pending(), 100);
}

TEST_F(RecorderTest, FailedAppendLeavesTheFileAsItWas)
{
    // The disk sink's own all-or-nothing promise, with a real short write: /dev/full.
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    DiskSink disk;
    QString error;
    EXPECT_FALSE(disk.Append("/dev/full", QByteArray(100000, 'x'), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFile::exists("/dev/full"));
}

}  // namespace

namespace {
struct Point {
    double key;
    double value;
};

TEST(PlotThinning, HalvesAndKeepsPeaksInTimeOrder)
{
    QVector<Point> p;
    for (int i = 0; i < 12; ++i)
        p.append({double(i), i == 5 ? 100.0 : i == 9 ? -100.0 : 1.0});
    plotthin::HalveEnvelope(p, 4);
    // Groups [0..3] flat, [4..7] with the peak at 5; the newest 4 stay as they are.
    ASSERT_EQ(p.size(), 8);
    EXPECT_EQ(p[0].key, 0);
    EXPECT_EQ(p[1].key, 3);
    EXPECT_EQ(p[2].key, 4);  // lowest of the group (first of equals), then the peak
    EXPECT_EQ(p[3].key, 5);
    EXPECT_EQ(p[3].value, 100);
    EXPECT_EQ(p[4].key, 8);
    EXPECT_EQ(p[5].value, -100);
    for (int i = 1; i < p.size(); ++i)
        EXPECT_LT(p[i - 1].key, p[i].key);
}

constexpr double kStart = 1700000000;  // keys of this size, as a recording's, test the rounding

QVector<Point> Rows(const std::vector<int> &numbers)
{
    QVector<Point> p;
    for (int n : numbers)
        p.append({kStart + n * 0.1, double(n)});
    return p;
}

// A point as the tests write it: the sample number the key stands for (a gap's key halfway
// gives a half number) and whether it is a gap.
std::vector<std::pair<double, bool>> Shape(const QVector<Point> &p)
{
    std::vector<std::pair<double, bool>> out;
    for (const Point &x : p)
        out.emplace_back(std::round((x.key - kStart) * 20) / 2, std::isnan(x.value));
    return out;
}

TEST(PlotGaps, OneBreakWhereTheNumbersJump)
{
    const struct {
        std::vector<int> numbers;
        std::vector<std::pair<double, bool>> plotted;
    } cases[] = {
        {{}, {}},
        {{7}, {{7, false}}},
        {{0, 1, 2, 3}, {{0, false}, {1, false}, {2, false}, {3, false}}},
        {{0, 2}, {{0, false}, {1, true}, {2, false}}},
        {{0, 1, 5, 6}, {{0, false}, {1, false}, {3, true}, {5, false}, {6, false}}},
        {{0, 3, 4, 9}, {{0, false}, {1.5, true}, {3, false}, {4, false}, {6.5, true}, {9, false}}},
    };
    for (const auto &c : cases) {
        QVector<Point> p = Rows(c.numbers);
        const int inserted = plotgaps::InsertGaps(p);
        EXPECT_EQ(Shape(p), c.plotted) << c.numbers.size();
        EXPECT_EQ(inserted, p.size() - int(c.numbers.size()));
        // The rows keep their values and order.
        int row = 0;
        for (const Point &x : p)
            if (!std::isnan(x.value)) {
                EXPECT_EQ(x.value, c.numbers[std::size_t(row++)]);
            }
    }
    EXPECT_FALSE(plotgaps::IsGap(kStart + 0.1 * 41, kStart + 0.1 * 42));
    EXPECT_TRUE(plotgaps::IsGap(kStart + 0.1 * 41, kStart + 0.1 * 43));
}

TEST(PlotThinning, AGroupWithAGapKeepsOneGapAndTheNumbersBesideIt)
{
    const double G = std::nan("");
    const struct {
        std::vector<double> values;  // keys 0, 1, 2, 3
        std::vector<double> keys;    // what stays, in order
        int gapAt;                   // the key of the kept gap
    } cases[] = {
        {{1, G, 5, 2}, {0, 1, 2}, 1},  // extremes on both sides of the gap
        {{G, 3, 4, 5}, {0, 1, 3}, 0},  // a leading gap stays first
        {{1, 2, 3, G}, {0, 2, 3}, 3},  // a trailing gap stays last
        {{1, G, 9, G}, {0, 1}, 1},     // the fragment between two gaps goes
        {{G, 7, 7, G}, {0}, 0},        // nothing but a fragment: the gap alone
        {{G, G, G, G}, {0}, 0},        // breaks merged into one
        {{G, G, 4, 4}, {0, 2, 3}, 0},  // a flat run after the gap keeps both points
        {{4, G, G, 4}, {0, 1, 3}, 1},  // flat on both sides: one on each
    };
    for (const auto &c : cases) {
        QVector<Point> p;
        for (std::size_t i = 0; i < c.values.size(); ++i)
            p.append({double(i), c.values[i]});
        plotthin::HalveEnvelope(p);
        std::vector<double> keys;
        for (const Point &x : p) {
            keys.push_back(x.key);
            EXPECT_EQ(std::isnan(x.value), x.key == c.gapAt) << x.key;
            if (!std::isnan(x.value)) {
                EXPECT_EQ(x.value, c.values[std::size_t(x.key)]);
            }
        }
        EXPECT_EQ(keys, c.keys) << c.values[0] << "," << c.values[1];
    }
}

TEST(PlotThinning, RepeatedThinningNeverDrawsAcrossAGapAndShrinks)
{
    // Rows with random holes, broken as the viewer breaks them, thinned again and again:
    // any two neighbouring numbers left must have had no gap between them, the numbers stay
    // numbers, and each pass takes at least a quarter of the thinned part away.
    std::mt19937 rng(12345);
    std::vector<int> numbers;
    for (int n = 0; numbers.size() < 4000; ++n)
        if (rng() % 10 != 0)
            numbers.push_back(n);
    QVector<Point> original = Rows(numbers);
    plotgaps::InsertGaps(original);
    std::vector<double> gapKeys;
    for (const Point &x : original)
        if (std::isnan(x.value))
            gapKeys.push_back(x.key);
    ASSERT_GT(gapKeys.size(), 100u);
    const auto gapBetween = [&](double a, double b) {
        const auto it = std::upper_bound(gapKeys.begin(), gapKeys.end(), a);
        return it != gapKeys.end() && *it < b;
    };
    QVector<Point> p = original;
    while (p.size() > 16) {
        const int before = p.size();
        plotthin::HalveEnvelope(p, 8);
        ASSERT_LE(p.size() - 8, (before - 8) * 3 / 4 + 3);
        for (int i = 1; i < p.size(); ++i) {
            ASSERT_LT(p[i - 1].key, p[i].key);
            if (!std::isnan(p[i - 1].value) && !std::isnan(p[i].value)) {
                ASSERT_FALSE(gapBetween(p[i - 1].key, p[i].key)) << "line across a gap at " << i;
            }
        }
        for (const Point &x : p)
            if (!std::isnan(x.value)) {
                ASSERT_EQ(x.value, std::round((x.key - kStart) * 10));  // a number, unchanged
            }
    }
}

}  // namespace
