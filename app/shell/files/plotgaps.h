// Gaps in a recording's plot: the recorder writes no row for a tick at which the meter
// delivered nothing, so its sample numbers jump there (key = start + number × 0.1 s). The
// plot shows such a jump as a break in the line: one point with the value NaN between the
// two rows, which QCustomPlot draws no line across and leaves out of its value ranges.
// Only the plot holds these points; the file and what is read from it keep the rows as
// they are. Works on any vector of points with `key` and `value` (the viewer's
// QCPGraphData, the recorder's Sample).
#pragma once

#include <limits>

namespace plotgaps {

// Time between two neighbouring recording rows, in s.
constexpr double kStepSec = 0.1;

// Whether rows at keys prevKey < nextKey have numbers further apart than one: the keys
// differ by more than one step (half a step of tolerance for the keys' rounding).
inline bool IsGap(double prevKey, double nextKey, double stepSec = kStepSec)
{
    return nextKey - prevKey > stepSec * 1.5;
}

// The break between two rows: `like` (either row) with the key halfway between them and
// the value NaN. The live recorder adds it before a row for which IsGap holds.
template <class Point>
Point GapPoint(Point like, double prevKey, double nextKey)
{
    like.key = prevKey + (nextKey - prevKey) / 2;
    like.value = std::numeric_limits<double>::quiet_NaN();
    return like;
}

// Inserts one gap point between every two neighbouring points (ascending keys) for which
// IsGap holds; the other points stay as they are. Returns the number inserted.
template <class Vector>
int InsertGaps(Vector &points, double stepSec = kStepSec)
{
    const int n = points.size();
    int gaps = 0;
    for (int i = 1; i < n; ++i)
        gaps += IsGap(points[i - 1].key, points[i].key, stepSec) ? 1 : 0;
    if (gaps == 0)
        return 0;
    points.resize(n + gaps);
    // From the back, so that every point moves once: iteration i writes at i or later,
    // never over a point still to be read.
    int out = n + gaps;
    for (int i = n - 1; i >= 0; --i) {
        const auto p = points[i];
        points[--out] = p;
        if (i > 0 && IsGap(points[i - 1].key, p.key, stepSec))
            points[--out] = GapPoint(p, points[i - 1].key, p.key);
    }
    return gaps;
}

}  // namespace plotgaps
