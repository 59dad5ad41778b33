// The display units of the measurement page: watts (the range's own token: "nw", "μW",
// "mw", "w"), dBm (decibels relative to 1 mW) and dB relative to a stored reference power.
// No screen needed.
//
// The store keeps whole nanowatts, so the smallest power above zero is 1 nW = -60 dBm. A
// logarithmic text of anything below 1 nW (zero, a negative reading after a zero offset, a
// mean below 1 nW) is the floor with a "<" in front: "<-60.00dBm", or against a 1 µW
// reference "<-30.00dB". The number of such a power (for a plot or a dial) is the floor
// itself. No text or number is ever NaN or infinite.
//
// Only powers are converted. Figures that have no meaning in a logarithmic unit (the
// standard deviation) stay linear; statistics in a logarithmic unit are the logarithm of
// the linear figure (the log of the mean, never the mean of logs).
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace displayunit {

enum class Kind { Watt, Dbm, Db };

// The items of the unit box, in this order: "W", "dBm", "dB". The same names are stored in
// the settings file.
QStringList ItemNames();
QString Name(Kind kind);
std::optional<Kind> FromName(const QString &name);

constexpr double kFloorNw = 1.0;
constexpr double kNwPerMw = 1e6;

// 10·log10(nw / 1 mW), at least -60 (the floor).
double DbmOfNw(double nw);
// 10·log10(nw / refNw), at least the floor's dB; refNw must be positive.
double DbOfNw(double nw, double refNw);
// The powers back: 1 mW · 10^(dbm/10), refNw · 10^(db/10).
double NwOfDbm(double dbm);
double NwOfDb(double db, double refNw);

// How a power becomes a shown number and text. A dB scale needs a reference above 0 nW;
// asked for with none (0, negative, not finite) it is a dBm scale.
class Scale {
public:
    Scale() = default;  // watts
    static Scale Watt() { return Scale(); }
    static Scale Dbm() { return Scale(Kind::Dbm, 0.0); }
    static Scale Db(double refNw) { return Scale(Kind::Db, refNw); }

    Kind kind() const { return kind_; }
    bool IsLog() const { return kind_ != Kind::Watt; }
    double RefNw() const { return refNw_; }

    // The token written after numbers and in axis labels: `linearToken` for watts, "dBm"
    // or "dB" for the logarithmic units.
    QString Token(const QString &linearToken) const;
    // What identifies the numbers a view holds: equal keys, comparable numbers.
    QString Key(const QString &linearToken) const;

    // `value` is a power in a linear unit with `factor` nanowatts per unit (1 for "nw",
    // 1e3 for "μW", ...). Watts return it unchanged.
    double Number(double value, double factor) const;
    bool BelowFloor(double value, double factor) const;
    // 2 decimals, then the token when `withToken`: "12.34μW", "-30.00dBm", "<-60.00dBm",
    // "-3.01dB".
    QString Text(double value, double factor, const QString &linearToken,
                 bool withToken = true) const;
    // The same for one edge of a histogram bin: watts keep their 3 decimals, the
    // logarithmic units 2.
    QString EdgeText(double value, double factor) const;

    bool operator==(const Scale &o) const { return kind_ == o.kind_ && refNw_ == o.refNw_; }
    bool operator!=(const Scale &o) const { return !(*this == o); }

private:
    Scale(Kind kind, double refNw);
    double NumberOfNw(double nw) const;
    Kind kind_ = Kind::Watt;
    double refNw_ = 0.0;
};

// The reference label: "参考: -30.00dBm" for a reference, empty without one (refNw ≤ 0).
// `prefix` is the translated "参考: ".
QString ReferenceText(const QString &prefix, double refNw);

// What the file viewer plots of a file's values, read in `fileToken` ("nw", "μW", "mw", "w",
// "dBm", or "dB" with `fileRefNw` above 0; any other token counts as nanowatts), when its
// unit box is at `view` (watts or dBm). The file's values stay as read; only the plot
// converts. Watts of a logarithmic file are shown in the unit that suits `fileMax` (its
// largest value as read), as the automatic range would choose it. A file in dB without a
// reference cannot be converted and is shown as read. NaN (a gap) stays NaN.
class FileScale {
public:
    FileScale() = default;
    FileScale(const QString &fileToken, double fileRefNw, Kind view, double fileMax);

    bool AsRead() const { return to_ == To::AsRead; }
    QString Token() const { return token_; }  // of the value axis
    double Apply(double valueAsRead) const;

private:
    enum class From { Linear, Dbm, Db };
    enum class To { AsRead, Linear, Dbm };
    double ToNw(double v) const;
    From from_ = From::Linear;
    To to_ = To::AsRead;
    double fileFactor_ = 1.0;
    double fileRefNw_ = 0.0;
    double viewFactor_ = 1.0;
    QString token_ = QStringLiteral("nw");
};

// A dial range for a logarithmic scale: from the number of the range's full scale (rounded
// up to a multiple of 5) down by 45, so that the ten scale numbers fall on multiples of 5.
struct DialRange {
    double min = 0.0;
    double max = 0.0;
};
DialRange LogDialRange(double fullScaleNumber);

}  // namespace displayunit
