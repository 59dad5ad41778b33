// Keeps a long recording's plot bounded: once the plot holds too many points, consecutive
// groups of four are replaced by their lowest and highest point (in time order), halving
// the count while every peak and dip stays visible. The file keeps every sample; only the
// plot is thinned. Works on any vector of points with `key` and `value`.
#pragma once

#include <algorithm>

namespace plotthin {

// Thins all but the newest `keepNewest` points of `points` (ascending keys) in place.
template <class Vector>
void HalveEnvelope(Vector &points, int keepNewest = 0)
{
    const int n = points.size();
    const int thinEnd = std::max(0, (n - keepNewest) / 4 * 4);
    int out = 0;
    for (int i = 0; i < thinEnd; i += 4) {
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
    }
    for (int i = thinEnd; i < n; ++i)
        points[out++] = points[i];
    points.resize(out);
}

}  // namespace plotthin
