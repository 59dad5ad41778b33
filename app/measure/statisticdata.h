// The statistics view: the numbers of the selected meter's statistics run and a bar chart
// of its 10-bin histogram. The run lives in the meter's record; DataWidget pushes it in on
// every refresh while a run is going on.
#pragma once

#include "displayunit.h"
#include "measurestore.h"

#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

namespace runview {
class RunPanel;
}

namespace Ui {
class StatisticData;
}
class QCPBars;
class QCustomPlot;
class QPushButton;

class StatisticData : public QWidget {
    Q_OBJECT

public:
    explicit StatisticData(QWidget *parent = nullptr);
    ~StatisticData() override;

    // Checks or unchecks pbRunStop without a click.
    void SetRunState(bool running);
    // Only the number of `values` is used; `times` and `replaceAll` are for the curve view.
    void UpdateData(const double &current, const StatBlock &block, const QVector<double> &times,
                    const QVector<double> &values, const bool &replaceAll);
    // The same for a window of `windowSamples` samples, without a copy of it.
    void UpdateRun(double current, const StatBlock &block, int windowSamples);
    // The linear unit token of the block's powers, and the scale they are shown in (the
    // histogram's edge labels too; its bars keep their linear geometry).
    void SetUnit(QString unit);
    void SetScale(const displayunit::Scale &scale);

    QCustomPlot *Plot() const;
    QCPBars *Bars() const { return bars; }

signals:
    void SigShowSetting();
    void SigCurveControl(bool bChecked);
    void SigResetCurve();
    // A save that failed, in words for the status line.
    void SigShowMessage(const QString &text);

private slots:
    void on_pbSave_clicked();
    void on_pbReset_clicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::StatisticData *ui;
    std::unique_ptr<runview::RunPanel> panel;
    StatBlock stats;
    QCPBars *bars = nullptr;
};
