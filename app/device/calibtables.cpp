#include "calibtables.h"

#include <QCoreApplication>
#include <QLocale>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace calib {

namespace {

// Appends `v` in little-endian byte order, a float or double as its IEEE 754 bits.
template <typename Bits, typename T>
void PutLittleEndian(QByteArray &b, T v)
{
    static_assert(sizeof(Bits) == sizeof(T), "the bits must hold exactly the value");
    Bits bits;
    std::memcpy(&bits, &v, sizeof bits);
    char raw[sizeof bits];
    qToLittleEndian(bits, raw);
    b.append(raw, sizeof raw);
}

void PutU16(QByteArray &b, quint16 v) { PutLittleEndian<quint16>(b, v); }
void PutF32(QByteArray &b, float v) { PutLittleEndian<quint32>(b, v); }
void PutF64(QByteArray &b, double v) { PutLittleEndian<quint64>(b, v); }

quint16 GetU16(const char *p) { return qFromLittleEndian<quint16>(p); }

float GetF32(const char *p)
{
    const quint32 bits = qFromLittleEndian<quint32>(p);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

double GetF64(const char *p)
{
    const quint64 bits = qFromLittleEndian<quint64>(p);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

// Texts shown to the user go through the translation layer, in the window's context.
QString Tr(const char *text) { return QCoreApplication::translate("DebugWidget", text); }

QString Two(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

QVector<SpectralEntry> MakeSpectralTable()
{
    const QVector<TellingRow> &rows = SpectralTellingRows();
    const int n = rows.size();
    // Secant slopes, then the tangent at each row: zero at a local extremum (the peak), a
    // weighted harmonic mean of the two secants elsewhere, which keeps each piece within
    // the values of its end rows; one-sided at the two ends.
    QVector<double> d(n - 1), m(n);
    for (int i = 0; i + 1 < n; ++i)
        d[i] = (rows[i + 1].coef - rows[i].coef) / (rows[i + 1].nm - rows[i].nm);
    m[0] = d[0];
    m[n - 1] = d[n - 2];
    for (int i = 1; i + 1 < n; ++i) {
        if (d[i - 1] * d[i] <= 0) {
            m[i] = 0;
        } else {
            const double h0 = rows[i].nm - rows[i - 1].nm;
            const double h1 = rows[i + 1].nm - rows[i].nm;
            const double w1 = 2 * h1 + h0;
            const double w2 = h1 + 2 * h0;
            m[i] = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i]);
        }
    }

    QVector<SpectralEntry> table;
    table.reserve(kSpectralCount);
    int seg = 0;
    for (int nm = kSpectralFirstNm; nm <= kSpectralLastNm; ++nm) {
        while (seg + 2 < n && nm > rows[seg + 1].nm)
            ++seg;
        const TellingRow &a = rows[seg];
        const TellingRow &b = rows[seg + 1];
        double c;
        if (nm == a.nm) {
            c = a.coef;
        } else if (nm == b.nm) {
            c = b.coef;
        } else {
            // Cubic Hermite piece between the two rows.
            const double h = b.nm - a.nm;
            const double s = (nm - a.nm) / h;
            const double h00 = (1 + 2 * s) * (1 - s) * (1 - s);
            const double h10 = s * (1 - s) * (1 - s);
            const double h01 = s * s * (3 - 2 * s);
            const double h11 = s * s * (s - 1);
            c = h00 * a.coef + h10 * h * m[seg] + h01 * b.coef + h11 * h * m[seg + 1];
        }
        table.append({static_cast<quint16>(nm), static_cast<float>(c)});
    }
    return table;
}

}  // namespace

const LevelTable &BuiltInLevelTable()
{
    static const LevelTable table = {{{0.0005, -24.4145},
                                      {0.00273, -4.7567},
                                      {0.0173, -36.96},
                                      {0.0005, -24.4145},
                                      {0.00273, -4.7567},
                                      {0.0173, -36.96},
                                      {0.1154, -119.81},
                                      {0.7218, -375.32}}};
    return table;
}

const QVector<TellingRow> &SpectralTellingRows()
{
    static const QVector<TellingRow> rows = {
        {400, 0.354},  {401, 0.3559},  {500, 0.5019},  {532, 0.5424}, {633, 0.658},
        {700, 0.734},  {800, 0.8411},  {850, 0.8926},  {900, 0.9523}, {964, 1.0},
        {980, 0.9846}, {1000, 0.8608}, {1050, 0.5017}, {1100, 0.1812}};
    return rows;
}

const QVector<SpectralEntry> &BuiltInSpectralTable()
{
    static const QVector<SpectralEntry> table = MakeSpectralTable();
    return table;
}

QByteArray EncodeBaseParam(const BaseParam &p)
{
    QByteArray b;
    for (quint16 v : {p.startNm, p.endNm, p.lowThres, p.highThres})
        PutU16(b, v);
    return b;
}

BaseParam DecodeBaseParam(const char *bytes)
{
    BaseParam p;
    p.startNm = GetU16(bytes);
    p.endNm = GetU16(bytes + 2);
    p.lowThres = GetU16(bytes + 4);
    p.highThres = GetU16(bytes + 6);
    return p;
}

QByteArray EncodeLevelTable(const LevelTable &t)
{
    QByteArray b;
    for (const LevelPair &p : t) {
        PutF64(b, p.k);
        PutF64(b, p.b);
    }
    return b;
}

LevelTable DecodeLevelTable(const char *bytes)
{
    LevelTable t{};
    for (int i = 0; i < kLevelCount; ++i) {
        t[static_cast<std::size_t>(i)].k = GetF64(bytes + 16 * i);
        t[static_cast<std::size_t>(i)].b = GetF64(bytes + 16 * i + 8);
    }
    return t;
}

QByteArray EncodeDevTime(const DevTime &t)
{
    QByteArray b;
    for (int v : {t.year, t.month, t.day, t.weekday, t.hour, t.minute, t.second})
        PutU16(b, static_cast<quint16>(v));
    return b;
}

QVector<SpectralEntry> DecodeSpectralReadBack(const char *bytes, int length)
{
    QVector<SpectralEntry> out;
    const int n = length > 0 ? length / kSpecEntrySize : 0;
    out.reserve(n);
    for (int i = 0; i < n; ++i)
        out.append({GetU16(bytes + 2 * i), GetF32(bytes + 2 * n + 4 * i)});
    return out;
}

QVector<QByteArray> SpectralChunks(const QVector<SpectralEntry> &table, int perChunk)
{
    QVector<QByteArray> chunks;
    const int total = table.size();
    if (perChunk < 1)
        return chunks;
    for (int first = 0; first < total; first += perChunk) {
        const int count = qMin(perChunk, total - first);
        QByteArray c;
        c.reserve(kSpecChunkHeader + kSpecEntrySize * count);
        PutU16(c, static_cast<quint16>(total));
        PutU16(c, static_cast<quint16>(first));
        for (int i = first; i < first + count; ++i) {
            PutU16(c, table[i].nm);
            PutF32(c, table[i].coef);
        }
        chunks.append(c);
    }
    return chunks;
}

bool IsStorableIdentity(const QString &text, int field)
{
    if (text.size() > field)
        return false;
    for (const QChar ch : text) {
        if (ch.unicode() < 0x20 || ch.unicode() > 0x7E)
            return false;
    }
    return true;
}

QString ShortestText(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

QString ShortestText(float v)
{
    // The shortest decimal that reads back as the same float (a double's shortest form
    // would show the float's binary noise, 0.3559 as 0.35589998960494995).
    if (!std::isfinite(v))
        return QString::number(static_cast<double>(v));
    for (int precision = 1; precision < 9; ++precision) {
        const QString s = QString::number(static_cast<double>(v), 'g', precision);
        if (s.toFloat() == v)
            return s;
    }
    return QString::number(static_cast<double>(v), 'g', 9);
}

QString WithResult(const QString &title, bool ok)
{
    return title + (ok ? Tr(", 成功") : Tr(", 失败"));
}

QString DevTimeText(const DevTime &t)
{
    return Tr("设置时间: %1-%2-%3 week %4 %5-%6-%7")
        .arg(Two(t.year), Two(t.month), Two(t.day), QString::number(t.weekday), Two(t.hour),
             Two(t.minute), Two(t.second));
}

QStringList BaseParamTexts(int length, const char *bytes)
{
    QStringList out;
    out << WithResult(Tr("查询基础参数, recv len: %1").arg(length), length == kBaseParamSize);
    if (length == kBaseParamSize) {
        const BaseParam p = DecodeBaseParam(bytes);
        out << Tr("   起始波长: %1, 结束波长: %2\n   阈值下限: %3, 阈值上限: %4")
                   .arg(p.startNm)
                   .arg(p.endNm)
                   .arg(p.lowThres)
                   .arg(p.highThres);
    }
    return out;
}

QStringList LevelParamTexts(int length, const char *bytes)
{
    QStringList out;
    out << WithResult(Tr("查询档位校准参数, recv len: %1").arg(length), length == kLevelParamSize);
    const LevelTable t = DecodeLevelTable(bytes);
    QStringList lines;
    for (int i = 0; i < kLevelCount; ++i) {
        lines << Tr("   档位%1, K: %2, B: %3")
                     .arg(i + 1)
                     .arg(ShortestText(t[static_cast<std::size_t>(i)].k),
                          ShortestText(t[static_cast<std::size_t>(i)].b));
    }
    out << lines.join(QLatin1Char('\n'));
    return out;
}

QStringList SpectralParamTexts(int length, const char *bytes)
{
    QStringList out;
    out << WithResult(Tr("查询光谱校准参数, recv len: %1").arg(length), length >= 0);
    const QVector<SpectralEntry> pairs = DecodeSpectralReadBack(bytes, length);
    out << Tr("   波长/系数对个数: %1").arg(pairs.size());
    if (!pairs.isEmpty()) {
        const QString line = Tr("   Index:%1, 波长: %2, 系数: %3");
        QStringList lines;
        lines.reserve(pairs.size());
        for (int i = 0; i < pairs.size(); ++i) {
            lines << line.arg(i).arg(pairs[i].nm).arg(ShortestText(pairs[i].coef));
        }
        out << lines.join(QLatin1Char('\n'));
    }
    return out;
}

}  // namespace calib
