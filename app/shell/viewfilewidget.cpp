#include "viewfilewidget.h"

#include "appfolders.h"
#include "datafile.h"
#include "displayunit.h"
#include "plotgaps.h"
#include "ui_viewfilewidget.h"

#include "qcustomplot.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

// Reads one file off the GUI thread straight into the plot's own point type, so that
// handing the result over costs nothing (the graph shares the vector).
class FileLoadJob : public QThread {
public:
    FileLoadJob(const QString &path, qint64 start) : path_(path), start_(start) {}

    void run() override
    {
        const qint64 size = QFileInfo(path_).size();
        points.reserve(int(std::min<qint64>(size / 20, 50000000)));
        outcome = datafile::ReadDataFile(
            path_, start_, [this](double k, double v) { points.append(QCPGraphData(k, v)); },
            [this](qint64 done, qint64 total) {
                done_.store(done, std::memory_order_relaxed);
                total_.store(total, std::memory_order_relaxed);
                return !cancel_.load(std::memory_order_relaxed);
            });
        if (outcome.status != datafile::ReadStatus::Ok)
            return;
        // The plot wants ascending keys; appended runs restart their numbers.
        const auto byKey = [](const QCPGraphData &a, const QCPGraphData &b) {
            return a.key < b.key;
        };
        if (!std::is_sorted(points.begin(), points.end(), byKey)) {
            std::stable_sort(points.begin(), points.end(), byKey);
        }
        for (const QCPGraphData &p : points) {
            minValue = std::min(minValue, p.value);
            maxValue = std::max(maxValue, p.value);
        }
        // After the ranges: the breaks carry no number.
        plotgaps::InsertGaps(points);
    }

    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
    int Percent() const
    {
        const qint64 total = total_.load(std::memory_order_relaxed);
        return total > 0 ? int(done_.load(std::memory_order_relaxed) * 100 / total) : 0;
    }
    const QString &Path() const { return path_; }

    // Read by the GUI thread only after wait().
    datafile::ReadOutcome outcome;
    QVector<QCPGraphData> points;
    double minValue = std::numeric_limits<double>::infinity();
    double maxValue = -std::numeric_limits<double>::infinity();

private:
    const QString path_;
    const qint64 start_;
    std::atomic<bool> cancel_{false};
    std::atomic<qint64> done_{0};
    std::atomic<qint64> total_{0};
};

viewFileWidget::viewFileWidget(QWidget *parent) : QWidget(parent), ui(new Ui::viewFileWidget)
{
    ui->setupUi(this);
    ui->widget_info->setAttribute(Qt::WA_StyledBackground);
    ui->widget_dataContent->setAttribute(Qt::WA_StyledBackground);
    unit = QStringLiteral("nw");
    for (QLineEdit *e :
         {ui->lineEdit_meterModel, ui->lineEdit_meterSerial, ui->lineEdit_dectorModel,
          ui->lineEdit_dectorSerial, ui->lineEdit_wavelength, ui->lineEdit_averageTime}) {
        e->setEnabled(false);
    }
    setAcceptDrops(true);
    plot_ = plottools::SetUp(ui->widget_plot, unit);
    graph = plot_.graph;
    tracer = plot_.tracer;
    tracerLabel = plot_.tracerLabel;
    connect(ui->widget_plot, &QCustomPlot::mousePress, this, &viewFileWidget::slot_plotMousePress);
    connect(ui->widget_plot, &QCustomPlot::mouseMove, this, &viewFileWidget::slot_plotMouseMove);
    connect(ui->widget_plot, &QCustomPlot::mouseRelease, this,
            &viewFileWidget::slot_plotMouseRelease);
    ui->widget_loading->hide();
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(50);
    connect(progressTimer_, &QTimer::timeout, this, &viewFileWidget::ShowProgress);
}

viewFileWidget::~viewFileWidget()
{
    if (job_) {
        job_->Cancel();
        job_->wait();
    }
    delete ui;
}

void viewFileWidget::OpenFileDialog() { on_pushButton_openFile_clicked(); }

void viewFileWidget::on_pushButton_openFile_clicked()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open File"), appfolders::DataFolder() + QLatin1Char('/'), tr("data (*.csv)"));
    if (!path.isEmpty())
        OpenFile(path);
}

bool viewFileWidget::IsLoading() const { return job_ != nullptr; }

void viewFileWidget::CancelLoading()
{
    if (job_)
        job_->Cancel();
}

void viewFileWidget::on_pushButton_cancelLoad_clicked() { CancelLoading(); }

void viewFileWidget::OpenFile(const QString &path)
{
    if (path.isEmpty())
        return;
    if (job_) {
        // A newer choice replaces a file still being read.
        disconnect(job_.get(), nullptr, this, nullptr);
        job_->Cancel();
        job_->wait();
        const QString old = job_->Path();
        job_.reset();
        emit SigFileNotShown(old);
    }
    job_ = std::make_unique<FileLoadJob>(path, startSeconds);
    connect(job_.get(), &QThread::finished, this, &viewFileWidget::LoadFinished,
            Qt::QueuedConnection);
    ui->progressBar_load->setValue(0);
    ui->widget_loading->show();
    progressTimer_->start();
    job_->start();
}

void viewFileWidget::ShowProgress()
{
    if (job_)
        ui->progressBar_load->setValue(job_->Percent());
}

void viewFileWidget::LoadFinished()
{
    if (!job_)
        return;
    job_->wait();  // the thread's writes are complete and visible from here on
    std::unique_ptr<FileLoadJob> job = std::move(job_);
    progressTimer_->stop();
    ui->widget_loading->hide();
    const datafile::ReadOutcome &out = job->outcome;
    if (out.status != datafile::ReadStatus::Ok) {
        if (out.status == datafile::ReadStatus::ReadError) {
            emit SigShowMessage(tr("无法读取文件%1：%2").arg(job->Path(), out.error));
        }
        emit SigFileNotShown(job->Path());
        return;
    }
    const datafile::ReadHeader &h = out.header;
    if (h.meterModel)
        ui->lineEdit_meterModel->setText(*h.meterModel);
    if (h.meterSerial)
        ui->lineEdit_meterSerial->setText(*h.meterSerial);
    if (h.probeModel)
        ui->lineEdit_dectorModel->setText(*h.probeModel);
    if (h.probeSerial)
        ui->lineEdit_dectorSerial->setText(*h.probeSerial);
    if (h.waveLength)
        ui->lineEdit_wavelength->setText(*h.waveLength);
    if (h.averageCount)
        ui->lineEdit_averageTime->setText(*h.averageCount);
    if (h.startSeconds)
        startSeconds = *h.startSeconds;
    if (h.unit)
        fileUnit = *h.unit;
    // A reference belongs to the file that has it.
    fileRefNw = h.referenceNw.value_or(0.0);
    filePoints = std::move(job->points);
    fileMin = job->minValue;
    fileMax = job->maxValue;
    {
        const QSignalBlocker block(ui->cbViewUnit);
        const int kind = fileUnit == QLatin1String("dB")  ? -1
                       : fileUnit == QLatin1String("dBm") ? 1
                                                          : 0;
        ui->cbViewUnit->setCurrentIndex(kind);
    }
    ShowPoints();
    if (!filePoints.isEmpty()) {
        plottools::SetRangeLikeRescale(ui->widget_plot, true, filePoints.constFirst().key,
                                       filePoints.constLast().key);
    }
    if (out.skippedLines > 0) {
        emit SigShowMessage(
            tr("文件%1中有%2行过长，已跳过").arg(job->Path()).arg(out.skippedLines));
    }
    emit SigFileShown(job->Path());
}

void viewFileWidget::on_cbViewUnit_activated(int) { ShowPoints(); }

void viewFileWidget::ShowPoints()
{
    const int index = ui->cbViewUnit->currentIndex();
    const displayunit::FileScale scale =
        index < 0
            ? displayunit::FileScale()
            : displayunit::FileScale(fileUnit, fileRefNw,
                                     index == 1 ? displayunit::Kind::Dbm : displayunit::Kind::Watt,
                                     fileMax);
    const bool asRead = index < 0 || scale.AsRead();
    if (asRead) {
        unit = fileUnit;
        graph->data()->set(filePoints, true);  // shares the vector: no copy
    } else {
        unit = scale.Token();
        QVector<QCPGraphData> shown(filePoints);
        for (QCPGraphData &p : shown)
            p.value = scale.Apply(p.value);
        graph->data()->set(shown, true);
    }
    plottools::SetUnit(plot_, unit);
    if (!filePoints.isEmpty()) {
        // Every conversion keeps the order of powers: the ends stay the ends.
        plottools::SetRangeLikeRescale(ui->widget_plot, false,
                                       asRead ? fileMin : scale.Apply(fileMin),
                                       asRead ? fileMax : scale.Apply(fileMax));
    }
    ui->widget_plot->replot(QCustomPlot::rpQueuedReplot);
}

void viewFileWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void viewFileWidget::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (!mime->hasUrls() || mime->urls().isEmpty())
        return;
    const QString path = mime->urls().constFirst().toLocalFile();
    if (!path.isEmpty())
        OpenFile(path);
}

void viewFileWidget::slot_plotMousePress(QMouseEvent *event)
{
    plottools::MousePress(plot_, event);
}
void viewFileWidget::slot_plotMouseMove(QMouseEvent *event) { plottools::MouseMove(plot_, event); }
void viewFileWidget::slot_plotMouseRelease(QMouseEvent *event)
{
    plottools::MouseRelease(plot_, event);
}
void viewFileWidget::on_pushButton_mark_clicked(bool checked) { plottools::Mark(plot_, checked); }
void viewFileWidget::on_pushButton_autoScale_clicked() { plottools::RescaleAll(plot_); }
void viewFileWidget::on_pushButton_autoY_clicked() { plottools::RescaleValue(plot_); }
void viewFileWidget::on_pushButton_slectZoom_clicked(bool checked)
{
    plottools::BoxSelect(plot_, checked);
}
