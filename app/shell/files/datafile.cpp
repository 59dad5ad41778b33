#include "datafile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <cstring>

namespace datafile {

namespace {

const char kTitle[] = "Data File";
const char kSeparator[] = "+++++++++++++++++++++++++++++++++++++++";    // 39
const char kBeginMarker[] = "++++++++++++++++++begin++++++++++++++++";  // 18 + begin + 16
// The key of a dB file's reference line, "参考功率(nw):". No key the reader knew before
// is part of it, so older readers skip the line.
QString ReferenceKey() { return QStringLiteral("参考功率"); }

void KeyLine(QString *out, const QString &key, const QString &value)
{
    *out += key;
    *out += QLatin1Char(',');
    *out += value;
    *out += QLatin1Char('\n');
}

QString F2(double v) { return QString::number(v, 'f', 2); }

}  // namespace

QString Header(Variant variant, const HeaderInfo &info)
{
    const bool rec = variant == Variant::Recording;
    const bool curve = variant == Variant::Curve;
    const bool hist = variant == Variant::Histogram;
    QString out;
    out.reserve(512);
    out += QLatin1String(kTitle) + QLatin1Char('\n');
    out += QLatin1String(kSeparator) + QLatin1Char('\n');
    KeyLine(&out, QStringLiteral("日期:"), info.date.toString(QStringLiteral("yyyy/MM/dd")));
    if (rec || curve) {
        KeyLine(&out, QStringLiteral("表头型号:"), info.devName);
        KeyLine(&out, QStringLiteral("表头序列号:"), info.devSerial);
        KeyLine(&out, QStringLiteral("探头型号:"), info.detName);
        KeyLine(&out, QStringLiteral("探头序列号:"), info.detSerial);
        KeyLine(&out, QStringLiteral("波长:"), QString::number(info.waveLen, 'g', 6));
        KeyLine(&out, QStringLiteral("平均次数:"), QString::number(info.average));
    }
    if (rec)
        KeyLine(&out, QStringLiteral("起始时间:"), QString::number(info.startSeconds));
    if (curve || hist) {
        KeyLine(&out, QStringLiteral("统计时间:"), info.elapsedText);
        KeyLine(&out, QStringLiteral("样本数量:"), info.countText);
        KeyLine(&out, QStringLiteral("最大值(%1):").arg(info.unit), info.maxText);
        KeyLine(&out, QStringLiteral("最小值(%1):").arg(info.unit), info.minText);
        KeyLine(&out, QStringLiteral("平均值(%1):").arg(info.unit), info.meanText);
        KeyLine(&out, QStringLiteral("标准差:"), info.stdDevText);
        KeyLine(&out, QStringLiteral("比率:"), info.ratioText);
        if (info.referenceNw > 0)
            KeyLine(&out, ReferenceKey() + QStringLiteral("(nw):"),
                    QString::number(info.referenceNw, 'g', 15));
    }
    out += QLatin1String(kBeginMarker) + QLatin1Char('\n');
    if (rec) {
        out += QStringLiteral("序号,功率值(nw)\n");
    } else if (curve) {
        out += QStringLiteral("序号,功率值(%1)\n").arg(info.unit);
    } else {
        out += QStringLiteral("最小值(%1),最大值(%1),占比(%)\n").arg(info.unit);
    }
    return out;
}

QString RecordingRow(qint64 sampleNumber, double powerNw)
{
    // The same characters a QTextStream with default settings writes for an integer and a
    // double (SmartNotation, precision 6, C locale).
    QString row = QString::number(sampleNumber);
    row += QLatin1Char(',');
    row += QString::number(powerNw, 'g', 6);
    row += QLatin1Char('\n');
    return row;
}

QString CurveRow(qint64 pointNumber, double value)
{
    return F2(double(pointNumber)) + QLatin1Char(',') + F2(value) + QLatin1Char('\n');
}

QString HistogramRow(double lower, double upper, double sharePercent)
{
    return F2(lower) + QLatin1Char(',') + F2(upper) + QLatin1Char(',') + F2(sharePercent) +
           QLatin1Char('\n');
}

QString CurveFile(const HeaderInfo &info, const QVector<double> &values)
{
    QString out = Header(Variant::Curve, info);
    out.reserve(out.size() + values.size() * 20);
    for (int i = 0; i < values.size(); ++i)
        out += CurveRow(i, values[i]);
    return out;
}

QString HistogramFile(const HeaderInfo &info, const QVector<double> &bins)
{
    QString out = Header(Variant::Histogram, info);
    for (int i = 0; i + 2 < bins.size(); i += 3)
        out += HistogramRow(bins[i], bins[i + 1], bins[i + 2]);
    return out;
}

bool WriteWholeFile(const QString &path, const QString &text, QString *error)
{
    QSaveFile file(path);
    // A file in a folder that allows no new entries is still written, in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

// ---- reading --------------------------------------------------------------------

namespace {

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

double Sanitise(double v, bool ok) { return ok && std::isfinite(v) ? v : 0.0; }

// UTF-8 to text as a text stream decodes it in mid-file: a byte-order mark at the start of
// the piece is a character (U+FEFF) here, whereas QString::fromUtf8 would drop it.
QString Decode(const char *begin, const char *end)
{
    QString marks;
    while (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0) {
        marks += QChar(0xFEFF);
        begin += 3;
    }
    return marks + QString::fromUtf8(begin, int(end - begin));
}

double SlowToDouble(const char *begin, const char *end)
{
    bool ok = false;
    const double v = Decode(begin, end).toDouble(&ok);
    return Sanitise(v, ok);
}

}  // namespace

double FieldToDouble(const char *begin, const char *end)
{
    const char *b = begin;
    const char *e = end;
    while (b < e && IsAsciiSpace(*b))
        ++b;
    while (e > b && IsAsciiSpace(e[-1]))
        --e;
    // The common case (what the writers produce) without a QString: plain digits, sign,
    // point and exponent. Anything else goes through QString::toDouble itself.
    bool plain = b < e;
    for (const char *p = b; p < e && plain; ++p) {
        const char c = *p;
        plain = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    }
    if (!plain)
        return SlowToDouble(begin, end);
    const char *s = b;
    if (*s == '+')
        ++s;
    if (s == e || *s == '+' || (s != b && *s == '-'))
        return 0.0;  // "++1", "+-1"

    double v = 0.0;
    const auto r = std::from_chars(s, e, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != e) {
        // Out of range, or a form from_chars and Qt may judge differently: ask Qt.
        return SlowToDouble(begin, end);
    }
    return Sanitise(v, true);
}

namespace {

const QString kBeginKey = QStringLiteral("+begin+");
const QString kPowerKey = QStringLiteral("功率值");

class LineReader {
public:
    LineReader(qint64 previousStart, const RowFn &row) : start_(previousStart), row_(row) {}

    // One line, without its LF (and without a CR right before it).
    void Line(const char *b, const char *e)
    {
        if (dataMode_) {
            DataLine(b, e);
        } else {
            HeaderLine(Decode(b, e));
        }
    }

    ReadOutcome out;

private:
    void HeaderLine(const QString &line)
    {
        if (line.contains(kBeginKey)) {
            beginSeen_ = true;
        } else if (line.contains(kPowerKey)) {
            columnsSeen_ = true;
            const int open = line.indexOf(QLatin1Char('('));
            const int close = line.indexOf(QLatin1Char(')'));
            // Only a well-formed "(...)" gives a unit; otherwise the earlier one stays.
            if (open >= 0 && close > open)
                out.header.unit = line.mid(open + 1, close - open - 1);
        } else {
            const QStringList f = line.split(QLatin1Char(','), Qt::SkipEmptyParts);
            if (f.size() >= 2) {
                const QString &k = f[0];
                const QString &v = f[1];
                if (k.contains(QStringLiteral("表头型号")))
                    out.header.meterModel = v;
                if (k.contains(QStringLiteral("表头序列号")))
                    out.header.meterSerial = v;
                if (k.contains(QStringLiteral("探头型号")))
                    out.header.probeModel = v;
                if (k.contains(QStringLiteral("探头序列号")))
                    out.header.probeSerial = v;
                if (k.contains(QStringLiteral("波长")))
                    out.header.waveLength = v;
                if (k.contains(QStringLiteral("平均次数")))
                    out.header.averageCount = v;
                if (k.contains(ReferenceKey())) {
                    bool ok = false;
                    const double d = v.toDouble(&ok);
                    if (ok && std::isfinite(d) && d > 0)
                        out.header.referenceNw = d;
                }
                if (k.contains(QStringLiteral("起始时间"))) {
                    bool ok = false;
                    const double d = std::trunc(v.toDouble(&ok));
                    // 2^63 as a double: anything not below it (or NaN) does not fit.
                    const bool fits = ok && std::isfinite(d) && d < 9223372036854775808.0 &&
                                      d >= -9223372036854775808.0;
                    start_ = fits ? qint64(d) : 0;
                    out.header.startSeconds = start_;
                }
            }
        }
        dataMode_ = beginSeen_ && columnsSeen_;
    }

    void DataLine(const char *b, const char *e)
    {
        const char *f[2][2];
        int n = 0;
        const char *p = b;
        while (p <= e && n < 2) {
            const char *q = static_cast<const char *>(std::memchr(p, ',', size_t(e - p)));
            if (!q)
                q = e;
            if (q > p) {
                f[n][0] = p;
                f[n][1] = q;
                ++n;
            }
            p = q + 1;
        }
        if (n < 2)
            return;
        const double number = FieldToDouble(f[0][0], f[0][1]);
        const double value = FieldToDouble(f[1][0], f[1][1]);
        const double key = double(start_) + number * 0.1;
        if (row_)
            row_(key, value);
        ++out.rows;
    }

    qint64 start_;
    const RowFn &row_;
    bool beginSeen_ = false;
    bool columnsSeen_ = false;
    bool dataMode_ = false;
};

// Cuts a byte stream into lines for LineReader. Lines longer than kMaxLineBytes are
// skipped whole; their bytes are never kept.
class Splitter {
public:
    explicit Splitter(LineReader *reader) : reader_(reader) {}

    void Feed(const char *data, qint64 size)
    {
        const char *p = data;
        const char *end = data + size;
        if (first_ && size > 0) {
            first_ = false;
            if (size >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
                p += 3;
        }
        while (p < end) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl) {
                Keep(p, end);
                return;
            }
            if (skipping_) {
                skipping_ = false;
                ++reader_->out.skippedLines;
            } else if (carry_.isEmpty()) {
                if (nl - p > kMaxLineBytes)
                    ++reader_->out.skippedLines;
                else
                    Emit(p, nl);
            } else {
                Keep(p, nl);
                if (!skipping_)
                    Emit(carry_.constData(), carry_.constData() + carry_.size());
                else {
                    skipping_ = false;
                    ++reader_->out.skippedLines;
                }
                carry_.clear();
            }
            p = nl + 1;
        }
    }

    void Finish()
    {
        // The last line may lack its LF.
        if (skipping_) {
            ++reader_->out.skippedLines;
        } else if (!carry_.isEmpty()) {
            const char *b = carry_.constData();
            Emit(b, b + carry_.size() - IncompleteTail(b, b + carry_.size()));
        }
        carry_.clear();
        skipping_ = false;
    }

private:
    // A text stream holds back a UTF-8 sequence cut off by the end of the file and never
    // shows it; the number of such bytes at the end of [b, e).
    static int IncompleteTail(const char *b, const char *e)
    {
        for (int k = 1; k <= 3 && e - k >= b; ++k) {
            const auto c = static_cast<unsigned char>(e[-k]);
            if (c >= 0x80 && c < 0xC0)
                continue;  // continuation byte: look further back
            const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return (c >= 0xC2 && c <= 0xF4 && need > k) ? k : 0;  // C0, C1, F5.. never start one
        }
        return 0;
    }

    void Emit(const char *b, const char *e)
    {
        if (e > b && e[-1] == '\r')
            --e;
        reader_->Line(b, e);
    }

    void Keep(const char *b, const char *e)
    {
        if (skipping_)
            return;
        if (carry_.size() + (e - b) > kMaxLineBytes) {
            skipping_ = true;
            carry_.clear();
            carry_.squeeze();
            return;
        }
        carry_.append(b, int(e - b));
    }

    LineReader *reader_;
    QByteArray carry_;
    bool skipping_ = false;
    bool first_ = true;
};

}  // namespace

ReadOutcome ReadDataBytes(const QByteArray &bytes, qint64 previousStart, const RowFn &row)
{
    LineReader reader(previousStart, row);
    Splitter splitter(&reader);
    splitter.Feed(bytes.constData(), bytes.size());
    splitter.Finish();
    return reader.out;
}

ReadOutcome ReadDataFile(const QString &path, qint64 previousStart, const RowFn &row,
                         const ProgressFn &progress)
{
    QFile file(path);
    ReadOutcome failed;
    if (!file.open(QIODevice::ReadOnly)) {
        failed.status = ReadStatus::CannotOpen;
        failed.error = file.errorString();
        return failed;
    }
    const qint64 total = file.size();
    LineReader reader(previousStart, row);
    Splitter splitter(&reader);
    constexpr qint64 kChunk = 1 << 20;
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (progress && !progress(done, total)) {
            reader.out.status = ReadStatus::Cancelled;
            return reader.out;
        }
        const qint64 n = file.read(buffer.data(), kChunk);
        if (n < 0) {
            reader.out.status = ReadStatus::ReadError;
            reader.out.error = file.errorString();
            return reader.out;
        }
        if (n == 0)
            break;
        splitter.Feed(buffer.constData(), n);
        done += n;
    }
    splitter.Finish();
    if (progress)
        progress(done, total);
    return reader.out;
}

ReadSeries ReadDataSeries(const QString &path, qint64 previousStart)
{
    ReadSeries s;
    s.outcome = ReadDataFile(path, previousStart, [&s](double k, double v) {
        s.keys.append(k);
        s.values.append(v);
    });
    return s;
}

}  // namespace datafile
