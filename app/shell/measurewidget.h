// The measurement recorder page: samples the selected meter every 100 ms, plots the
// samples against clock time and writes them to recording files (recorder.h holds the
// file logic; this page only translates between it and the screen).
#pragma once

#include "plottools.h"
#include "recorder.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <memory>

class QMouseEvent;
class QTimer;
class QCPGraph;
class QCPItemTracer;
class QCPItemText;

namespace Ui {
class MeasureWidget;
}

class MeasureWidget : public QWidget {
    Q_OBJECT
public:
    // `source` and `sink` replace the meter and the disk (tests, benchmarks); null: the
    // real ones.
    explicit MeasureWidget(QWidget *parent = nullptr);
    MeasureWidget(std::unique_ptr<recorder::Source> source, std::unique_ptr<recorder::Sink> sink,
                  QWidget *parent = nullptr);
    ~MeasureWidget() override;

    // The plot's point budget: beyond it the older points are thinned (the file keeps all).
    static constexpr int kPlotPointCap = 2000000;

    const recorder::Recorder &Core() const { return *core_; }
    bool Recording() const { return core_->Running(); }
    QTimer *SampleTimer() const { return sampleTimer; }

signals:
    // Rows not being written and their recovery, the meter's delivery stopping and coming
    // back, the run's end: in words for the status line.
    void SigShowMessage(const QString &text);

public slots:
    void slot_UpdateData();
    void plot_mousePress(QMouseEvent *event);
    void plot_mouseMove(QMouseEvent *event);
    void plot_mouseRelease(QMouseEvent *event);
    void on_pbSetRun_clicked(bool checked);
    void on_pbSelectDir_clicked();
    void on_pbShrink_clicked();
    void on_pbRestoreY_clicked();
    void on_pbMark_clicked(bool checked);
    void on_pbBoxSelect_clicked(bool checked);
    void on_cbFileMode_currentIndexChanged(int index);

private:
    void Init();
    recorder::Settings CurrentSettings() const;
    void LockSettings(bool locked);
    void EndRun(bool byCondition);
    void ReportWrites();
    void ReportDelivery(const recorder::Sample &s);
    void RescaleToData();

    Ui::MeasureWidget *ui;
    std::unique_ptr<recorder::Source> source_;
    std::unique_ptr<recorder::Sink> sink_;
    std::unique_ptr<recorder::Recorder> core_;
    plottools::Plot plot_;
    QCPGraph *graph = nullptr;
    QCPItemTracer *tracer = nullptr;
    QCPItemText *tracerLabel = nullptr;
    QString unit;
    QTimer *sampleTimer = nullptr;
    QElapsedTimer runClock;
    bool reportedFailure_ = false;
    // Bounds of the run's data, kept as points come so that the tick's rescale costs O(1).
    double minValue_ = 0, maxValue_ = 0;
    bool haveBounds_ = false;  // a measured point is in the graph
};
