#include "measurewidget.h"

#include "appfolders.h"
#include "devmanage.h"
#include "metersource.h"
#include "plotthin.h"
#include "ui_measurewidget.h"

#include "qcustomplot.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>

MeasureWidget::MeasureWidget(QWidget *parent)
    : MeasureWidget(std::make_unique<MeterSource>(), std::make_unique<recorder::DiskSink>(), parent)
{
}

MeasureWidget::MeasureWidget(std::unique_ptr<recorder::Source> source,
                             std::unique_ptr<recorder::Sink> sink, QWidget *parent)
    : QWidget(parent), ui(new Ui::MeasureWidget), source_(std::move(source)), sink_(std::move(sink))
{
    core_ = std::make_unique<recorder::Recorder>(*source_, *sink_);
    Init();
}

MeasureWidget::~MeasureWidget()
{
    // Closing the window during a run: what is pending still goes to the file.
    if (core_->Running() || core_->Pending() > 0)
        core_->Stop();
    delete ui;
}

void MeasureWidget::Init()
{
    ui->setupUi(this);
    for (QWidget *w : {static_cast<QWidget *>(ui->wgSetting), static_cast<QWidget *>(ui->wgData),
                       static_cast<QWidget *>(ui->wgCtrl)}) {
        w->setAttribute(Qt::WA_StyledBackground);
    }
    unit = QStringLiteral("nw");
    plot_ = plottools::SetUp(ui->wgCurve, unit);
    graph = plot_.graph;
    tracer = plot_.tracer;
    tracerLabel = plot_.tracerLabel;
    connect(ui->wgCurve, &QCustomPlot::mousePress, this, &MeasureWidget::plot_mousePress);
    connect(ui->wgCurve, &QCustomPlot::mouseMove, this, &MeasureWidget::plot_mouseMove);
    connect(ui->wgCurve, &QCustomPlot::mouseRelease, this, &MeasureWidget::plot_mouseRelease);
    ui->leDir->setText(appfolders::DataFolder());
    sampleTimer = new QTimer(this);
    sampleTimer->setInterval(100);
    connect(sampleTimer, &QTimer::timeout, this, &MeasureWidget::slot_UpdateData);
}

recorder::Settings MeasureWidget::CurrentSettings() const
{
    recorder::Settings s;
    s.mode = ui->cbFileMode->currentIndex() == 0 ? recorder::FileMode::Single
                                                 : recorder::FileMode::Multiple;
    s.dir = ui->leDir->text();
    s.name = ui->leFileName->text().isEmpty() ? ui->leFileName->placeholderText()
                                              : ui->leFileName->text();
    if (ui->rbAutoMemoryStop->isChecked()) {
        s.stop = recorder::StopCondition::Storage;
    } else if (ui->rbTimeStop->isChecked()) {
        s.stop = recorder::StopCondition::Duration;
    } else if (ui->rbSampleCountStop->isChecked()) {
        s.stop = recorder::StopCondition::SampleCount;
    } else {
        s.stop = recorder::StopCondition::Manual;
    }
    s.storageBytes = recorder::StorageBytes(ui->sbMemorySize->value());
    s.durationMs = recorder::DurationMs(ui->sbElapseDay->value(), ui->sbElapseHour->value(),
                                        ui->sbElapseMin->value(), ui->sbElapseSec->value());
    s.sampleCount = ui->sbSampleCount->value();
    return s;
}

void MeasureWidget::LockSettings(bool locked)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->cbFileMode, ui->leDir, ui->pbSelectDir, ui->leFileName, ui->rbAutoMemoryStop,
             ui->rbTimeStop, ui->rbSampleCountStop, ui->rbManualStop, ui->sbMemorySize,
             ui->sbElapseDay, ui->sbElapseHour, ui->sbElapseMin, ui->sbElapseSec,
             ui->sbSampleCount}) {
        w->setEnabled(!locked);
    }
}

void MeasureWidget::slot_UpdateData()
{
    if (!core_->Running())
        return;
    recorder::TickEnd end = recorder::TickEnd::Running;
    const recorder::Sample s = core_->Tick(&end);

    QSharedPointer<QCPGraphDataContainer> points = graph->data();
    if (s.measured) {
        if (!haveBounds_) {
            minValue_ = maxValue_ = s.value;
            haveBounds_ = true;
        } else {
            minValue_ = std::min(minValue_, s.value);
            maxValue_ = std::max(maxValue_, s.value);
        }
        graph->addData(s.key, s.value);
    } else if (s.delivery == recorder::Sample::Delivery::Stopped && !points->isEmpty()) {
        graph->addData(s.key, s.value);  // one NaN point: the line breaks over the gap
    }
    if (points->size() > kPlotPointCap) {
        QVector<QCPGraphData> copy(points->constBegin(), points->constEnd());
        plotthin::HalveEnvelope(copy, 1000);
        points->set(copy, true);
    }
    RescaleToData();
    ui->wgCurve->replot(QCustomPlot::rpQueuedReplot);
    ReportDelivery(s);
    ReportWrites();
    if (end != recorder::TickEnd::Running)
        EndRun(true);
}

void MeasureWidget::ReportDelivery(const recorder::Sample &s)
{
    const QString at =
        QDateTime::fromMSecsSinceEpoch(qint64(s.key * 1000.0)).toString(QStringLiteral("HH:mm:ss"));
    if (s.delivery == recorder::Sample::Delivery::Stopped) {
        emit SigShowMessage(
            tr("%1 设备没有传送数据，从第%2个采样点起不写入记录").arg(at).arg(s.number));
    } else if (s.delivery == recorder::Sample::Delivery::Resumed) {
        emit SigShowMessage(tr("%1 设备恢复传送数据，%2个采样点没有样本").arg(at).arg(s.gapTicks));
    }
}

// The same ranges rescaleAxes would give, from the bounds kept per point instead of a pass
// over every point (keys only grow: first and last point).
void MeasureWidget::RescaleToData()
{
    QSharedPointer<QCPGraphDataContainer> points = graph->data();
    if (points->isEmpty() || !haveBounds_)
        return;
    plottools::SetRangeLikeRescale(ui->wgCurve, true, points->constBegin()->key,
                                   (points->constEnd() - 1)->key);
    plottools::SetRangeLikeRescale(ui->wgCurve, false, minValue_, maxValue_);
}

void MeasureWidget::ReportWrites()
{
    if (core_->WriteFailing()) {
        emit SigShowMessage(tr("测量数据未保存（%1个样本待写入）：%2")
                                .arg(core_->Pending())
                                .arg(core_->LastError()));
        reportedFailure_ = true;
    } else if (reportedFailure_ && core_->Pending() < recorder::kWriteEvery) {
        emit SigShowMessage(
            tr("测量数据已重新写入文件%1").arg(QDir::toNativeSeparators(core_->LastPath())));
        reportedFailure_ = false;
    }
}

void MeasureWidget::EndRun(bool byCondition)
{
    if (byCondition) {
        QSignalBlocker block(ui->pbSetRun);
        ui->pbSetRun->setChecked(false);
    } else {
        core_->Stop();
    }
    ui->pbSetRun->setText(tr("开始"));
    sampleTimer->stop();
    LockSettings(false);
    emit SigShowMessage(tr("测量结束：%1行已写入，%2个采样点没有样本")
                            .arg(core_->Written())
                            .arg(core_->MissedTicks()));
    // A write that failed at the end outweighs the summary.
    ReportWrites();
}

void MeasureWidget::plot_mousePress(QMouseEvent *event) { plottools::MousePress(plot_, event); }
void MeasureWidget::plot_mouseMove(QMouseEvent *event) { plottools::MouseMove(plot_, event); }
void MeasureWidget::plot_mouseRelease(QMouseEvent *event) { plottools::MouseRelease(plot_, event); }

void MeasureWidget::on_pbSetRun_clicked(bool checked)
{
    // A stop always ends the run, whatever became of its meter or the selection.
    if (!checked) {
        if (core_->Running())
            EndRun(false);
        else
            ui->pbSetRun->setText(tr("开始"));
        return;
    }
    // Any id from 0 up is a meter; only a negative one means none.
    if (DevManage::Instance()->GetSelDev() < 0) {
        ui->pbSetRun->setChecked(false);
        emit SigShowMessage(tr("请先连接并选择一台设备"));
        return;
    }
    const QString target = recorder::TargetPath(ui->leDir->text(), ui->leFileName->text());
    const QFileInfo info(target);
    if (info.exists()) {
        QMessageBox box;
        box.setText(tr("文件%1已存在").arg(info.absoluteFilePath()));
        box.setInformativeText(tr("您要覆盖文件吗?"));
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        if (box.exec() != QMessageBox::Yes) {
            ui->pbSetRun->setChecked(false);
            return;
        }
        QFile::remove(target);  // a folder stays; the run then writes into it or reports why not
    }
    reportedFailure_ = false;
    if (!core_->Start(CurrentSettings())) {  // the meter went while the question was open
        ui->pbSetRun->setChecked(false);
        emit SigShowMessage(tr("请先连接并选择一台设备"));
        return;
    }
    ui->pbSetRun->setText(tr("停止"));
    unit = QStringLiteral("nw");
    plottools::SetUnit(plot_, unit);
    graph->data()->clear();
    minValue_ = maxValue_ = 0;
    haveBounds_ = false;
    sampleTimer->start();
    runClock.start();
    LockSettings(true);
}

void MeasureWidget::on_pbSelectDir_clicked()
{
    const QString dir = QFileDialog::getExistingDirectory(
        this, tr("Open Directory"), appfolders::DataFolder(), QFileDialog::DontResolveSymlinks);
    if (!dir.isEmpty())
        ui->leDir->setText(dir);
}

void MeasureWidget::on_pbShrink_clicked() { plottools::RescaleAll(plot_); }
void MeasureWidget::on_pbRestoreY_clicked() { plottools::RescaleValue(plot_); }
void MeasureWidget::on_pbMark_clicked(bool checked) { plottools::Mark(plot_, checked); }
void MeasureWidget::on_pbBoxSelect_clicked(bool checked) { plottools::BoxSelect(plot_, checked); }

void MeasureWidget::on_cbFileMode_currentIndexChanged(int index)
{
    if (index == 0) {
        ui->lbFileName->setText(tr("文件名"));
        ui->leFileName->setText(QStringLiteral("sample.csv"));
    } else {
        ui->lbFileName->setText(tr("文件夹"));
        ui->leFileName->setText(QStringLiteral("multiSample"));
    }
}
