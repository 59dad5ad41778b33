// The measurement data file: writers of the three variants and the reader (no screen needed).
//
// Bytes on disk (every variant):
//   UTF-8 without byte-order mark, every line ended by a single LF (no CR), fields split by
//   "," and never quoted. Title "Data File", a line of 39 "+", key/value lines "key:,value",
//   the begin marker "++++++++++++++++++begin++++++++++++++++", the column header, the rows.
//   The keys are the Chinese literals below, written and looked for as they are (never
//   translated), so files stay readable by every build.
//
// Variants:
//   Recording  date, meter and probe identity, wavelength, averaging, "起始时间:" (start,
//              whole seconds since the epoch); columns "序号,功率值(nw)"; one row per
//              100 ms sample: sample number, power in whole nW in 'g' 6 form.
//   Curve      date, identity, the seven statistics texts; columns "序号,功率值(<unit>)";
//              one row per curve point: point number and value, both 'f' 2.
//   Histogram  date, the seven statistics texts; columns
//              "最小值(<unit>),最大值(<unit>),占比(%)"; one row per bin, all 'f' 2.
// Numbers are written in the C locale whatever the program's locale is.
//
// Writers return text; WriteWholeFile puts a whole curve or histogram file in place in one
// step (the old content stays untouched if anything fails). The recorder appends with its
// own code (recorder.h).
//
// Reader: ReadDataFile follows the file's line rules (header mode until both the begin
// marker and the "功率值" column header were seen, then data rows). It takes untrusted
// input: any number that does not parse, or is NaN, infinite or out of range, reads as 0;
// a line longer than kMaxLineBytes is skipped whole (counted in skippedLines) so that a file
// without line ends cannot exhaust memory.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <optional>

namespace datafile {

enum class Variant { Recording, Curve, Histogram };

// What goes into lines 3 to 17 of a header. Fields a variant does not have are ignored.
struct HeaderInfo {
    QDate date = QDate::currentDate();  // "日期:" as yyyy/MM/dd (local date)
    // Recording and curve: the selected meter's identity; empty / 0 without a meter.
    QString devName;     // 表头型号
    QString devSerial;   // 表头序列号
    QString detName;     // 探头型号
    QString detSerial;   // 探头序列号
    double waveLen = 0;  // nm, written 'g' 6
    quint32 average = 0;
    // Recording: run start, whole seconds since 1970-01-01 UTC.
    qint64 startSeconds = 0;
    // Curve and histogram: the texts the view's labels show, copied verbatim.
    QString elapsedText, countText, maxText, minText, meanText, stdDevText, ratioText;
    // Unit token of the values ("nw", "μW", "mw", "w", "dBm", "dB"). A recording is always
    // "nw".
    QString unit = QStringLiteral("nw");
    // Curve and histogram in dB: the reference power the values are relative to, written as
    // "参考功率(nw):,<nW>" after the statistics lines; 0 writes no such line. Readers that do
    // not know the line skip it like any other unknown key.
    double referenceNw = 0;
};

// Lines 1 to 19 of `variant`, each ended by LF.
QString Header(Variant variant, const HeaderInfo &info);

// One row each, ended by LF.
QString RecordingRow(qint64 sampleNumber, double powerNw);  // "12,1.23457e+06"
QString CurveRow(qint64 pointNumber, double value);         // "12.00,3.40"
QString HistogramRow(double lower, double upper, double sharePercent);

// Whole files of the curve and histogram variants. `bins` holds 3 doubles per bin
// (lower edge, upper edge, share in percent), lowest bin first.
QString CurveFile(const HeaderInfo &info, const QVector<double> &values);
QString HistogramFile(const HeaderInfo &info, const QVector<double> &bins);

// Replaces the content of `path` with `text` (UTF-8) in one step: the new content is
// written beside it and renamed over it, so a failure leaves the old file as it was.
// False with a reason (the system's words) in *error.
bool WriteWholeFile(const QString &path, const QString &text, QString *error = nullptr);

// ---- reading --------------------------------------------------------------------

constexpr qint64 kMaxLineBytes = 1 << 20;

struct ReadHeader {
    std::optional<QString> meterModel, meterSerial, probeModel, probeSerial;
    std::optional<QString> waveLength, averageCount;  // as text
    std::optional<qint64> startSeconds;
    std::optional<QString> unit;        // from the "功率值(...)" column header
    std::optional<double> referenceNw;  // "参考功率(nw):" of a dB file, when above 0
};

// Receives the data rows in file order. key = start seconds + number × 0.1.
using RowFn = std::function<void(double key, double value)>;
// Called about every MiB: bytes read so far and the file size. Return false to cancel.
using ProgressFn = std::function<bool(qint64 done, qint64 total)>;

enum class ReadStatus { Ok, CannotOpen, Cancelled, ReadError };

struct ReadOutcome {
    ReadStatus status = ReadStatus::Ok;
    ReadHeader header;
    qint64 rows = 0;          // rows handed to the row function
    qint64 skippedLines = 0;  // lines longer than kMaxLineBytes
    QString error;            // the system's words for CannotOpen / ReadError
};

// Reads `path`. `previousStart` is the start time used until the file gives its own (a
// curve file has none): the caller passes the start time it holds from an earlier file.
ReadOutcome ReadDataFile(const QString &path, qint64 previousStart, const RowFn &row,
                         const ProgressFn &progress = {});

// The same over bytes in memory (the fuzz target and tests use it).
ReadOutcome ReadDataBytes(const QByteArray &bytes, qint64 previousStart, const RowFn &row);

// Convenience: both series collected.
struct ReadSeries {
    ReadOutcome outcome;
    QVector<double> keys, values;
};
ReadSeries ReadDataSeries(const QString &path, qint64 previousStart);

// A field of a data row read as a number: what QString::toDouble gives for it, except
// that anything unparsable, NaN or infinite is 0. Exposed for tests.
double FieldToDouble(const char *begin, const char *end);

}  // namespace datafile
