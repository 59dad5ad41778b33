// Number and time texts of the measurement views (no screen needed). Numbers use the C
// locale form: "." as decimal separator, a leading "-" for negative values.
#pragma once

#include "displayunit.h"

#include <QString>

namespace measurefmt {

// Fixed-point with exactly 2 decimals ("12.34", "-0.50").
QString Fixed2(double value);
// Fixed2 followed directly by the unit token, no space ("12.34mw").
QString Power(double value, const QString &unit);
// Elapsed whole seconds as "hh:mm:ss", each part at least 2 digits, the hours unbounded
// ("01:02:05" for 3725, "100:00:00" for 360000). Negative input counts as 0.
QString Elapsed(qint64 seconds);

// What the numeric view shows for one refresh.
struct NumTexts {
    bool overRange = false;  // current above the full scale: the caller shows its own text
    QString value;           // empty when overRange
    QString max, min, mean;  // empty when overRange
};
// `totals` holds max, min, mean, in `unit` (factor nanowatts per unit). Only the full scale
// counts: a value below the range's lower end is shown normally; a value equal to the full
// scale is shown as a number. The texts are in `scale` (watts: the value and `unit`).
NumTexts NumView(double current, const double totals[3], double fullScale, const QString &unit,
                 const displayunit::Scale &scale = {}, double factor = 1.0);

}  // namespace measurefmt
