#include "tickstep.h"

#include <cmath>
#include <iterator>

namespace tickstep {

namespace {
const double kSteps[] = {1,      2,       3,       4,       5,        6,        10,
                         15,     20,      30,      60,      120,      180,      240,
                         300,    600,     900,     1200,    1800,     3600,     7200,
                         10800,  21600,   43200,   86400,   172800,   259200,   432000,
                         604800, 1209600, 2592000, 5184000, 10368000, 15552000, 31104000};
}  // namespace

double Step(double lower, double upper, int tickCount)
{
    const double step = (upper - lower) / (tickCount + 1e-10);
    if (!(step >= 1.0))  // also NaN
        return 1.0;
    const double last = kSteps[std::size(kSteps) - 1];
    if (step >= last)
        return last;
    // First member not below the step; compare it with the one before (tie: the larger).
    std::size_t i = 0;
    while (kSteps[i] < step)
        ++i;
    if (i == 0)
        return kSteps[0];
    const double below = kSteps[i - 1];
    const double above = kSteps[i];
    return (step - below < above - step) ? below : above;
}

int CountForWidth(int widthPx) { return widthPx / 106; }

}  // namespace tickstep
