// What the two views of a statistics run (the statistics view and the curve view) share:
// the control row, the eight value labels and their texts, the statistics lines of a
// saved file, and the replot rule. Both forms give these widgets the same object names;
// RunPanel finds them there, so a view holds one RunPanel instead of its own copies.
#pragma once

#include "datafile.h"
#include "displayunit.h"
#include "measurestore.h"

#include <QPushButton>
#include <QString>

class QCustomPlot;
class QLabel;
class QWidget;

namespace runview {

class RunPanel {
public:
    // `view` holds pbSet, pbRunStop and the eight value labels (lbCurVal .. lbTimeVal);
    // `plot` is the view's plot. Both outlive the panel (children of the view).
    RunPanel(QWidget *view, QCustomPlot *plot);

    // pbSet's click as the view's SigShowSetting(), pbRunStop's as its
    // SigCurveControl(bool).
    template <class View>
    void ConnectControls(View *view) const
    {
        QObject::connect(settings_, &QPushButton::clicked, view, &View::SigShowSetting);
        QObject::connect(runStop_, &QPushButton::clicked, view, &View::SigCurveControl);
    }

    // Checks or unchecks pbRunStop without a click, only when its state differs.
    void SetRunState(bool running) const;
    // current, max, min, mean (given in `unit`) in `scale` with 2 decimals and without unit;
    // the standard deviation as delivered (nW) and the ratio 'f' 2, the deviation followed
    // by "nw" in a logarithmic scale, where it keeps its linear meaning; the number of
    // window samples; the elapsed time "%1:%2:%3".
    void ShowNumbers(double current, const StatBlock &stats, int windowSamples,
                     const displayunit::Scale &scale, const QString &unit) const;
    // The eight value labels emptied.
    void Clear() const;
    // The seven statistics texts of a saved file, as the labels show them, the unit token
    // of its values and, in dB, the reference.
    void FillStatistics(const displayunit::Scale &scale, const QString &unit,
                        datafile::HeaderInfo *info) const;
    // A queued replot while the view is visible; a hidden view is painted when shown.
    void Replot() const;
    // For the view's showEvent: the picture it missed while hidden.
    void ReplotNow() const;

private:
    QWidget *view_;
    QCustomPlot *plot_;
    QPushButton *settings_;
    QPushButton *runStop_;
    QLabel *cur_, *max_, *min_, *mean_, *stdDev_, *ratio_, *samples_, *elapsed_;
};

// Meter and probe identity, wavelength and averaging of meter `devId` for a file header
// (devName .. average of `info`). Without a record the four texts are empty and both
// numbers 0.
void FillIdentity(int devId, datafile::HeaderInfo *info);

}  // namespace runview
