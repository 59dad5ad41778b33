// The probe's calibration as the meter stores it, with the byte layouts of its read and
// write commands, and the command codes the meter understands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simmeter/wire.h"

namespace simmeter {

namespace cmd {
constexpr uint16_t kInit = 0x0001;
constexpr uint16_t kRecover = 0x0003;
constexpr uint16_t kWriteDevSerial = 0x000A;
constexpr uint16_t kReadDevSerial = 0x000B;
constexpr uint16_t kWriteDevName = 0x000C;
constexpr uint16_t kReadDevName = 0x000D;
constexpr uint16_t kSetTime = 0x000E;
constexpr uint16_t kReadVersion = 0x0010;
constexpr uint16_t kDiskMode = 0x0011;
constexpr uint16_t kNonDiskMode = 0x0012;
constexpr uint16_t kStartTransfer = 0x0024;
constexpr uint16_t kStopTransfer = 0x0025;
constexpr uint16_t kSetZeroOffset = 0x0028;
constexpr uint16_t kGetZeroOffset = 0x0029;
constexpr uint16_t kWriteDetSerial = 0x1000;
constexpr uint16_t kReadDetSerial = 0x1001;
constexpr uint16_t kWriteDetName = 0x1002;
constexpr uint16_t kReadDetName = 0x1003;
constexpr uint16_t kSetBaseParam = 0x1008;
constexpr uint16_t kGetBaseParam = 0x1009;
constexpr uint16_t kSetLevParam = 0x100A;
constexpr uint16_t kGetLevParam = 0x100B;
constexpr uint16_t kSetSpecParam = 0x100C;
constexpr uint16_t kGetSpecParam = 0x100D;
constexpr uint16_t kSaveDetParam = 0x100E;
constexpr uint16_t kHeartbeat = 0x100F;
constexpr uint16_t kSetAverage = 0x1010;
constexpr uint16_t kGetAverage = 0x1016;
constexpr uint16_t kSetSampleWavelength = 0x1017;
constexpr uint16_t kGetSampleWavelength = 0x1018;
constexpr uint16_t kGetDetectorState = 0x101B;
constexpr uint16_t kGetProbeOffset = 0x101D;
constexpr uint16_t kGetCalibrationDate = 0x101F;
constexpr uint16_t kPowerData = 0x200A;
}  // namespace cmd

// Reply status words. 0 is success; the others are the meter's own choice.
namespace status {
constexpr uint16_t kOk = 0;
constexpr uint16_t kUnknownCommand = 0x0001;
constexpr uint16_t kBadParameter = 0x0002;
}  // namespace status

constexpr int kRangeCount = 8;
// The largest spectral table the meter keeps (it still fits a host's 6100-byte read buffer).
constexpr size_t kMaxSpectralEntries = 1016;
// Entries per chunk a host sends when writing the table piecewise.
constexpr size_t kSpectralChunkEntries = 80;
constexpr size_t kCalibrationDateSize = 10;

// 0x1009 payload, 10 bytes: wavelengths in nm, ADC thresholds in counts.
struct BaseRecord {
    uint16_t startNm = 400;
    uint16_t endNm = 1100;
    uint16_t adcLow = 2000;
    uint16_t adcHigh = 60000;
    uint16_t detectorType = 3;

    Bytes Encode() const;
    // Accepts the 10-byte record, or the 8-byte form without the detector type (which then
    // keeps `keepType`).
    static std::optional<BaseRecord> Decode(const Bytes& b, uint16_t keepType);
    bool operator==(const BaseRecord& o) const;
};

// One linear calibration per range: raw = P * c * k + b (c the spectral coefficient).
struct LevelPair {
    double k = 0;
    double b = 0;
};

// 0x100B payload, 128 bytes: eight (double k, double b), range 1 first.
struct LevelRecord {
    std::array<LevelPair, kRangeCount> ranges{};

    Bytes Encode() const;
    static std::optional<LevelRecord> Decode(const Bytes& b);
    bool operator==(const LevelRecord& o) const;
};

struct SpectralEntry {
    uint16_t nm = 0;
    float coef = 0;
};

// 0x100D payload: u16 n, then n packed {u16 nm, float coef}.
struct SpectralTable {
    std::vector<SpectralEntry> entries;

    Bytes Encode() const;
    // Strict: exactly 2 + 6n bytes.
    static std::optional<SpectralTable> Decode(const Bytes& b);
    // Linear interpolation in single precision, the later segment winning where two touch
    // (this is how a host computes it, so raw values round-trip exactly). Outside the table the
    // nearest end value; 1.0 for an empty table.
    float CoefficientAt(double nm) const;
    bool operator==(const SpectralTable& o) const;
};

struct Calibration {
    BaseRecord base;
    LevelRecord level;
    SpectralTable spectral;
    double probeOffset = 0;           // 0x101D, in the unit of the power values
    std::string date = "2026-01-15";  // 0x101F, sent as 10 bytes

    bool operator==(const Calibration& o) const;
};

LevelRecord DefaultLevelRecord();
// 701 entries, 400..1100 nm, a smooth responsivity curve with its peak 1.0 at 964 nm.
SpectralTable DefaultSpectralTable();
Calibration DefaultCalibration();

}  // namespace simmeter
