#include "simmeter/signal.h"

#include <cmath>

namespace simmeter {

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

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
    p += s.driftNwPerS * t;
    double scale = 1;
    for (const auto& w : s.swings) {
        if (w.periodS > 0)
            scale += w.amplitudeRel * std::sin(2 * kPi * t / w.periodS + w.phaseRad);
    }
    return p * scale;
}

SignalConfig DemoSignal(int index)
{
    // Levels whose display ("3.27μW", "1.46mW", ...) moves in its last digit at this noise,
    // each one in a range where the head resolves far finer than the noise.
    static const double kLevelsNw[] = {3270, 1.46e6, 58400, 612};
    static const double kNoiseRel[] = {0.007, 0.006, 0.009, 0.008};
    const int n = static_cast<int>(sizeof kLevelsNw / sizeof kLevelsNw[0]);
    const int i = index < 1 ? 0 : index - 1;
    const int k = i % n;
    SignalConfig s;
    s.powerNw = kLevelsNw[k] * (1 + 0.1 * (i / n));  // meters past the table: 10 % more each round
    s.noiseRel = kNoiseRel[k];
    // Periods in no simple ratio, stretched per meter so that no two meters swing together.
    const double stretch = 1 + 0.17 * i;
    const double phase = 1.3 * i;
    s.swings = {{0.03, 240 * stretch, phase},
                {0.015, 67 * stretch, 2.1 + phase},
                {0.008, 19 * stretch, 4.4 + 2 * phase}};
    return s;
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
