#include "simmeter/signal.h"

#include <cmath>

namespace simmeter {

double NominalPowerNw(const SignalConfig& s, double t)
{
    double p = s.powerNw;
    double bestAt = -1;
    for (const auto& st : s.steps) {
        if (st.atS <= t && st.atS >= bestAt) {
            p = st.powerNw;
            bestAt = st.atS;
        }
    }
    return p + s.driftNwPerS * t;
}

namespace {

uint16_t RawFor(double powerNw, double c, const LevelPair& lp)
{
    const double raw = std::round(powerNw * c * lp.k + lp.b);
    if (!(raw > 0))
        return 0;  // also NaN
    if (raw > 65535)
        return 65535;
    return static_cast<uint16_t>(raw);
}

bool Usable(const LevelPair& lp) { return std::isfinite(lp.k) && lp.k > 0 && std::isfinite(lp.b); }

}  // namespace

RangedSample AutoRange(double powerNw, float coefficient, const BaseRecord& base,
                       const LevelRecord& level)
{
    const double c = static_cast<double>(coefficient);
    // Visit the ranges from the most to the least sensitive.
    int order[kRangeCount];
    int n = 0;
    for (int i = 0; i < kRangeCount; ++i) {
        if (Usable(level.ranges[i]))
            order[n++] = i;
    }
    if (n == 0)
        return {1, 0};
    for (int i = 1; i < n; ++i) {
        for (int j = i; j > 0 && level.ranges[order[j]].k > level.ranges[order[j - 1]].k; --j) {
            std::swap(order[j], order[j - 1]);
        }
    }
    for (int i = 0; i < n; ++i) {
        const LevelPair& lp = level.ranges[order[i]];
        const double raw = powerNw * c * lp.k + lp.b;
        if (raw <= base.adcHigh)
            return {static_cast<uint16_t>(order[i] + 1), RawFor(powerNw, c, lp)};
    }
    const int last = order[n - 1];
    return {static_cast<uint16_t>(last + 1), RawFor(powerNw, c, level.ranges[last])};
}

}  // namespace simmeter
