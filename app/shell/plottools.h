// The plot of the recorder and the viewer: power against clock time with a draggable value
// marker, box zoom and rescaling. Both pages set their plot up with SetUp and forward their
// plot slots and tool buttons here.
#pragma once

#include <QString>

class QCustomPlot;
class QCPGraph;
class QCPItemTracer;
class QCPItemText;
class QMouseEvent;

namespace plottools {

struct Plot {
    QCustomPlot *plot = nullptr;
    QCPGraph *graph = nullptr;
    QCPItemTracer *tracer = nullptr;
    QCPItemText *tracerLabel = nullptr;
};

// Dark plot, date-time key axis "M/d\nHH:mm:ss" (local time, 6 ticks), key range 0..60,
// value range 0..65535, value label "功率(<unit>)", one red graph, a hidden green dashed
// crosshair marker with its white label. Range dragging is the only interaction.
Plot SetUp(QCustomPlot *plot, const QString &unit);
void SetUnit(const Plot &p, const QString &unit);

// Checked: the marker at the middle of the visible ranges, shown; unchecked: hidden.
void Mark(const Plot &p, bool checked);
// A left press within 5 px of the marker takes it (dragging off); any other press drops it.
void MousePress(const Plot &p, QMouseEvent *event);
// While taken: the marker follows the mouse's key and shows the value of the point at or
// just before that key ('g' 6). Gap points (NaN) are passed over: the measured point
// before them, or the first one after when there is none before.
void MouseMove(const Plot &p, QMouseEvent *event);
void MouseRelease(const Plot &p, QMouseEvent *event);
// Checked: dragging off, the selection rectangle zooms; unchecked: dragging back on.
void BoxSelect(const Plot &p, bool checked);
void RescaleAll(const Plot &p);
void RescaleValue(const Plot &p);

// Sets an axis as QCPAxis::rescale would for data spanning [lower, upper] (a zero-width
// span keeps the current width around it), without going over the data.
void SetRangeLikeRescale(QCustomPlot *plot, bool keyAxis, double lower, double upper);

}  // namespace plottools
