#ifndef QUORVEX_DEVICE_POWERUNIT_H
#define QUORVEX_DEVICE_POWERUNIT_H

#include <QString>
#include <QtGlobal>

// Display units of the power views. The store keeps whole nanowatts; a view reads a
// value divided by the factor of its unit token. The tokens are compared as exact
// strings (note the capital W of the microwatt token); any other token means nanowatts.
namespace PowerUnit {

QString Nanowatt();   // "nw"
QString Microwatt();  // "μW"
QString Milliwatt();  // "mw"
QString Watt();       // "w"

// 1, 1e3, 1e6 or 1e9; 1 for an unknown token.
double Factor(const QString &unit);

// Truncates toward zero to a whole number of nanowatts. Saturates instead of
// overflowing: NaN gives 0, values beyond the 64-bit range give its ends.
qint64 TruncNw(double nanowatts);

// TruncNw(nanowatts) / factor: how every stored value reaches a view.
inline double ToDisplay(double nanowatts, double factor)
{
    return static_cast<double>(TruncNw(nanowatts)) / factor;
}

}  // namespace PowerUnit

#endif
