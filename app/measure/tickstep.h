// Tick spacing of the curve view's time axis (no screen needed).
#pragma once

namespace tickstep {

// Seconds between time-axis ticks for the visible span [lower, upper] and the wanted tick
// count: span / count, at least one second, snapped to the nearest "clock" step (1 s, 2 s,
// ..., 1 h, ..., 360 days; the larger one on a tie, the largest beyond the list).
double Step(double lower, double upper, int tickCount);

// Tick count for a plot of this width: one tick per 106 px.
int CountForWidth(int widthPx);

}  // namespace tickstep
