// The numeric view: the selected meter's power in large digits with its unit, and the
// running maximum, minimum and mean below. DataWidget pushes unit, range and values into it
// on every refresh while its page is visible, and the display scale (watts, dBm, dB).
#pragma once

#include "displayunit.h"

#include <QString>
#include <QWidget>

#include <limits>

namespace Ui {
class NumData;
}

class NumData : public QWidget {
    Q_OBJECT

public:
    explicit NumData(QWidget *parent = nullptr);
    ~NumData() override;

    // The linear unit token of the values and the range ("nw", "μW", "mw", "w").
    void SetUnit(QString unit);
    // How the values are shown; watts at start.
    void SetScale(const displayunit::Scale &scale);
    void SetRange(double lower, double upper);
    // stats: max, min, mean in the display unit. Above the full scale shows "无穷大".
    void UpdateData(const double &current, const double stats[3]);

signals:
    // pbFullScr clicked, with its new checked state.
    void signal_showFullScreen(bool checked);

private slots:
    void on_pbReset_clicked();

private:
    Ui::NumData *ui;
    double lower = 0.0;
    // Nothing is over range before the first range arrives.
    double upper = std::numeric_limits<double>::max();
    QString unit = QStringLiteral("nw");
    displayunit::Scale scale;
};
