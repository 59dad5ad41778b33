#include "calibration/calibration.h"

#include <QDateTime>
#include <QStringList>

#include <cstring>

namespace tessivar {
namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

template <typename T>
T Load(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);  // wire is little-endian, as are all our targets
    return v;
}

}  // namespace

bool ParseBaseParam(const uint8_t* payload, int len, BaseParam* out)
{
    if (!payload || len != kBaseRecordSize)
        return false;
    out->startNm = U16(payload);
    out->endNm = U16(payload + 2);
    out->adcLow = U16(payload + 4);
    out->adcHigh = U16(payload + 6);
    out->detectorType = U16(payload + 8);
    return true;
}

bool ParseLevelTable(const uint8_t* payload, int len, LevelTable* out)
{
    if (!payload || len != kLevelRecordSize)
        return false;
    for (int r = 0; r < kRangeCount; ++r) {
        (*out)[r].k = Load<double>(payload + kLevelPairSize * r);
        (*out)[r].b = Load<double>(payload + kLevelPairSize * r + sizeof(double));
    }
    return true;
}

bool ParseSpecTable(const uint8_t* payload, int len, SpecTable* out)
{
    const int n = (payload && len >= 2) ? U16(payload) : 0;
    if (n != 0 && len != kSpecEntrySize * n + 2)
        return false;
    out->wavelengths.resize(n);
    out->coefficients.resize(n);
    for (int i = 0; i < n; ++i) {
        const uint8_t* entry = payload + 2 + kSpecEntrySize * i;
        out->wavelengths[i] = U16(entry);
        out->coefficients[i] = Load<float>(entry + 2);
    }
    return true;
}

bool ParsePowerSample(const uint8_t* payload, int len, PowerSample* out)
{
    if (!payload || len != kPowerSampleSize)
        return false;
    out->tick = Load<uint32_t>(payload);
    out->range = U16(payload + 4);
    out->raw = U16(payload + 6);
    return true;
}

bool LevelForRange(const LevelTable& table, uint16_t range, LevelPair* out)
{
    if (range < 1 || range > kRangeCount)
        return false;
    *out = table[range - 1];
    return true;
}

void WriteSpecExport(const SpecTable& table, uint8_t* out)
{
    const std::size_t n = table.wavelengths.size();
    if (n == 0)
        return;
    std::memcpy(out, table.wavelengths.data(), 2 * n);
    std::memcpy(out + 2 * n, table.coefficients.data(), 4 * n);
}

float InterpolateCoefficient(const SpecTable& table, float wavelength, float previous)
{
    float coefficient = previous;
    const int n = table.Count();
    for (int i = 0; i + 1 < n; ++i) {
        const float w0 = table.wavelengths[i];
        const float w1 = table.wavelengths[i + 1];
        if (w0 == w1)
            continue;
        if (w0 <= wavelength && wavelength <= w1) {
            const float c0 = table.coefficients[i];
            const float c1 = table.coefficients[i + 1];
            coefficient = c0 + (c1 - c0) * (wavelength - w0) / (w1 - w0);
        }
    }
    return coefficient;
}

float ClampWavelength(float wavelength, const BaseParam& base)
{
    if (wavelength < base.startNm)
        return base.startNm;
    if (wavelength > base.endNm)
        return base.endNm;
    return wavelength;
}

bool WavelengthInRange(float nm, const BaseParam& base)
{
    return !(nm < base.startNm - 0.0001f || nm > base.endNm + 0.0001f);
}

PowerValue ComputePower(uint16_t raw, const LevelPair& level, float coefficient, double zeroOffset,
                        double probeOffset)
{
    const double c = static_cast<double>(coefficient);
    const double linear = (raw - level.b) / (c * level.k);
    return {linear - zeroOffset - probeOffset, linear - probeOffset};
}

int64_t SampleClock::Stamp(uint32_t tick, int64_t wallClockMs)
{
    if (baseSet_) {
        timeMs_ += static_cast<uint32_t>(tick - lastTick_);  // unsigned: wraps modulo 2^32
    } else {
        timeMs_ = wallClockMs;
        baseSet_ = true;
    }
    lastTick_ = tick;
    return timeMs_;
}

int64_t LocalWallClockMs()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toMSecsSinceEpoch() + static_cast<int64_t>(now.offsetFromUtc()) * 1000;
}

QString BaseParamLogText(const BaseParam& base)
{
    return QString::fromUtf8(
               "获取探头基础信息\n   起始波长: %1\n   结束波长: %2\n   adc阈值下限: %3\n"
               "   adc阈值上限: %4\n   探测器类型: %5")
        .arg(base.startNm)
        .arg(base.endNm)
        .arg(base.adcLow)
        .arg(base.adcHigh)
        .arg(base.detectorType);
}

QString LevelTableLogText(const LevelTable& table)
{
    QStringList lines;
    for (int r = 0; r < kRangeCount; ++r) {
        lines << QString::fromUtf8("   %1档, k = %2  b = %3")
                     .arg(r + 1)
                     .arg(table[r].k, -14, 'g', 6)
                     .arg(table[r].b, 0, 'g', 6);
    }
    return QString::fromUtf8("获取探头档位校准参数\n") + lines.join(QLatin1Char('\n'));
}

}  // namespace tessivar
