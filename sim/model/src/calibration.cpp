#include "simmeter/calibration.h"

#include <algorithm>
#include <cmath>

namespace simmeter {

using namespace wire;

Bytes BaseRecord::Encode() const
{
    Bytes b;
    for (uint16_t v : {startNm, endNm, adcLow, adcHigh, detectorType})
        PutU16(b, v);
    return b;
}

std::optional<BaseRecord> BaseRecord::Decode(const Bytes& b, uint16_t keepType)
{
    if (b.size() != 8 && b.size() != 10)
        return std::nullopt;
    BaseRecord r;
    r.startNm = GetU16(&b[0]);
    r.endNm = GetU16(&b[2]);
    r.adcLow = GetU16(&b[4]);
    r.adcHigh = GetU16(&b[6]);
    r.detectorType = b.size() == 10 ? GetU16(&b[8]) : keepType;
    return r;
}

bool BaseRecord::operator==(const BaseRecord& o) const
{
    return startNm == o.startNm && endNm == o.endNm && adcLow == o.adcLow && adcHigh == o.adcHigh &&
           detectorType == o.detectorType;
}

Bytes LevelRecord::Encode() const
{
    Bytes b;
    for (const auto& p : ranges) {
        PutF64(b, p.k);
        PutF64(b, p.b);
    }
    return b;
}

std::optional<LevelRecord> LevelRecord::Decode(const Bytes& b)
{
    if (b.size() != 16 * kRangeCount)
        return std::nullopt;
    LevelRecord r;
    for (int i = 0; i < kRangeCount; ++i) {
        r.ranges[i].k = GetF64(&b[16 * i]);
        r.ranges[i].b = GetF64(&b[16 * i + 8]);
    }
    return r;
}

bool LevelRecord::operator==(const LevelRecord& o) const
{
    for (int i = 0; i < kRangeCount; ++i) {
        if (ranges[i].k != o.ranges[i].k || ranges[i].b != o.ranges[i].b)
            return false;
    }
    return true;
}

Bytes SpectralTable::Encode() const
{
    Bytes b;
    b.reserve(2 + 6 * entries.size());
    PutU16(b, static_cast<uint16_t>(entries.size()));
    for (const auto& e : entries) {
        PutU16(b, e.nm);
        PutF32(b, e.coef);
    }
    return b;
}

std::optional<SpectralTable> SpectralTable::Decode(const Bytes& b)
{
    if (b.size() < 2)
        return std::nullopt;
    const size_t n = GetU16(&b[0]);
    if (b.size() != 2 + 6 * n || n > kMaxSpectralEntries)
        return std::nullopt;
    SpectralTable t;
    t.entries.resize(n);
    for (size_t i = 0; i < n; ++i) {
        t.entries[i].nm = GetU16(&b[2 + 6 * i]);
        t.entries[i].coef = GetF32(&b[4 + 6 * i]);
    }
    return t;
}

float SpectralTable::CoefficientAt(double nm) const
{
    if (entries.empty())
        return 1.0f;
    const float w = static_cast<float>(nm);
    bool found = false;
    float c = 1.0f;
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
        const float w0 = entries[i].nm, w1 = entries[i + 1].nm;
        if (w0 <= w && w <= w1 && w1 > w0) {
            const float c0 = entries[i].coef, c1 = entries[i + 1].coef;
            c = c0 + (c1 - c0) * (w - w0) / (w1 - w0);
            found = true;
        }
    }
    if (found)
        return c;
    // Outside the table: the end nearer to the wavelength.
    const auto lo = std::min_element(entries.begin(), entries.end(),
                                     [](const auto& a, const auto& b) { return a.nm < b.nm; });
    const auto hi = std::max_element(entries.begin(), entries.end(),
                                     [](const auto& a, const auto& b) { return a.nm < b.nm; });
    return w <= lo->nm ? lo->coef : hi->coef;
}

bool SpectralTable::operator==(const SpectralTable& o) const
{
    if (entries.size() != o.entries.size())
        return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].nm != o.entries[i].nm || entries[i].coef != o.entries[i].coef)
            return false;
    }
    return true;
}

bool Calibration::operator==(const Calibration& o) const
{
    return base == o.base && level == o.level && spectral == o.spectral &&
           probeOffset == o.probeOffset && date == o.date;
}

LevelRecord DefaultLevelRecord()
{
    LevelRecord r;
    r.ranges = {{{0.0005, -24.4145},
                 {0.00273, -4.7567},
                 {0.0173, -36.96},
                 {0.0005, -24.4145},
                 {0.00273, -4.7567},
                 {0.0173, -36.96},
                 {0.1154, -119.81},
                 {0.7218, -375.32}}};
    return r;
}

SpectralTable DefaultSpectralTable()
{
    // Measured rows of the probe's responsivity; the rest of the table is a monotone cubic
    // (Fritsch-Carlson) through them, which stays smooth and never overshoots the 1.0 peak.
    struct Anchor {
        double nm, c;
    };
    static const Anchor a[] = {{400, 0.354},   {401, 0.3559}, {500, 0.5019}, {532, 0.5424},
                               {633, 0.658},   {700, 0.734},  {800, 0.8411}, {850, 0.8926},
                               {900, 0.9523},  {964, 1.0},    {980, 0.9846}, {1000, 0.8608},
                               {1050, 0.5017}, {1100, 0.1812}};
    const size_t n = sizeof a / sizeof a[0];
    std::vector<double> d(n - 1), m(n);
    for (size_t i = 0; i + 1 < n; ++i)
        d[i] = (a[i + 1].c - a[i].c) / (a[i + 1].nm - a[i].nm);
    m[0] = d[0];
    m[n - 1] = d[n - 2];
    for (size_t i = 1; i + 1 < n; ++i) {
        if (d[i - 1] * d[i] <= 0) {
            m[i] = 0;
        } else {
            const double h0 = a[i].nm - a[i - 1].nm, h1 = a[i + 1].nm - a[i].nm;
            const double w1 = 2 * h1 + h0, w2 = h1 + 2 * h0;
            m[i] = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i]);
        }
    }
    SpectralTable t;
    t.entries.reserve(701);
    size_t seg = 0;
    for (int nm = 400; nm <= 1100; ++nm) {
        while (seg + 2 < n && nm > a[seg + 1].nm)
            ++seg;
        const double h = a[seg + 1].nm - a[seg].nm;
        const double s = (nm - a[seg].nm) / h;
        const double h00 = (1 + 2 * s) * (1 - s) * (1 - s), h10 = s * (1 - s) * (1 - s);
        const double h01 = s * s * (3 - 2 * s), h11 = s * s * (s - 1);
        double c = h00 * a[seg].c + h10 * h * m[seg] + h01 * a[seg + 1].c + h11 * h * m[seg + 1];
        for (const auto& an : a) {
            if (an.nm == nm)
                c = an.c;  // the measured rows stand exactly
        }
        t.entries.push_back({static_cast<uint16_t>(nm), static_cast<float>(c)});
    }
    return t;
}

Calibration DefaultCalibration()
{
    Calibration c;
    c.level = DefaultLevelRecord();
    c.spectral = DefaultSpectralTable();
    return c;
}

}  // namespace simmeter
