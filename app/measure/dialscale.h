// The pointer dial's geometry and the pointer view's relative mode (no screen needed).
//
// Angles are in degrees. On the dial, 0 is the left end of the scale, 90 straight up and
// 180 the right end; the needle is drawn pointing up and rotated clockwise by NeedleAngle.
#pragma once

#include <QPoint>
#include <QString>

namespace dial {

// Dial lengths are given for a 500 px dial; the drawing scale of a widget is
// min(width, height) / 500.
double ScaleFor(int width, int height);

// Tick at `angle` (0, 2, ..., 180): outer end of the tick line in unscaled pixels from the
// centre (215 every 20 degrees, 210 at the other multiples of 10, 205 otherwise).
int TickLength(int angle);

// One number of the scale: where it stands (relative to the dial centre), how it is turned
// and what it reads.
struct ScaleLabel {
    QPoint pos;
    double rotation = 0.0;  // degrees, clockwise
    QString text;
};

// The ten numbers of a scale from `min` to `max` at drawing scale `s`: index 0..4 the left
// half (0, 20, 40, 60, 80 degrees), 5..9 the right half (180, 160, 140, 120, 100 degrees).
// Each reads the integer part (truncated toward zero) of its scale value. Positions use
// 3.14 for pi, as the artwork was laid out with it.
void ScaleLabels(double min, double max, double s, ScaleLabel out[10]);
// The text of one scale value: its integer part, "-0" never shown, saturating at the
// 64-bit ends.
QString ScaleText(double value);

// Needle rotation from straight up: -90 at `min`, +90 at `max`. A degenerate or non-finite
// range, or a non-finite value, rests the needle at the left end (-90).
double NeedleAngle(double value, double min, double max);

// One refresh of the pointer view.
struct PointerInput {
    double current = 0.0;  // display unit
    double lower = 0.0;    // power range of the panel
    double upper = 0.0;
    bool relative = false;  // relative mode on
    bool ratio = false;     // relative mode shows (current - reference) / reference
    double reference = 0.0;
    double dialMin = 0.0;  // dial range currently shown
    double dialMax = 0.0;
};
struct PointerOutput {
    double needle = 0.0;   // value given to the dial
    double dialMin = 0.0;  // dial range after this refresh
    double dialMax = 0.0;
    bool rangeChanged = false;
    bool overRange = false;  // needle pegged at dialMax, totals blanked
};
// Absolute mode: the dial takes the panel's range. Relative mode: the difference (or ratio)
// widens the dial symmetrically once it leaves the current dial range, never to less than
// (-1, 1); otherwise the range stays. With a reference of 0 the ratio is undefined and the
// plain difference is shown instead.
PointerOutput PointerStep(const PointerInput &in);

}  // namespace dial
