// What the probe "sees" and how the meter head turns it into a range index and a raw ADC
// count. Powers are in nanowatts, the unit the host's power values come out in with the
// default level table.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "simmeter/calibration.h"

namespace simmeter {

// From `atS` seconds after the signal was set, the optical power is `powerNw` (the last step
// whose time has passed wins; before the first step, SignalConfig::powerNw holds).
struct PowerStep {
    double atS = 0;
    double powerNw = 0;
};

// One slow, bounded swing of a laser's output (pointing, temperature): the power is scaled by
// 1 + amplitudeRel * sin(2 pi t / periodS + phaseRad). A period <= 0 contributes nothing.
struct Swing {
    double amplitudeRel = 0;
    double periodS = 0;
    double phaseRad = 0;
};

struct SignalConfig {
    double powerNw = 1000.0;    // optical power before spectral correction
    double noiseRel = 0.002;    // standard deviation of gaussian noise, relative to the power
    double driftNwPerS = 0;     // linear drift since the signal was set
    double sampleRateHz = 100;  // 0x200A frames per second while streaming (capped at 20000)
    std::vector<PowerStep> steps;
    // Multiplied into the stepped and drifted power; their relative amplitudes add up, so
    // the power stays within 1 +- their sum. Empty by default: a flat signal.
    std::vector<Swing> swings;
};

constexpr double kMaxSampleRateHz = 20000;

// Noise-free power at `t` seconds after the signal was set.
double NominalPowerNw(const SignalConfig& s, double t);

// A signal that looks like a real laser on meter `index` (1-based): a power level, noise of
// 0.5 to 1 % and swings of a few % with periods of tens of seconds to minutes, all different
// from one meter to the next (the noise seed differs by meter already).
SignalConfig DemoSignal(int index);

struct RangedSample {
    uint16_t range = 1;  // 1..8
    uint16_t raw = 0;
};

// An auto-ranging head: of the ranges with a usable k (> 0, finite), the most sensitive one
// (largest k; the lower index among equal k) whose raw count does not exceed the ADC high
// threshold; if every range saturates, the least sensitive one. raw = round(P * c * k + b),
// clamped to 0..65535.
RangedSample AutoRange(double powerNw, float coefficient, const BaseRecord& base,
                       const LevelRecord& level);

// Reproducible gaussian noise source.
class NoiseSource {
public:
    explicit NoiseSource(uint64_t seed) : rng_(seed) {}
    double Gaussian() { return dist_(rng_); }

private:
    std::mt19937_64 rng_;
    std::normal_distribution<double> dist_{0.0, 1.0};
};

}  // namespace simmeter
