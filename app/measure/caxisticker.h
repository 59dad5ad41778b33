// Time-axis ticker of the curve view: date-time labels with tick steps snapped to clock
// units (see tickstep::Step). Include qcustomplot.h before this header (only .cpp files do).
#pragma once

#include "tickstep.h"

class CAxisTicker : public QCPAxisTickerDateTime {
public:
    CAxisTicker() = default;

protected:
    double getTickStep(const QCPRange &range) override
    {
        return tickstep::Step(range.lower, range.upper, tickCount());
    }
};
