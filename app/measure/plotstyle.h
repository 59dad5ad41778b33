// The one dark style of every plot in the application (curve, histogram, recorder,
// viewer), so that a change of colour or font lands in one place.
#pragma once

#include <QColor>

class QCPAxis;
class QCustomPlot;

namespace plotstyle {

const QColor kBackground(29, 30, 34);  // the panels' colour
const QColor kAxis(180, 180, 180);     // axis lines, ticks and every axis text
constexpr int kCurveTickLabelPx = 14;

// Plot background in kBackground.
void DarkBackground(QCustomPlot *plot);
// Axis line, ticks, sub-ticks, tick labels and axis label in kAxis; font and sub-ticks as
// they are (the histogram's power axis keeps its sub-ticks between the bin edges).
void GreyAxis(QCPAxis *axis);
// GreyAxis, tick labels kCurveTickLabelPx pixels high and no sub-ticks: the time and
// value axes of every power curve.
void CurveAxis(QCPAxis *axis);

}  // namespace plotstyle
