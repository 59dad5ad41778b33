// The data file's bytes (golden files in data/) and the reader's rules.
#include "datafile.h"
#include "reference_reader.h"
#include "testdata.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

QByteArray Golden(const char *name) { return ReadAll(DataPath(name)); }

datafile::HeaderInfo Meter()
{
    datafile::HeaderInfo h;
    h.date = QDate(2024, 3, 5);
    h.devName = QStringLiteral("OPM-150");
    h.devSerial = QStringLiteral("A123");
    h.detName = QStringLiteral("PD-300");
    h.detSerial = QStringLiteral("D456");
    h.waveLen = 1550.0f;
    h.average = 16;
    return h;
}

TEST(DataFileWrite, RecordingExampleIsByteExact)
{
    datafile::HeaderInfo h = Meter();
    h.startSeconds = 1700000000;
    QString text = datafile::Header(datafile::Variant::Recording, h);
    text += datafile::RecordingRow(0, 5);
    text += datafile::RecordingRow(1, 1234567);
    text += datafile::RecordingRow(2, 0);
    EXPECT_EQ(text.toUtf8(), Golden("recording.csv"));
}

TEST(DataFileWrite, CurveAndHistogramFilesAreByteExact)
{
    datafile::HeaderInfo h = Meter();
    h.waveLen = double(632.8f);  // a float widened: still written as 632.8
    h.average = 4;
    h.unit = QStringLiteral("μW");
    h.elapsedText = QStringLiteral("01:02:05");
    h.countText = QStringLiteral("3");
    h.maxText = QStringLiteral("2.50");
    h.minText = QStringLiteral("0.25");
    h.meanText = QStringLiteral("1.25");
    h.stdDevText = QStringLiteral("1.02");
    h.ratioText = QStringLiteral("10.00");
    EXPECT_EQ(datafile::CurveFile(h, {1.0, 2.5, 0.25}).toUtf8(), Golden("curve.csv"));

    datafile::HeaderInfo s;
    s.date = QDate(2024, 3, 5);
    s.devName = QStringLiteral("not in a histogram file");
    s.unit = QStringLiteral("mw");
    s.elapsedText = QStringLiteral("00:00:10");
    s.countText = QStringLiteral("100");
    s.maxText = QStringLiteral("2.00");
    s.minText = QStringLiteral("1.00");
    s.meanText = QStringLiteral("1.50");
    s.stdDevText = QStringLiteral("0.29");
    s.ratioText = QStringLiteral("2.00");
    EXPECT_EQ(datafile::HistogramFile(s, {1.0, 1.1, 10.0, 1.1, 1.2, 90.0}).toUtf8(),
              Golden("histogram.csv"));
    // Without a statistics run: header only.
    EXPECT_TRUE(datafile::HistogramFile(s, {}).endsWith(QStringLiteral("占比(%)\n")));
}

TEST(DataFileWrite, FixedLinesAndMarkers)
{
    const QString h = datafile::Header(datafile::Variant::Recording, Meter());
    const QStringList lines = h.split('\n');
    EXPECT_EQ(lines[1], QString(39, '+'));
    EXPECT_EQ(lines[10].size(), 39);
    EXPECT_EQ(lines[10], QString(18, '+') + "begin" + QString(16, '+'));
    EXPECT_FALSE(h.contains('\r'));
    EXPECT_FALSE(h.toUtf8().startsWith("\xEF\xBB\xBF"));
}

// The recording rows must stay what a default QTextStream writes for an int and a double.
TEST(DataFileWrite, RecordingRowsMatchATextStream)
{
    const double values[] = {
        0,      5,       1234,    99999,          100000,
        999999, 1000000, 1234567, 1e15,           -3,
        0.5,    -0.0,    1e-7,    123456789012.0, std::numeric_limits<double>::infinity()};
    qint64 n = 0;
    for (double v : values) {
        QString expected;
        QTextStream ts(&expected);
        ts << int(n) << "," << v << "\n";
        ts.flush();
        EXPECT_EQ(datafile::RecordingRow(n, v), expected) << v;
        n += 7919;
    }
    EXPECT_EQ(datafile::RecordingRow(1, 1234567), "1,1.23457e+06\n");
    EXPECT_EQ(datafile::CurveRow(0, 3.14159), "0.00,3.14\n");
}

TEST(DataFileWrite, WholeFileReplacesOrLeavesTheOldContent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("c.csv");
    ASSERT_TRUE(datafile::WriteWholeFile(path, QStringLiteral("first\n")));
    ASSERT_TRUE(datafile::WriteWholeFile(path, QStringLiteral("二\n")));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("二\n"));
    QString error;
    EXPECT_FALSE(datafile::WriteWholeFile(dir.filePath("no/such/dir/c.csv"), "x", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(DataFileRead, RecordingGivesHeaderAndKeysFromTheStartTime)
{
    const datafile::ReadSeries r = datafile::ReadDataSeries(DataPath("recording.csv"), 42);
    ASSERT_EQ(r.outcome.status, datafile::ReadStatus::Ok);
    const datafile::ReadHeader &h = r.outcome.header;
    EXPECT_EQ(h.meterModel.value_or("-"), "OPM-150");
    EXPECT_EQ(h.meterSerial.value_or("-"), "A123");
    EXPECT_EQ(h.probeModel.value_or("-"), "PD-300");
    EXPECT_EQ(h.probeSerial.value_or("-"), "D456");  // the probe's, not the head's
    EXPECT_EQ(h.waveLength.value_or("-"), "1550");
    EXPECT_EQ(h.averageCount.value_or("-"), "16");
    EXPECT_EQ(h.startSeconds.value_or(-1), 1700000000);
    EXPECT_EQ(h.unit.value_or("-"), "nw");
    ASSERT_EQ(r.keys.size(), 3);
    EXPECT_EQ(r.keys[0], 1700000000.0);  // sample 0 adds nothing
    EXPECT_DOUBLE_EQ(r.keys[2], 1700000000.2);
    EXPECT_EQ(r.values, (QVector<double>{5, 1234570, 0}));
}

TEST(DataFileRead, CurveKeepsTheCallersStartAndTakesTheUnit)
{
    const datafile::ReadSeries r = datafile::ReadDataSeries(DataPath("curve.csv"), 1000);
    EXPECT_FALSE(r.outcome.header.startSeconds.has_value());
    EXPECT_EQ(r.outcome.header.unit.value_or("-"), QStringLiteral("μW"));
    EXPECT_EQ(r.outcome.header.waveLength.value_or("-"), "632.8");
    ASSERT_EQ(r.keys.size(), 3);
    EXPECT_DOUBLE_EQ(r.keys[0], 1000.0);
    EXPECT_DOUBLE_EQ(r.keys[1], 1000.1);
    EXPECT_DOUBLE_EQ(r.keys[2], 1000.2);
    EXPECT_EQ(r.values, (QVector<double>{1.0, 2.5, 0.25}));
}

// A curve in dB carries its reference after the statistics lines; the reader takes it
// back and rows and keys are read as in every other file.
TEST(DataFileRead, ADbCurveCarriesItsReference)
{
    datafile::HeaderInfo h;
    h.unit = QStringLiteral("dB");
    h.ratioText = QStringLiteral("1.10");
    h.referenceNw = 1000;
    const QString text = datafile::CurveFile(h, {-3.01, 0.0});
    EXPECT_TRUE(
        text.contains(QStringLiteral("比率:,1.10\n参考功率(nw):,1000\n++++++++++++++++++begin")));
    EXPECT_TRUE(text.contains(QStringLiteral("序号,功率值(dB)\n0.00,-3.01\n1.00,0.00\n")));
    const datafile::ReadOutcome r =
        datafile::ReadDataBytes(text.toUtf8(), 0, [](double, double) {});
    EXPECT_EQ(r.header.unit.value_or(""), QStringLiteral("dB"));
    EXPECT_EQ(r.header.referenceNw.value_or(0), 1000.0);
    EXPECT_EQ(r.rows, 2);
    // No reference, no line; a broken one is no reference.
    h.referenceNw = 0;
    EXPECT_FALSE(datafile::CurveFile(h, {}).contains(QStringLiteral("参考功率")));
    QString broken = text;
    broken.replace(QStringLiteral("(nw):,1000"), QStringLiteral("(nw):,-1"));
    EXPECT_FALSE(datafile::ReadDataBytes(broken.toUtf8(), 0, [](double, double) {
                 }).header.referenceNw.has_value());
}

TEST(DataFileRead, HistogramAndMissingMarkersGiveNoRows)
{
    const datafile::ReadSeries hist = datafile::ReadDataSeries(DataPath("histogram.csv"), 0);
    EXPECT_EQ(hist.outcome.status, datafile::ReadStatus::Ok);
    EXPECT_TRUE(hist.keys.isEmpty());
    EXPECT_FALSE(hist.outcome.header.meterModel || hist.outcome.header.meterSerial ||
                 hist.outcome.header.probeModel || hist.outcome.header.probeSerial ||
                 hist.outcome.header.waveLength || hist.outcome.header.averageCount ||
                 hist.outcome.header.unit);

    const datafile::ReadSeries noBegin = datafile::ReadDataSeries(DataPath("no_begin.csv"), 0);
    EXPECT_TRUE(noBegin.keys.isEmpty());
    EXPECT_EQ(noBegin.outcome.header.meterModel.value_or("-"), "X");

    const datafile::ReadSeries none = datafile::ReadDataSeries(DataPath("does_not_exist.csv"), 0);
    EXPECT_EQ(none.outcome.status, datafile::ReadStatus::CannotOpen);
}

// BOM, CRLF, a serial with a comma, an empty value, an overflowing start time, nan/inf
// values, text where a number belongs, empty fields, a last line without its LF.
TEST(DataFileRead, OddFileReadsSafely)
{
    const datafile::ReadSeries r = datafile::ReadDataSeries(DataPath("odd.csv"), 77);
    const datafile::ReadHeader &h = r.outcome.header;
    EXPECT_EQ(h.meterSerial.value_or("-"), "SN");  // cut at the comma
    EXPECT_FALSE(h.probeSerial.has_value());       // empty value: line ignored
    EXPECT_EQ(h.startSeconds.value_or(-1), 0);     // 1e999 does not fit: 0
    EXPECT_EQ(h.unit.value_or("-"), "mw");
    EXPECT_EQ(r.keys, (QVector<double>{0.0, 0.1, 0.0, 0.2, 0.30000000000000004}));
    EXPECT_EQ(r.values, (QVector<double>{0, 0, 7, 8, 1.5}));
    for (double k : r.keys)
        EXPECT_TRUE(std::isfinite(k));
}

TEST(DataFileRead, HugeLinesAndFilesWithoutLineEnds)
{
    QByteArray bytes = "Data File\n++++++++++++++++++begin++++++++++++++++\n序号,功率值(nw)\n";
    bytes += QByteArray(datafile::kMaxLineBytes + 10, '7') + ",1\n";  // skipped whole
    bytes += "1,2\n";
    QVector<double> values;
    datafile::ReadOutcome out =
        datafile::ReadDataBytes(bytes, 0, [&](double, double v) { values.append(v); });
    EXPECT_EQ(values, QVector<double>{2});
    EXPECT_EQ(out.skippedLines, 1);

    // A large file with no line end at all: no rows, bounded memory, quick.
    QTemporaryDir dir;
    QFile f(dir.filePath("flat.csv"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray block(1 << 20, ',');
    for (int i = 0; i < 8; ++i)
        f.write(block);
    f.close();
    out = datafile::ReadDataFile(f.fileName(), 0, {});
    EXPECT_EQ(out.rows, 0);
    EXPECT_EQ(out.skippedLines, 1);
}

TEST(DataFileRead, ProgressReachesTheEndAndCancelStops)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("big.csv"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(datafile::Header(datafile::Variant::Recording, Meter()).toUtf8());
    for (int i = 0; i < 300000; ++i)
        f.write(datafile::RecordingRow(i, i).toUtf8());
    f.close();
    qint64 last = -1, total = -1;
    datafile::ReadOutcome out =
        datafile::ReadDataFile(f.fileName(), 0, {}, [&](qint64 d, qint64 t) {
            last = d;
            total = t;
            return true;
        });
    EXPECT_EQ(out.rows, 300000);
    EXPECT_EQ(last, total);
    int calls = 0;
    out = datafile::ReadDataFile(f.fileName(), 0, {}, [&](qint64, qint64) { return ++calls < 2; });
    EXPECT_EQ(out.status, datafile::ReadStatus::Cancelled);
    EXPECT_LT(out.rows, 300000);
}

// The fast field parser against QString::toDouble itself.
TEST(DataFileRead, FieldsParseAsQtParsesThem)
{
    const char *cases[] = {"0",
                           "5",
                           "-3",
                           "+4",
                           "1.5",
                           ".5",
                           "-.5",
                           "5.",
                           "1e5",
                           "1E+05",
                           "1.23457e+06",
                           "1e-5",
                           "007",
                           "1e999",
                           "-1e999",
                           "1e-999",
                           "nan",
                           "inf",
                           "-inf",
                           "",
                           " 12 ",
                           "\t3",
                           "1,5",
                           "1 2",
                           "0x10",
                           "--1",
                           "+-1",
                           "e5",
                           "5e",
                           "1e",
                           "1.2.3",
                           "１２",
                           "\xc2\xa0"
                           "5",
                           "1_000",
                           "12abc",
                           "+",
                           "-",
                           ".",
                           "1e+",
                           "99999999999999999999999"};
    for (const char *c : cases) {
        bool ok = false;
        double want = QString::fromUtf8(c).toDouble(&ok);
        if (!ok || !std::isfinite(want))
            want = 0;
        EXPECT_EQ(datafile::FieldToDouble(c, c + std::strlen(c)), want) << '"' << c << '"';
    }
}

// Random files from the pieces of real ones, compared with the literal reading rules.
TEST(DataFileRead, AgreesWithTheLiteralRulesOnRandomFiles)
{
    const QByteArray pieces[] = {"Data File",
                                 "+begin+",
                                 "++++++++++++++++++begin++++++++++++++++",
                                 "序号,功率值(μW)",
                                 "功率值)(",
                                 "表头型号:,A",
                                 "探头序列号:,,B",
                                 "起始时间:,1700000000.9",
                                 "起始时间:,-5",
                                 "0,5",
                                 "1,1.23457e+06",
                                 ",,3,,4",
                                 "x,y",
                                 "1e308,1",
                                 "2.00,0.25",
                                 "\xff\xfe,1",
                                 "\r",
                                 ",",
                                 ""};
    QRandomGenerator rng(12345);
    for (int round = 0; round < 2000; ++round) {
        QByteArray file;
        const int lines = int(rng.bounded(12));
        for (int i = 0; i < lines; ++i) {
            file += pieces[rng.bounded(int(std::size(pieces)))];
            if (rng.bounded(8) != 0)
                file += '\n';
        }
        const reference::Result want = reference::Read(file, 9);
        QVector<double> keys, values;
        const datafile::ReadOutcome got = datafile::ReadDataBytes(file, 9, [&](double k, double v) {
            keys.append(k);
            values.append(v);
        });
        ASSERT_EQ(keys, want.keys) << file.toStdString();
        ASSERT_EQ(values, want.values) << file.toStdString();
        ASSERT_TRUE(reference::SameHeader(got.header, want.header)) << file.toStdString();
    }
}

}  // namespace
