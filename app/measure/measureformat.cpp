#include "measureformat.h"

namespace measurefmt {

QString Fixed2(double value) { return QString::number(value, 'f', 2); }

QString Power(double value, const QString &unit) { return Fixed2(value) + unit; }

QString Elapsed(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, zero)
        .arg((seconds % 3600) / 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

NumTexts NumView(double current, const double totals[3], double fullScale, const QString &unit)
{
    NumTexts t;
    if (current > fullScale) {
        t.overRange = true;
        return t;
    }
    t.value = Power(current, unit);
    t.max = Power(totals[0], unit);
    t.min = Power(totals[1], unit);
    t.mean = Power(totals[2], unit);
    return t;
}

}  // namespace measurefmt
