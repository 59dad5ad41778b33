// The semicircular analogue dial of the pointer view: 91 ticks, an arc, ten scale numbers,
// a needle and the value as text. All lengths are laid out for a 500 px dial and scaled by
// min(width, height) / 500, except the needle hub, which keeps a 40 px radius.
#pragma once

#include <QString>
#include <QWidget>

class PointerDialWidget : public QWidget {
    Q_OBJECT

public:
    explicit PointerDialWidget(QWidget *parent = nullptr);

    void SetValue(double value);            // repaints
    void SetRange(double min, double max);  // repaints
    void SetUnit(QString unit);             // no repaint
    // The text under the needle instead of the value with 2 decimals and the unit (a
    // logarithmic value below its floor reads "<-60.00dBm"); empty: the value. No repaint.
    void SetValueText(QString text);
    QString ValueText() const;

    double Value() const { return value; }
    double Min() const { return min; }
    double Max() const { return max; }
    double DrawScale() const { return scale; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    double min = 0.0;
    double max = 250.0;
    double value = 122.9;
    double scale = 1.0;
    QString unit = QStringLiteral("nw");
    QString valueText;
};
