#include "displayunit.h"

#include "powerrange.h"
#include "powerunit.h"

#include <cmath>

namespace displayunit {

QStringList ItemNames()
{
    return {QStringLiteral("W"), QStringLiteral("dBm"), QStringLiteral("dB")};
}

QString Name(Kind kind) { return ItemNames().at(static_cast<int>(kind)); }

std::optional<Kind> FromName(const QString &name)
{
    const int i = ItemNames().indexOf(name);
    if (i < 0)
        return std::nullopt;
    return static_cast<Kind>(i);
}

namespace {
// Below the floor, and for what is no power (NaN, infinite), the floor.
double Floored(double nw) { return std::isfinite(nw) && nw >= kFloorNw ? nw : kFloorNw; }
}  // namespace

double DbmOfNw(double nw) { return 10.0 * std::log10(Floored(nw) / kNwPerMw); }

double DbOfNw(double nw, double refNw) { return DbmOfNw(nw) - DbmOfNw(refNw); }

double NwOfDbm(double dbm) { return kNwPerMw * std::pow(10.0, dbm / 10.0); }

double NwOfDb(double db, double refNw) { return refNw * std::pow(10.0, db / 10.0); }

Scale::Scale(Kind kind, double refNw) : kind_(kind), refNw_(refNw)
{
    if (kind_ == Kind::Db && !(std::isfinite(refNw_) && refNw_ > 0.0))
        kind_ = Kind::Dbm;
    if (kind_ != Kind::Db)
        refNw_ = 0.0;
}

QString Scale::Token(const QString &linearToken) const
{
    switch (kind_) {
    case Kind::Dbm: return QStringLiteral("dBm");
    case Kind::Db: return QStringLiteral("dB");
    case Kind::Watt: break;
    }
    return linearToken;
}

QString Scale::Key(const QString &linearToken) const
{
    if (kind_ == Kind::Db)
        return QStringLiteral("dB@") + QString::number(refNw_, 'g', 17);
    return Token(linearToken);
}

double Scale::NumberOfNw(double nw) const
{
    return kind_ == Kind::Db ? DbOfNw(nw, refNw_) : DbmOfNw(nw);
}

double Scale::Number(double value, double factor) const
{
    if (kind_ == Kind::Watt)
        return value;
    return NumberOfNw(value * factor);
}

bool Scale::BelowFloor(double value, double factor) const
{
    const double nw = value * factor;
    return kind_ != Kind::Watt && !(std::isfinite(nw) && nw >= kFloorNw);
}

QString Scale::Text(double value, double factor, const QString &linearToken, bool withToken) const
{
    QString text = QString::number(Number(value, factor), 'f', 2);
    // A ratio a hair below 1 is "0.00dB", not "-0.00dB".
    if (IsLog() && text == QLatin1String("-0.00"))
        text.remove(0, 1);
    if (BelowFloor(value, factor))
        text.prepend(QLatin1Char('<'));
    if (withToken)
        text += Token(linearToken);
    return text;
}

QString Scale::EdgeText(double value, double factor) const
{
    if (kind_ == Kind::Watt)
        return QString::number(value, 'f', 3);
    return Text(value, factor, QString(), false);
}

QString ReferenceText(const QString &prefix, double refNw)
{
    if (!(std::isfinite(refNw) && refNw > 0.0))
        return QString();
    return prefix + Scale::Dbm().Text(refNw, 1.0, QString());
}

FileScale::FileScale(const QString &fileToken, double fileRefNw, Kind view, double fileMax)
    : token_(fileToken)
{
    if (fileToken == QLatin1String("dBm")) {
        from_ = From::Dbm;
    } else if (fileToken == QLatin1String("dB")) {
        if (!(std::isfinite(fileRefNw) && fileRefNw > 0.0))
            return;  // relative to nothing known: as read
        from_ = From::Db;
        fileRefNw_ = fileRefNw;
    } else {
        fileFactor_ = PowerUnit::Factor(fileToken);
    }
    if (view == Kind::Dbm) {
        if (from_ != From::Dbm) {
            to_ = To::Dbm;
            token_ = QStringLiteral("dBm");
        }
        return;
    }
    if (from_ == From::Linear)
        return;
    // The automatic range's choice for the largest power; NaN or nothing read: nanowatts.
    const double maxNw = std::isfinite(fileMax) ? ToNw(fileMax) : 0.0;
    token_ = powerrange::ForRawNw(PowerUnit::TruncNw(std::ceil(maxNw))).unit;
    viewFactor_ = PowerUnit::Factor(token_);
    to_ = To::Linear;
}

double FileScale::ToNw(double v) const
{
    switch (from_) {
    case From::Dbm: return NwOfDbm(v);
    case From::Db: return NwOfDb(v, fileRefNw_);
    case From::Linear: break;
    }
    return v * fileFactor_;
}

double FileScale::Apply(double v) const
{
    if (to_ == To::AsRead || std::isnan(v))
        return v;
    const double nw = ToNw(v);
    return to_ == To::Dbm ? DbmOfNw(nw) : nw / viewFactor_;
}

DialRange LogDialRange(double fullScaleNumber)
{
    constexpr double kStep = 5.0, kSpan = 45.0;
    const double top = std::isfinite(fullScaleNumber) ? fullScaleNumber : 0.0;
    DialRange r;
    r.max = std::ceil(top / kStep) * kStep;
    r.min = r.max - kSpan;
    return r;
}

}  // namespace displayunit
