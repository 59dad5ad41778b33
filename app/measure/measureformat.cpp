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

NumTexts NumView(double current, const double totals[3], double fullScale, const QString &unit,
                 const displayunit::Scale &scale, double factor)
{
    NumTexts t;
    if (current > fullScale) {
        t.overRange = true;
        return t;
    }
    t.value = scale.Text(current, factor, unit);
    t.max = scale.Text(totals[0], factor, unit);
    t.min = scale.Text(totals[1], factor, unit);
    t.mean = scale.Text(totals[2], factor, unit);
    return t;
}

}  // namespace measurefmt
