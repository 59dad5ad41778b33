// The production debug window's data without the window: the built-in calibration tables
// it writes into a probe, the byte layouts it exchanges with the device library, and the
// texts it logs. Qt Core only, so all of it is tested without a screen or a meter.
//
// Every multi-byte field is little-endian and packed, as the meter's wire format.
#ifndef QUORVEX_DEVICE_CALIBTABLES_H
#define QUORVEX_DEVICE_CALIBTABLES_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>

namespace calib {

// ---- built-in tables ---------------------------------------------------------------

// One measuring range's linear calibration: raw = P * c * K + B.
struct LevelPair {
    double k;
    double b;
};
constexpr int kLevelCount = 8;
using LevelTable = std::array<LevelPair, kLevelCount>;
// The production level table, level 1 first (levels 4 to 6 repeat 1 to 3).
const LevelTable &BuiltInLevelTable();

struct SpectralEntry {
    quint16 nm;
    float coef;
};
constexpr int kSpectralFirstNm = 400;
constexpr int kSpectralLastNm = 1100;
constexpr int kSpectralCount = kSpectralLastNm - kSpectralFirstNm + 1;  // 701
// The measured rows of the production probe's relative responsivity (peak 1.0 at
// 964 nm). They appear unchanged in the built-in spectral table.
struct TellingRow {
    int nm;
    double coef;
};
const QVector<TellingRow> &SpectralTellingRows();
// One entry per nanometre from 400 to 1100 nm. The telling rows are taken exactly (as
// floats); every other entry lies on a monotone piecewise cubic (Fritsch-Carlson, with the
// weighted harmonic mean of the neighbouring slopes at inner rows and the one-sided slope
// at both ends) through the telling rows, so the curve is smooth, passes through every
// telling row and never swings outside the range of its two neighbouring rows (no
// overshoot above the 1.0 peak, no dip below the ends).
const QVector<SpectralEntry> &BuiltInSpectralTable();

// ---- byte layouts ------------------------------------------------------------------

constexpr int kBaseParamSize = 8;     // 4 x u16: start nm, end nm, low threshold, high threshold
constexpr int kLevelParamSize = 128;  // 8 x (f64 K, f64 B), level 1 first
constexpr int kDevTimeSize = 14;      // 7 x u16: year (two digits), month, day, weekday, h, m, s
constexpr int kSpecReadBufSize = 6100;
constexpr int kSpecChunkEntries = 80;
constexpr int kSpecChunkHeader = 4;  // u16 total entries, u16 index of the chunk's first entry
constexpr int kSpecEntrySize = 6;    // u16 nm, f32 coefficient

struct BaseParam {
    quint16 startNm = 0;
    quint16 endNm = 0;
    quint16 lowThres = 0;
    quint16 highThres = 0;
};
QByteArray EncodeBaseParam(const BaseParam &p);
// Needs kBaseParamSize bytes.
BaseParam DecodeBaseParam(const char *bytes);

QByteArray EncodeLevelTable(const LevelTable &t);
// Needs kLevelParamSize bytes.
LevelTable DecodeLevelTable(const char *bytes);

struct DevTime {
    int year = 0;  // two-digit year (years since 2000)
    int month = 0;
    int day = 0;
    int weekday = 0;  // 1 = Monday .. 7 = Sunday
    int hour = 0;
    int minute = 0;
    int second = 0;
};
QByteArray EncodeDevTime(const DevTime &t);

// The spectral table as the library hands it back: n u16 wavelengths, then n f32
// coefficients, n = length / 6 (a trailing remainder is ignored; a negative length
// gives nothing).
QVector<SpectralEntry> DecodeSpectralReadBack(const char *bytes, int length);
// The write of a whole table, cut into chunks of at most `perChunk` entries, each
// "u16 total, u16 first index, entries (u16 nm, f32 coefficient)".
QVector<QByteArray> SpectralChunks(const QVector<SpectralEntry> &table,
                                   int perChunk = kSpecChunkEntries);

// ---- identity texts ----------------------------------------------------------------

// The meter stores identity texts as printable ASCII (0x20..0x7E) in fixed fields.
constexpr int kDevTextField = 32;    // device name, device serial, probe name
constexpr int kDetSerialField = 16;  // probe serial
// True when `text` is printable ASCII of at most `field` characters, i.e. exactly what the
// meter will hold and read back.
bool IsStorableIdentity(const QString &text, int field);

// ---- log texts ---------------------------------------------------------------------

// Shortest text that reads back as the same value, general notation.
QString ShortestText(double v);
QString ShortestText(float v);

// ", 成功" for a library result of 0, ", 失败" otherwise, appended to `title`.
QString WithResult(const QString &title, bool ok);

// "设置时间: yy-MM-dd week w hh-mm-ss"; all fields but the weekday two digits.
QString DevTimeText(const DevTime &t);
// The lines of a base parameter read that returned `length`: the title with its result,
// and the values only when exactly 8 bytes came.
QStringList BaseParamTexts(int length, const char *bytes);
// The level read: the title with its result, then the eight "   档位..." lines as one text
// (the lines are shown whatever the result, from the buffer as it is).
QStringList LevelParamTexts(int length, const char *bytes);
// The spectral read: the title with its result, the pair count, then the pairs as one text
// when there are any.
QStringList SpectralParamTexts(int length, const char *bytes);

}  // namespace calib

#endif
