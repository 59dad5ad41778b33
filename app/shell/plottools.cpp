#include "plottools.h"

#include "plotstyle.h"
#include "qcustomplot.h"

#include <QMouseEvent>

#include <cmath>

namespace plottools {

Plot SetUp(QCustomPlot *plot, const QString &unit)
{
    Plot p;
    p.plot = plot;
    plot->setInteractions(QCP::iRangeDrag);
    plot->setSelectionRectMode(QCP::srmNone);
    plotstyle::DarkBackground(plot);
    // Millions of points: no antialiasing, adaptive sampling stays on (the default).
    plot->setNotAntialiasedElements(QCP::aeAll);
    plot->setNoAntialiasingOnDrag(true);

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat(QStringLiteral("M/d\nHH:mm:ss"));
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setTickCount(6);
    plot->xAxis->setTicker(ticker);
    plotstyle::CurveAxis(plot->xAxis);
    plotstyle::CurveAxis(plot->yAxis);
    plot->xAxis->grid()->setVisible(false);
    plot->xAxis->setRange(0, 60);
    plot->yAxis->setRange(0, 65535);

    p.graph = plot->addGraph();
    p.graph->setPen(QPen(Qt::red, 1));
    p.graph->setBrush(Qt::NoBrush);
    p.graph->setAdaptiveSampling(true);

    p.tracer = new QCPItemTracer(plot);
    p.tracer->setStyle(QCPItemTracer::tsCrosshair);
    QPen tracerPen(Qt::green, 1, Qt::DashLine);
    p.tracer->setPen(tracerPen);
    p.tracer->setSelectedPen(tracerPen);
    p.tracer->position->setType(QCPItemPosition::ptPlotCoords);
    p.tracer->setVisible(false);

    p.tracerLabel = new QCPItemText(plot);
    p.tracerLabel->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    p.tracerLabel->setText(QString());
    p.tracerLabel->setFont(QFont(QStringLiteral("Arial"), 14));
    p.tracerLabel->setColor(Qt::white);
    p.tracerLabel->setSelectedColor(Qt::white);
    p.tracerLabel->position->setParentAnchor(p.tracer->position);
    p.tracerLabel->position->setType(QCPItemPosition::ptAbsolute);
    p.tracerLabel->position->setCoords(4, 4);
    p.tracerLabel->setVisible(false);
    SetUnit(p, unit);
    return p;
}

void SetUnit(const Plot &p, const QString &unit)
{
    p.plot->yAxis->setLabel(QObject::tr("功率(%1)").arg(unit));
}

void Mark(const Plot &p, bool checked)
{
    if (checked) {
        p.tracer->position->setCoords(p.plot->xAxis->range().center(),
                                      p.plot->yAxis->range().center());
    }
    p.tracer->setVisible(checked);
    p.tracerLabel->setVisible(checked);
    p.plot->replot(QCustomPlot::rpQueuedReplot);
}

void MousePress(const Plot &p, QMouseEvent *event)
{
    double distance = -1;
    if (event->button() == Qt::LeftButton && p.tracer->visible()) {
        distance = p.tracer->selectTest(event->localPos(), false);
    }
    const bool take = distance >= 0 && distance < 5;
    p.tracer->setSelected(take);
    p.plot->setInteraction(QCP::iRangeDrag, !take);
}

void MouseMove(const Plot &p, QMouseEvent *event)
{
    if (!p.tracer->selected())
        return;
    const QSharedPointer<QCPGraphDataContainer> data = p.graph->data();
    if (data->isEmpty())
        return;
    const double key = p.plot->xAxis->pixelToCoord(event->localPos().x());
    // The point at the key or the nearest one before it; the first one before all points.
    // Gaps (NaN) are no points: the nearest measured one before, else the first after.
    auto it = data->findEnd(key, false);
    if (it != data->constBegin())
        --it;
    auto back = it;
    while (back != data->constBegin() && std::isnan(back->value))
        --back;
    if (std::isnan(back->value)) {
        while (it != data->constEnd() && std::isnan(it->value))
            ++it;
        if (it == data->constEnd())
            return;  // nothing but gaps
    } else {
        it = back;
    }
    p.tracer->position->setCoords(key, it->value);
    p.tracerLabel->setText(QStringLiteral("%1").arg(it->value, 0, 'g', 6));
    p.plot->replot(QCustomPlot::rpQueuedReplot);
}

void MouseRelease(const Plot &p, QMouseEvent *)
{
    p.tracer->setSelected(false);
    p.plot->setInteraction(QCP::iRangeDrag, true);
}

void BoxSelect(const Plot &p, bool checked)
{
    p.plot->setInteraction(QCP::iRangeDrag, !checked);
    p.plot->setSelectionRectMode(checked ? QCP::srmZoom : QCP::srmNone);
}

void RescaleAll(const Plot &p)
{
    p.plot->rescaleAxes();
    p.plot->replot(QCustomPlot::rpQueuedReplot);
}

void RescaleValue(const Plot &p)
{
    p.plot->yAxis->rescale();
    p.plot->replot(QCustomPlot::rpQueuedReplot);
}

void SetRangeLikeRescale(QCustomPlot *plot, bool keyAxis, double lower, double upper)
{
    QCPAxis *axis = keyAxis ? plot->xAxis : plot->yAxis;
    if (lower == upper) {
        const double half = axis->range().size() / 2.0;
        axis->setRange(lower - half, lower + half);
    } else {
        axis->setRange(lower, upper);
    }
}

}  // namespace plottools
