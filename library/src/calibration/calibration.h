// The probe's calibration records and the maths that turns raw samples into power.
// Pure functions and plain data: the device thread owns the values and calls these.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace tessivar {

// Payload of the 0x1009 reply (10 bytes). getBaseParam hands out the first 8.
struct BaseParam {
    uint16_t startNm = 0;
    uint16_t endNm = 0;
    uint16_t adcLow = 0;
    uint16_t adcHigh = 0;
    uint16_t detectorType = 0;
};
constexpr int kBaseRecordSize = 10;
constexpr int kBaseParamExportSize = 8;

// One linear calibration per measuring range: power = (raw - b) / (c * k).
struct LevelPair {
    double k = 0;
    double b = 0;
};
constexpr int kRangeCount = 8;
constexpr int kLevelPairSize = 16;  // k, then b: little-endian doubles
constexpr int kLevelRecordSize = kRangeCount * kLevelPairSize;
using LevelTable = std::array<LevelPair, kRangeCount>;  // range 1 first

// Spectral table: wavelengths in nm with their relative coefficients, in received order.
struct SpecTable {
    std::vector<uint16_t> wavelengths;
    std::vector<float> coefficients;
    int Count() const { return static_cast<int>(wavelengths.size()); }
};
constexpr int kSpecEntrySize = 6;

constexpr int kCalibrationDateSize = 10;
constexpr int kPowerSampleSize = 8;

// One 0x200A payload.
struct PowerSample {
    uint32_t tick = 0;   // meter's clock, ms
    uint16_t range = 0;  // 1..8
    uint16_t raw = 0;    // ADC counts
};

// Record parsers: false when the payload does not have the record's layout.
bool ParseBaseParam(const uint8_t* payload, int len, BaseParam* out);
bool ParseLevelTable(const uint8_t* payload, int len, LevelTable* out);
// u16 n, then n packed {u16 nm, float}. A payload shorter than 2 bytes is an empty table.
bool ParseSpecTable(const uint8_t* payload, int len, SpecTable* out);
bool ParsePowerSample(const uint8_t* payload, int len, PowerSample* out);

// The calibration pair of a sample's range (1..8). False for any other index: there are
// only eight pairs, and such a sample has no meaning.
bool LevelForRange(const LevelTable& table, uint16_t range, LevelPair* out);

// Serialises the table as getSpecParam hands it out: n u16 wavelengths, then n floats.
void WriteSpecExport(const SpecTable& table, uint8_t* out);

// Spectral coefficient at `wavelength`, interpolated linearly in single precision
// between neighbouring entries; where two segments touch, the later one wins. Returns
// `previous` when no segment contains the wavelength. Segments with equal wavelengths
// are skipped (they would divide by zero).
float InterpolateCoefficient(const SpecTable& table, float wavelength, float previous);

// `wavelength` clamped to the base record's [start, end].
float ClampWavelength(float wavelength, const BaseParam& base);

// True when nm lies in the probe's range (with a 0.0001 nm tolerance).
bool WavelengthInRange(float nm, const BaseParam& base);

struct PowerValue {
    double power;        // with zero and probe offsets subtracted
    double uncorrected;  // without the zero offset: what a zero compensation would take
};
PowerValue ComputePower(uint16_t raw, const LevelPair& level, float coefficient, double zeroOffset,
                        double probeOffset);

// Time stamps of one open: the wall clock once, then the meter's tick (mod 2^32).
class SampleClock {
public:
    void Reset() { baseSet_ = false; }
    bool HasBase() const { return baseSet_; }
    // wallClockMs is only used for the first sample after Reset.
    int64_t Stamp(uint32_t tick, int64_t wallClockMs);

private:
    bool baseSet_ = false;
    uint32_t lastTick_ = 0;
    int64_t timeMs_ = 0;
};

// Local wall-clock time in ms: ms since the Unix epoch (UTC) plus the local UTC offset.
int64_t LocalWallClockMs();

// Log texts of the initialisation replies.
QString BaseParamLogText(const BaseParam& base);
QString LevelTableLogText(const LevelTable& table);

}  // namespace tessivar
