// The curve view: the selected meter's power over the time of day of the samples of the
// current statistics run, with the run's statistics beside it. DataWidget pushes the run's
// window in on every refresh while a run is going on.
#pragma once

#include "measurestore.h"

#include <QString>
#include <QVector>
#include <QWidget>

namespace Ui {
class CurveData;
}
class CAxisTicker;
class QCPGraph;
class QCustomPlot;

class CurveData : public QWidget {
    Q_OBJECT

public:
    explicit CurveData(QWidget *parent = nullptr);
    ~CurveData() override;

    void SetRunState(bool running);
    // `times` (s) and `values` (display unit) are the run's whole window, oldest first.
    // With `replaceAll` the graph shows exactly this window afterwards; only what changed
    // since the last call is handed to the plot when the window merely slid on.
    void UpdateData(const double &current, const StatBlock &stats, const QVector<double> &times,
                    const QVector<double> &values, const bool &replaceAll);
    void SetUnit(QString unit);

    QCustomPlot *Plot() const;
    QCPGraph *Graph() const { return graph; }
    int TickCount() const { return tickCount; }
    // Off: every update replaces the whole graph (the plain way, kept for the benchmark).
    void SetIncrementalUpdates(bool on) { incremental = on; }

signals:
    void SigShowSetting();
    void SigCurveControl(bool bChecked);
    void SigResetCurve();

private slots:
    void on_pbSave_clicked();
    void on_pbShrink_clicked();
    void on_pbRestoreY_clicked();
    void on_pbBoxSelect_clicked(bool checked);
    void on_pbReset_clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool SlideOn(const QVector<double> &times, const QVector<double> &values);
    void Replot();

    Ui::CurveData *ui;
    QCPGraph *graph = nullptr;
    int tickCount = 2;
    QString unit = QStringLiteral("nw");
    QSharedPointer<CAxisTicker> ticker;
    bool incremental = true;
    bool unitChanged = false;
};
