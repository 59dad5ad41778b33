// What the two views of a statistics run (the statistics view and the curve view) share:
// the control row, the eight value labels and their texts, the unit and display scale of
// the powers with the power axis's label, the statistics lines of a saved file, and the
// replot rule. Both forms give these widgets the same object names;
// RunPanel finds them there, so a view holds one RunPanel instead of its own copies.
#pragma once

#include "datafile.h"
#include "displayunit.h"
#include "measurestore.h"

#include <QPushButton>
#include <QString>

class QCPAxis;
class QCustomPlot;
class QLabel;
class QWidget;

namespace runview {

class RunPanel {
public:
    // `view` holds pbSet, pbRunStop and the eight value labels (lbCurVal .. lbTimeVal);
    // `plot` is the view's plot and `powerAxis` its axis of powers. All outlive the panel
    // (children of the view). The axis is labelled "功率(nw)" at once.
    RunPanel(QWidget *view, QCustomPlot *plot, QCPAxis *powerAxis);

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
    // The linear unit token of the powers handed in, and the scale they are shown in; the
    // power axis reads "功率(<shown token>)". Unchanged values change nothing.
    void SetUnit(const QString &unit);
    void SetScale(const displayunit::Scale &scale);
    const displayunit::Scale &Scale() const { return scale_; }
    double Factor() const;  // nanowatts per unit of the linear unit token
    // current, max, min, mean (given in the linear unit) in Scale() with 2 decimals and without unit;
    // the standard deviation as delivered (nW) and the ratio 'f' 2, the deviation followed
    // by "nw" in a logarithmic scale, where it keeps its linear meaning; the number of
    // window samples; the elapsed time "%1:%2:%3".
    void ShowNumbers(double current, const StatBlock &stats, int windowSamples) const;
    // The eight value labels emptied.
    void Clear() const;
    // The seven statistics texts of a saved file, as the labels show them, the shown unit
    // token of its values and, in dB, the reference.
    void FillStatistics(datafile::HeaderInfo *info) const;
    // A queued replot while the view is visible; a hidden view is painted when shown.
    void Replot() const;
    // For the view's showEvent: the picture it missed while hidden.
    void ReplotNow() const;

private:
    void ShowAxisLabel() const;

    QWidget *view_;
    QCustomPlot *plot_;
    QCPAxis *powerAxis_;
    QString unit_ = QStringLiteral("nw");
    displayunit::Scale scale_;
    QPushButton *settings_;
    QPushButton *runStop_;
    QLabel *cur_, *max_, *min_, *mean_, *stdDev_, *ratio_, *samples_, *elapsed_;
};

// Meter and probe identity, wavelength and averaging of meter `devId` for a file header
// (devName .. average of `info`). Without a record the four texts are empty and both
// numbers 0.
void FillIdentity(int devId, datafile::HeaderInfo *info);

}  // namespace runview
