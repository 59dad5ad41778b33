#include "datawidget.h"
#include "ui_datawidget.h"

#include "curvedata.h"
#include "datasetting.h"
#include "devmanage.h"
#include "measureconfig.h"
#include "numdata.h"
#include "opticaldev.h"
#include "pointerdata.h"
#include "powerrange.h"
#include "powerunit.h"
#include "statisticdata.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalBlocker>

DataWidget::DataWidget(QWidget *parent) : QWidget(parent), ui(new Ui::DataWidget)
{
    ui->setupUi(this);
    dataSetting = new DataSetting(this);
    ui->dsbZeroComp->setEnabled(false);
    ui->lineEdit_calibDate->setEnabled(false);

    pageButtons = new QButtonGroup(this);
    pageButtons->setExclusive(true);
    for (QPushButton *b : {ui->pbNum, ui->pbPointer, ui->pbStatistic, ui->pbCurve})
        pageButtons->addButton(b);
    ui->pbNum->setChecked(true);
    ui->stackedWidget->setCurrentWidget(ui->pageNum);

    connect(ui->pbNum, &QPushButton::clicked, this, &DataWidget::ShowNumWin);
    connect(ui->pbPointer, &QPushButton::clicked, this, &DataWidget::ShowPointerWin);
    connect(ui->pbStatistic, &QPushButton::clicked, this, &DataWidget::ShowStaWin);
    connect(ui->pbCurve, &QPushButton::clicked, this, &DataWidget::ShowCurveWin);

    StatisticData *stat = ui->widget_statisticData;
    CurveData *curve = ui->widget_curveData;
    connect(stat, &StatisticData::SigShowSetting, this, &DataWidget::ShowSettingWin);
    connect(stat, &StatisticData::SigCurveControl, this, &DataWidget::CurveControl);
    connect(stat, &StatisticData::SigResetCurve, this, &DataWidget::slot_ResetCurve);
    connect(curve, &CurveData::SigShowSetting, this, &DataWidget::ShowSettingWin);
    connect(curve, &CurveData::SigCurveControl, this, &DataWidget::CurveControl);
    connect(curve, &CurveData::SigResetCurve, this, &DataWidget::slot_ResetCurve);
    connect(stat, &StatisticData::SigShowMessage, this, &DataWidget::SigShowMessage);
    connect(curve, &CurveData::SigShowMessage, this, &DataWidget::SigShowMessage);

    connect(DevManage::Instance(), &DevManage::SigConnChanged, this, &DataWidget::slot_devChanged,
            Qt::UniqueConnection);
    connect(ui->widget_numData, &NumData::signal_showFullScreen, this,
            &DataWidget::slot_NumDataShowFullscreen);
}

DataWidget::~DataWidget()
{
    // A detached numeric view has no parent: take it back so that it goes with the page.
    if (ui->widget_numData->parentWidget() != ui->pageNum)
        ui->widget_numData->setParent(ui->pageNum);
    delete ui;
}

NumData *DataWidget::NumView() const { return ui->widget_numData; }
PointerData *DataWidget::PointerView() const { return ui->widget_pointerData; }
StatisticData *DataWidget::StatisticView() const { return ui->widget_statisticData; }
CurveData *DataWidget::CurveView() const { return ui->widget_curveData; }

void DataWidget::RefreshData()
{
    DevManage *manager = DevManage::Instance();
    if (manager->GetSelDev() < 0)
        return;
    manager->GetSelPower(&current, currentStats);
    const qint64 raw = manager->GetSelLatestRaw();
    double low = 0.0, high = 0.0;
    manager->GetSelRange(&low, &high);

    if (ui->comboBox_powerRange->currentIndex() == powerrange::kAutoIndex &&
        powerrange::NeedsNewRange(current, high)) {
        const powerrange::Range r = powerrange::ForRawNw(raw);
        // Range before unit: the record converts with the unit, the views compare with the range.
        manager->SetSelRange(r.low, r.fullScale);
        manager->SetSelUnit(r.unit);
    }
    manager->GetSelRange(&low, &high);
    // Read after the choice, so that this tick's values and unit agree.
    const QString unit = manager->GetSelUnit();
    const displayunit::Scale scale = DisplayScale();

    if (statisticsRunning) {
        CurveData *curve = ui->widget_curveData;
        const QString key = scale.Key(unit);
        WindowPart part;
        statisticsRunning = manager->GetSelStatisticsAfter(
            &current, currentStats, curve->Cursor(key), &runTimes, &runValues, &part, &runStats);
        if (!statisticsRunning)
            SetRunButtons(false);
        // The graph holds shown numbers; only what was read this tick is converted.
        if (scale.IsLog()) {
            const double factor = PowerUnit::Factor(unit);
            for (double &v : runValues)
                v = scale.Number(v, factor);
        }
        curve->SetScale(scale);
        curve->UpdateRun(current, runStats, runTimes, runValues, part, key);
        curve->SetUnit(unit);
        StatisticData *stat = ui->widget_statisticData;
        stat->SetScale(scale);
        stat->UpdateRun(current, runStats, part.windowSize);
        stat->SetUnit(unit);
    } else {
        manager->GetSelPower(&current, currentStats);
    }

    QWidget *page = ui->stackedWidget->currentWidget();
    if (page == ui->pageNum) {
        NumData *num = ui->widget_numData;
        num->SetUnit(unit);
        num->SetScale(scale);
        num->SetRange(low, high);
        num->UpdateData(current, currentStats);
    } else if (page == ui->pagePointer) {
        PointerData *pointer = ui->widget_pointerData;
        pointer->SetUnit(unit);
        pointer->SetScale(scale);
        pointer->UpdateData(current, currentStats, low, high);
    }
}

displayunit::Scale DataWidget::DisplayScale() const
{
    switch (unitKind) {
    case displayunit::Kind::Dbm: return displayunit::Scale::Dbm();
    case displayunit::Kind::Db: return displayunit::Scale::Db(referenceNw);
    case displayunit::Kind::Watt: break;
    }
    return displayunit::Scale::Watt();
}

bool DataWidget::TakeReference()
{
    DevManage *manager = DevManage::Instance();
    if (manager->GetSelDev() < 0) {
        emit SigShowMessage(tr("请先连接并选择一台设备"));
        return false;
    }
    const qint64 nw = manager->GetSelLatestRaw();
    if (nw < displayunit::kFloorNw) {
        emit SigShowMessage(tr("当前读数低于1nw，不能设为参考"));
        return false;
    }
    SetReference(static_cast<double>(nw));
    return true;
}

void DataWidget::SetReference(double nw)
{
    referenceNw = nw > 0.0 ? nw : 0.0;
    ui->lbRefValue->setText(displayunit::ReferenceText(tr("参考: "), referenceNw));
}

void DataWidget::ChooseUnit(displayunit::Kind kind)
{
    if (kind == displayunit::Kind::Db && referenceNw <= 0.0 && !TakeReference())
        kind = unitKind;
    unitKind = kind;
    const QSignalBlocker block(ui->cbDisplayUnit);
    ui->cbDisplayUnit->setCurrentIndex(static_cast<int>(kind));
    // Shown at once, not on the next tick.
    if (DevManage::Instance()->GetSelDev() >= 0)
        RefreshData();
}

void DataWidget::on_cbDisplayUnit_activated(int index)
{
    const std::optional<displayunit::Kind> kind =
        displayunit::FromName(displayunit::ItemNames().value(index));
    ChooseUnit(kind.value_or(displayunit::Kind::Watt));
}

void DataWidget::on_pbSetRef_clicked()
{
    if (TakeReference() && DevManage::Instance()->GetSelDev() >= 0)
        RefreshData();
}

void DataWidget::ResetRange()
{
    ui->comboBox_powerRange->setCurrentIndex(powerrange::kAutoIndex);
    RefreshData();
}

void DataWidget::ShowNumWin()
{
    ui->pbNum->setChecked(true);
    ui->stackedWidget->setCurrentWidget(ui->pageNum);
    ui->widget_numData->UpdateData(current, currentStats);
    dataSetting->hide();
}

void DataWidget::ShowPointerWin()
{
    ui->pbPointer->setChecked(true);
    ui->stackedWidget->setCurrentWidget(ui->pagePointer);
    dataSetting->hide();
}

void DataWidget::ShowStaWin()
{
    ui->pbStatistic->setChecked(true);
    ui->stackedWidget->setCurrentWidget(ui->pageStatistic);
}

void DataWidget::ShowCurveWin()
{
    ui->pbCurve->setChecked(true);
    ui->stackedWidget->setCurrentWidget(ui->pageCurve);
}

void DataWidget::ShowSettingWin()
{
    dataSetting->move(ui->stackedWidget->mapToGlobal(QPoint(5, 45)));
    dataSetting->show();
    dataSetting->raise();
    dataSetting->activateWindow();
}

void DataWidget::SetRunButtons(bool running)
{
    ui->widget_curveData->SetRunState(running);
    ui->widget_statisticData->SetRunState(running);
}

void DataWidget::CurveControl(bool bChecked)
{
    DevManage *manager = DevManage::Instance();
    statisticsRunning = bChecked;
    if (!bChecked) {
        manager->StopSelStatistics();
        SetRunButtons(false);
        return;
    }
    int sampleCount = -1, seconds = -1;
    dataSetting->GetLimits(sampleCount, seconds);
    const bool started = manager->StartSelStatistics(sampleCount, seconds);
    // Without a meter nothing runs: the buttons and the page's state say so alike.
    statisticsRunning = started;
    SetRunButtons(started);
}

void DataWidget::slot_ResetCurve()
{
    int sampleCount = -1, seconds = -1;
    dataSetting->GetLimits(sampleCount, seconds);
    DevManage *manager = DevManage::Instance();
    StatSetting setting;
    if (manager->GetSelStatSetting(&setting) && setting.running)
        manager->StartSelStatistics(sampleCount, seconds);
}

void DataWidget::slot_devChanged()
{
    DevManage *manager = DevManage::Instance();
    OpticalDev *dev = manager->GetOpticalDev();
    if (dev == nullptr)
        return;
    const int id = manager->GetSelDev();
    // The worker read the settings into the record as the meter became ready.
    ShowRecordSettings();
    bool read = false;
    const double zero = dev->ReadZeroOffset(id, &read);
    if (read)
        ui->dsbZeroComp->setValue(zero);
    ui->lineEdit_calibDate->setText(dev->ReadCalibDate(id));
}

void DataWidget::slot_settingApplied(int /*nDevId*/)
{
    if (pendingSettings > 0)
        --pendingSettings;
    if (pendingSettings == 0)
        ShowRecordSettings();
}

void DataWidget::ShowRecordSettings()
{
    const DeviceRecordPtr rec =
        DevManage::Instance()->GetDevRecord(DevManage::Instance()->GetSelDev());
    if (!rec)
        return;
    const QSignalBlocker blockWave(ui->sbWaveLen);
    const QSignalBlocker blockAverage(ui->sbAve);
    ui->sbWaveLen->setValue(static_cast<int>(rec->waveLen.load()));
    ui->sbAve->setValue(static_cast<int>(rec->average.load() & 0xFFFFu));
}

void DataWidget::RequestWaveLen(int id, int waveLen)
{
    ++pendingSettings;
    emit SigSetWaveLen(id, static_cast<float>(waveLen));
}

void DataWidget::RequestAverage(int id, int average)
{
    ++pendingSettings;
    emit SigSetAverage(id, static_cast<ushort>(average));
}

void DataWidget::slot_NumDataShowFullscreen(bool checked)
{
    NumData *num = ui->widget_numData;
    auto *layout = qobject_cast<QBoxLayout *>(ui->pageNum->layout());
    if (checked) {
        layout->removeWidget(num);
        num->setParent(nullptr);
        num->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        num->showFullScreen();
    } else {
        num->setParent(ui->pageNum);
        num->setWindowFlags(Qt::WindowFlags());
        layout->insertWidget(0, num);
        num->show();
    }
}

void DataWidget::on_comboBox_powerRange_activated(int index)
{
    const powerrange::Range r = powerrange::ForIndex(index);
    DevManage *manager = DevManage::Instance();
    manager->SetSelRange(r.low, r.fullScale);
    manager->SetSelUnit(r.unit);
}

void DataWidget::on_sbAve_valueChanged(int value)
{
    RequestAverage(DevManage::Instance()->GetSelDev(), value);
}

void DataWidget::on_sbWaveLen_valueChanged(int value)
{
    RequestWaveLen(DevManage::Instance()->GetSelDev(), value);
}

void DataWidget::on_pbCaliReset_clicked()
{
    QMessageBox box(QMessageBox::Question, tr("归零补偿"), tr("请在覆盖探头之后点击(Yes)按钮。"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setObjectName(QStringLiteral("zeroCompBox"));
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;
    DevManage *manager = DevManage::Instance();
    OpticalDev *dev = manager->GetOpticalDev();
    if (dev == nullptr)
        return;
    const int id = manager->GetSelDev();
    const int ret = dev->ClearZeroOffset(id);
    // The meter's offset, also when the command failed: the library then works with it
    // again instead of the one it took before sending.
    bool read = false;
    const double zero = dev->ReadZeroOffset(id, &read);
    if (read)
        ui->dsbZeroComp->setValue(zero);
    if (ret != 0) {
        emit SigShowMessage(read ? tr("归零补偿失败，设备的零点补偿仍为%1nw").arg(zero)
                                 : tr("归零补偿失败，设备未应答"));
    }
}

void DataWidget::on_dsbAttenComp_valueChanged(double value)
{
    DevManage::Instance()->SetSelAttenuation(value);
}

void DataWidget::SaveConfig()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存文件"), QStringLiteral("/home/untitled.ini"),
        QStringLiteral("configs (*.ini)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    measureconfig::Values values;
    values.waveLength = ui->sbWaveLen->value();
    values.attenuation = ui->dsbAttenComp->value();
    values.averageTime = ui->sbAve->value();
    values.displayUnit = displayunit::Name(unitKind);
    values.referenceNw = referenceNw;
    QString error;
    if (!measureconfig::Write(path, values, &error))
        emit SigShowMessage(error);
}

void DataWidget::LoadConfig()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("打开文件"), QStringLiteral("/home"),
                                                      QStringLiteral("configs (*.ini)"), nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    measureconfig::Loaded loaded;
    QString error;
    if (!measureconfig::Read(path, &loaded, &error)) {
        emit SigShowMessage(error);
        return;
    }
    DevManage *manager = DevManage::Instance();
    const int id = manager->GetSelDev();
    // Values are already inside the spin boxes' limits; what is sent is what is shown,
    // once: the worker checks it and the boxes then show what the meter took.
    if (loaded.waveLength) {
        const QSignalBlocker block(ui->sbWaveLen);
        ui->sbWaveLen->setValue(*loaded.waveLength);
        RequestWaveLen(id, ui->sbWaveLen->value());
    }
    if (loaded.attenuation) {
        ui->dsbAttenComp->setValue(*loaded.attenuation);
        manager->SetSelAttenuation(ui->dsbAttenComp->value());
    }
    if (loaded.averageTime) {
        const QSignalBlocker block(ui->sbAve);
        ui->sbAve->setValue(*loaded.averageTime);
        RequestAverage(id, ui->sbAve->value());
    }
    // A file from before the display unit existed loads as watts without a reference.
    SetReference(loaded.referenceNw.value_or(0.0));
    ChooseUnit(displayunit::FromName(loaded.displayUnit.value_or(QString()))
                   .value_or(displayunit::Kind::Watt));
}
