#include "pointerdialwidget.h"

#include "dialscale.h"
#include "measureformat.h"

#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QResizeEvent>

#include <cmath>

PointerDialWidget::PointerDialWidget(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("PointerDialWidget"));
    setWindowTitle(tr("模拟仪表盘"));
    resize(800, 480);
    scale = dial::ScaleFor(width(), height());
}

void PointerDialWidget::SetValue(double v)
{
    if (v == value)
        return;
    value = v;
    update();
}

void PointerDialWidget::SetRange(double lo, double hi)
{
    if (lo == min && hi == max)
        return;
    min = lo;
    max = hi;
    update();
}

void PointerDialWidget::SetUnit(QString u) { unit = std::move(u); }

void PointerDialWidget::SetValueText(QString text) { valueText = std::move(text); }

QString PointerDialWidget::ValueText() const
{
    return valueText.isEmpty() ? measurefmt::Power(value, unit) : valueText;
}

void PointerDialWidget::resizeEvent(QResizeEvent *event)
{
    scale = dial::ScaleFor(event->size().width(), event->size().height());
    QWidget::resizeEvent(event);
}

void PointerDialWidget::paintEvent(QPaintEvent *)
{
    const double s = scale;
    auto L = [s](double length) { return static_cast<int>(length * s); };

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(0.5 * width(), 0.7 * height());

    // Background artwork (the decoded image is cached by path).
    QPixmap background;
    static const QString kBackground = QStringLiteral(":/pointer/PointerDial/interBackground.png");
    if (!QPixmapCache::find(kBackground, &background)) {
        background.load(kBackground);
        QPixmapCache::insert(kBackground, background);
    }
    if (!background.isNull())
        painter.drawPixmap(QRectF(-225 * s, -225 * s, 450 * s, 250 * s), background,
                           QRectF(background.rect()));

    // Ticks: 0 degrees at the left end, turning clockwise over the top.
    painter.setPen(QPen(Qt::gray, 2));
    for (int a = 0; a <= 180; a += 2) {
        painter.save();
        painter.rotate(a);
        painter.drawLine(QPoint(-L(200), 0), QPoint(-L(dial::TickLength(a)), 0));
        painter.restore();
    }

    // Arc over the upper half.
    painter.setPen(QPen(Qt::darkGray, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRect(-L(200), -L(200), L(400), L(400)), 0, 180 * 16);

    // Scale numbers.
    painter.setPen(QColor(200, 200, 200));
    QFont numberFont = painter.font();
    numberFont.setPixelSize(qMax(1, L(20)));
    painter.setFont(numberFont);
    dial::ScaleLabel labels[10];
    dial::ScaleLabels(min, max, s, labels);
    for (const dial::ScaleLabel &label : labels) {
        painter.save();
        painter.translate(label.pos);
        painter.rotate(label.rotation);
        painter.drawText(QRect(-50, -30, 100, 40), Qt::AlignCenter, label.text);
        painter.restore();
    }

    // Needle and hub.
    painter.save();
    const QColor needleColor(195, 66, 60);
    painter.setPen(needleColor);
    painter.setBrush(needleColor);
    painter.rotate(dial::NeedleAngle(value, min, max));
    const QPoint needle[4] = {QPoint(0, L(15)), QPoint(-L(10), 0), QPoint(0, -L(195)),
                              QPoint(L(10), 0)};
    painter.drawPolygon(needle, 4, Qt::OddEvenFill);
    painter.restore();
    painter.setPen(needleColor);
    painter.setBrush(QColor(220, 66, 60));
    painter.drawEllipse(QPointF(0, 0), 40, 40);

    // Value text.
    painter.setPen(QColor(200, 200, 200));
    QFont valueFont(QStringLiteral("Times"));
    valueFont.setBold(true);
    valueFont.setPixelSize(qMax(1, L(50)));
    painter.setFont(valueFont);
    // Not clipped to its box: a long value ("-1234.56μW") stays readable.
    painter.drawText(QRect(L(-100), L(30), L(200), L(60)), Qt::AlignCenter | Qt::TextDontClip,
                     ValueText());
}
