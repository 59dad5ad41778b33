// The saved file viewer page: reads a measurement data file in a worker thread (with
// progress and a cancel button), shows its meter identity and plots its samples. Where the
// sample numbers jump (ticks the meter delivered nothing for) the line breaks: the plot
// holds one NaN point there (plotgaps.h).
//
// The unit box (cbViewUnit, "W" or "dBm") chooses the value axis. Opening a file sets it to
// the file's own kind (watts or dBm; blank for a file in dB, which is shown in dB); the
// file's values are kept as read and only the plot converts.
#pragma once

#include "plottools.h"
#include "qcustomplot.h"

#include <QString>
#include <QWidget>

#include <memory>

class QDragEnterEvent;
class QDropEvent;
class QMouseEvent;
class QTimer;
class QCPGraph;
class QCPItemTracer;
class QCPItemText;

namespace Ui {
class viewFileWidget;
}

class FileLoadJob;

class viewFileWidget : public QWidget {
    Q_OBJECT
public:
    explicit viewFileWidget(QWidget *parent = nullptr);
    ~viewFileWidget() override;

    // Runs the open-file dialog; opens the chosen file, if any.
    void OpenFileDialog();
    // Opens a data file and shows its header and samples. Reading runs in a worker thread;
    // the page changes once the whole file has been read (an unreadable or cancelled file
    // changes nothing). Does nothing for an empty path.
    void OpenFile(const QString &path);

    // For tests and the tour: whether a file is being read, and cancelling it.
    bool IsLoading() const;
    void CancelLoading();
    qint64 StartSeconds() const { return startSeconds; }
    // The token of the plotted values, and that of the file's own values.
    QString Unit() const { return unit; }
    QString FileUnit() const { return fileUnit; }

signals:
    // A file was read and shown (also for a file that gave no rows).
    void SigFileShown(const QString &path);
    // Reading ended without showing anything (cannot open, read error, cancelled).
    void SigFileNotShown(const QString &path);
    // A file that could not be read, or lines skipped, in words for the status line.
    void SigShowMessage(const QString &text);

public slots:
    void slot_plotMousePress(QMouseEvent *event);
    void slot_plotMouseMove(QMouseEvent *event);
    void slot_plotMouseRelease(QMouseEvent *event);
    void on_pushButton_openFile_clicked();
    void on_pushButton_mark_clicked(bool checked);
    void on_pushButton_autoScale_clicked();
    void on_pushButton_autoY_clicked();
    void on_pushButton_slectZoom_clicked(bool checked);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_pushButton_cancelLoad_clicked();
    void on_cbViewUnit_activated(int index);

private:
    void LoadFinished();
    void ShowProgress();
    // The file's points in the unit box's unit, with the value axis fitted to them.
    void ShowPoints();

    Ui::viewFileWidget *ui;
    plottools::Plot plot_;
    QCPGraph *graph = nullptr;
    QCPItemTracer *tracer = nullptr;
    QCPItemText *tracerLabel = nullptr;
    qint64 startSeconds = 0;
    QString unit;
    // The last file's points as read (with gap points), their unit, dB reference (0: none)
    // and value range.
    QVector<QCPGraphData> filePoints;
    QString fileUnit = QStringLiteral("nw");
    double fileRefNw = 0.0;
    double fileMin = 0.0, fileMax = 0.0;
    std::unique_ptr<FileLoadJob> job_;
    QTimer *progressTimer_ = nullptr;
};
