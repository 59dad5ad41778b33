// The pointer view: the dial, the relative mode ("相对功率") with its optional ratio
// display, and the running maximum, minimum and mean. DataWidget pushes unit, values and
// range into it on every refresh while its page is visible.
//
// In dBm or dB the dial spans 45 dB below the range's full scale (rounded up to a multiple
// of 5) and the relative mode shows the difference in dB on a dial from -9 to 9 dB that
// widens as the difference grows; the ratio display is for watts only. A change of display scale ends the relative mode: its reference was taken in the
// old one.
#pragma once

#include "displayunit.h"

#include <QString>
#include <QWidget>

namespace Ui {
class PointerData;
}
class PointerDialWidget;

class PointerData : public QWidget {
    Q_OBJECT

public:
    explicit PointerData(QWidget *parent = nullptr);
    ~PointerData() override;

    // The linear unit token of the values and the range.
    void SetUnit(QString unit);
    void SetScale(const displayunit::Scale &scale);
    // totals: max, min, mean; all in the display unit; (lower, upper) the power range.
    void UpdateData(const double &current, const double totals[3], double lower, double upper);

    PointerDialWidget *Dial() const;

private slots:
    void on_pbRela_clicked(bool checked);
    void on_pbReset_clicked();

private:
    Ui::PointerData *ui;
    double dialMin = 0.0;
    double dialMax = 0.0;
    QString unit = QStringLiteral("nw");
    bool relative = false;
    double reference = 0.0;
    double lastValue = 0.0;
    displayunit::Scale scale;
    // The first dial of the relative mode in dBm or dB: -9 to 9 dB, numbers 2 dB apart.
    static constexpr double kLogRelativeSpan = 9.0;
};
