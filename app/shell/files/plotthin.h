// Keeps a long recording's plot bounded: once the plot holds too many points, consecutive
// groups of four are replaced by their lowest and highest point (in time order), halving
// the count while every peak and dip stays visible. The file keeps every sample; only the
// plot is thinned. Works on any vector of points with `key` and `value`.
//
// Gaps (points with the value NaN, see plotgaps.h) survive thinning: a group holding one
// keeps a single NaN point (its first) and the extremes of the points outside its gaps
// (before its first gap or after its last), each on its side of the NaN; points between two gaps
// of one group (at most two samples, a fragment too short to show) are dropped. So a
// group gives at most three points, no line is drawn where the unthinned plot had a gap,
// and a NaN never turns into a number.
#pragma once

#include <algorithm>
#include <cmath>

namespace plotthin {

// Thins all but the newest `keepNewest` points of `points` (ascending keys) in place. Each
// pass leaves at most three quarters of the thinned part (a half where it has no gaps).
template <class Vector>
void HalveEnvelope(Vector &points, int keepNewest = 0)
{
    const int n = points.size();
    const int thinEnd = std::max(0, (n - keepNewest) / 4 * 4);
    int out = 0;
    for (int i = 0; i < thinEnd; i += 4) {
        int firstGap = -1, lastGap = -1;
        for (int j = i; j < i + 4; ++j) {
            if (std::isnan(points[j].value)) {
                firstGap = firstGap < 0 ? j : firstGap;
                lastGap = j;
            }
        }
        if (firstGap < 0) {
            int lo = i, hi = i;
            for (int j = i + 1; j < i + 4; ++j) {
                if (points[j].value < points[lo].value)
                    lo = j;
                if (points[j].value > points[hi].value)
                    hi = j;
            }
            if (lo == hi)
                hi = i + 3;  // a flat group keeps its first and last point
            const auto a = points[std::min(lo, hi)];
            const auto b = points[std::max(lo, hi)];
            points[out++] = a;
            points[out++] = b;
            continue;
        }
        // The extremes of the numbers outside the gaps; -1: none there.
        int lo = -1, hi = -1, last = -1;
        for (int j = i; j < i + 4; ++j) {
            if (j >= firstGap && j <= lastGap)
                continue;
            if (lo < 0 || points[j].value < points[lo].value)
                lo = j;
            if (hi < 0 || points[j].value > points[hi].value)
                hi = j;
            last = j;
        }
        if (lo == hi)
            hi = last;  // flat: its first and last point, as above
        // In time order; a single number outside the gaps is both extremes and kept once.
        // Writing at out + t never passes taken[t], so nothing is overwritten unread.
        int taken[3] = {lo, firstGap, hi};
        std::sort(taken, taken + 3);
        int *const end = std::unique(taken, taken + 3);
        for (const int *t = taken; t != end; ++t)
            if (*t >= 0)
                points[out++] = points[*t];
    }
    for (int i = thinEnd; i < n; ++i)
        points[out++] = points[i];
    points.resize(out);
}

}  // namespace plotthin
