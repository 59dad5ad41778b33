// Tour steps of the measurement page (numeric view, dial, statistics, curve).
#include "tour.h"

namespace tour {

void AddMeasureSteps(std::vector<Step> &steps)
{
    (void)steps;
}

}  // namespace tour
