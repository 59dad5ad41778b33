// The settings popup of a statistics run: how the run's window is limited, by a number of
// samples ("采样数量") or by a time in seconds ("采样时间"). A frameless top-level window;
// confirmed values live as long as the measurement page. Cancelling or clicking elsewhere
// puts the controls back to the confirmed values.
#pragma once

#include <QWidget>

namespace Ui {
class DataSetting;
}

class DataSetting : public QWidget {
    Q_OBJECT

public:
    explicit DataSetting(QWidget *parent = nullptr);
    ~DataSetting() override;

    // Time mode: (-1, seconds); sample mode: (count, -1).
    void GetLimits(int &sampleCount, int &seconds) const;

public slots:
    void Confirm();
    void Cancel();

protected:
    bool event(QEvent *event) override;

private:
    void Restore();

    Ui::DataSetting *ui;
    int sampleCount = 100;
    int sampleTime = 100;
    bool timeMode = true;
};
