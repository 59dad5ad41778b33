#include "powerunit.h"

#include <cmath>
#include <limits>

namespace PowerUnit {

QString Nanowatt() { return QStringLiteral("nw"); }
QString Microwatt() { return QString::fromUtf8("\xce\xbcW"); }
QString Milliwatt() { return QStringLiteral("mw"); }
QString Watt() { return QStringLiteral("w"); }

double Factor(const QString &unit)
{
    if (unit == Microwatt())
        return 1e3;
    if (unit == Milliwatt())
        return 1e6;
    if (unit == Watt())
        return 1e9;
    return 1.0;
}

qint64 TruncNw(double nanowatts)
{
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(nanowatts))
        return 0;
    if (nanowatts >= kLimit)
        return std::numeric_limits<qint64>::max();
    if (nanowatts <= -kLimit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(nanowatts);
}

}  // namespace PowerUnit
