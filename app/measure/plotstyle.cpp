#include "plotstyle.h"

#include <qcustomplot.h>

namespace plotstyle {

void DarkBackground(QCustomPlot *plot) { plot->setBackground(QBrush(kBackground)); }

void GreyAxis(QCPAxis *axis)
{
    const QPen pen(kAxis);
    axis->setBasePen(pen);
    axis->setTickPen(pen);
    axis->setSubTickPen(pen);
    axis->setTickLabelColor(kAxis);
    axis->setLabelColor(kAxis);
}

void CurveAxis(QCPAxis *axis)
{
    GreyAxis(axis);
    QFont font = axis->tickLabelFont();
    font.setPixelSize(kCurveTickLabelPx);
    axis->setTickLabelFont(font);
    axis->setSubTicks(false);
}

}  // namespace plotstyle
