#include "dialscale.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dial {

double ScaleFor(int width, int height) { return std::min(width, height) / 500.0; }

int TickLength(int angle)
{
    if (angle % 20 == 0)
        return 215;
    if (angle % 10 == 0)
        return 210;
    return 205;
}

QString ScaleText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("0");
    constexpr double kLimit = 9.2e18;  // inside the 64-bit range
    const double t = std::trunc(std::clamp(value, -kLimit, kLimit));
    return QString::number(static_cast<qint64>(t));
}

void ScaleLabels(double min, double max, double s, ScaleLabel out[10])
{
    for (int i = 0; i < 5; ++i) {
        const int b = i * 20;
        const int a = 180 - b;
        const double rad = a * 3.14 / 180.0;
        const int x = static_cast<int>(225.0 * s * std::cos(rad));
        const int y = static_cast<int>(-225.0 * s * std::sin(rad));
        ScaleLabel &left = out[i];
        left.pos = QPoint(x, y);
        left.rotation = b - 90;
        left.text = ScaleText(min + (max - min) * b / 180.0);
        ScaleLabel &right = out[5 + i];
        right.pos = QPoint(-x, y);
        right.rotation = 90 - b;
        right.text = ScaleText(min + (max - min) * a / 180.0);
    }
}

double NeedleAngle(double value, double min, double max)
{
    const double span = max - min;
    if (!std::isfinite(value) || !std::isfinite(span) || span == 0.0)
        return -90.0;
    const double angle = (value - min) / span * 180.0 - 90.0;
    return std::isfinite(angle) ? angle : -90.0;
}

PointerOutput PointerStep(const PointerInput &in)
{
    PointerOutput out;
    out.dialMin = in.dialMin;
    out.dialMax = in.dialMax;
    double v = in.current;
    if (!in.relative) {
        out.rangeChanged = in.lower != in.dialMin || in.upper != in.dialMax;
        out.dialMin = in.lower;
        out.dialMax = in.upper;
    } else {
        v = in.current - in.reference;
        // A ratio to a zero reference has no value; the difference is the honest reading.
        if (in.ratio && in.reference != 0.0)
            v = v / in.reference;
        if (v > 0 && v > out.dialMax) {
            const double m = std::max(v, 1.0);
            out.dialMin = -m;
            out.dialMax = m;
            out.rangeChanged = true;
        } else if (v < 0 && v < out.dialMin) {
            const double m = std::min(v, -1.0);
            out.dialMin = m;
            out.dialMax = -m;
            out.rangeChanged = true;
        }
    }
    if (v <= out.dialMax) {
        out.needle = v;
    } else {
        out.needle = out.dialMax;
        out.overRange = true;
    }
    return out;
}

}  // namespace dial
