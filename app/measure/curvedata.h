// The curve view: the selected meter's power over the time of day of the samples of the
// current statistics run, with the run's statistics beside it. On every refresh while a
// run is going on, DataWidget reads the samples after the curve's cursor and the curve
// appends exactly those (UpdateRun), dropping what left the run's window.
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
    // `times` (s) and `values` (display unit), oldest first: with `replaceAll` the run's
    // whole window, which the graph then shows exactly; otherwise points to append.
    void UpdateData(const double &current, const StatBlock &stats, const QVector<double> &times,
                    const QVector<double> &values, const bool &replaceAll);
    // The linear unit token of the statistics' powers; the scale they and the graph's
    // values are shown in (the value axis reads "功率(dBm)" in dBm).
    void SetUnit(QString unit);
    void SetScale(const displayunit::Scale &scale);

    // What the graph holds of the run, for a read of what follows it in the numbers that
    // `key` names (displayunit::Scale::Key; a graph in other numbers holds nothing usable:
    // the next read is whole).
    WindowCursor Cursor(const QString &key) const;
    // A read after Cursor(): the whole window, or the new samples appended and the oldest
    // points dropped so that the graph holds the newest part.windowSize samples. `values`
    // are already in the numbers `key` names; `current` and `stats` in the linear unit.
    void UpdateRun(double current, const StatBlock &stats, const QVector<double> &times,
                   const QVector<double> &values, const WindowPart &part, const QString &key);

    QCustomPlot *Plot() const;
    QCPGraph *Graph() const { return graph; }
    int TickCount() const { return tickCount; }

signals:
    void SigShowSetting();
    void SigCurveControl(bool bChecked);
    void SigResetCurve();
    // A save that failed, in words for the status line.
    void SigShowMessage(const QString &text);

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
    void KeepNewest(int windowSize);
    void FitAndReplot();

    Ui::CurveData *ui;
    std::unique_ptr<runview::RunPanel> panel;
    QCPGraph *graph = nullptr;
    int tickCount = 2;
    QSharedPointer<CAxisTicker> ticker;
    WindowCursor held;  // the run and newest sample the graph holds (UpdateRun only)
    QString heldKey;    // the numbers of those points (Scale::Key)
};
