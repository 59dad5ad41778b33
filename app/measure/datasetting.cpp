#include "datasetting.h"
#include "ui_datasetting.h"

#include <QEvent>

DataSetting::DataSetting(QWidget *parent) : QWidget(parent), ui(new Ui::DataSetting)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);  // the rounded corners of wgBack show
    connect(ui->pbConfirm, &QPushButton::clicked, this, &DataSetting::Confirm);
    connect(ui->pbCancle, &QPushButton::clicked, this, &DataSetting::Cancel);
}

DataSetting::~DataSetting() { delete ui; }

void DataSetting::GetLimits(int &count, int &seconds) const
{
    if (timeMode) {
        count = -1;
        seconds = sampleTime;
    } else {
        count = sampleCount;
        seconds = -1;
    }
}

void DataSetting::Confirm()
{
    sampleCount = ui->sbNumber->value();
    sampleTime = ui->sbElapsed->value();
    timeMode = !ui->rbNumber->isChecked();
    hide();
}

void DataSetting::Cancel()
{
    hide();
    Restore();
}

void DataSetting::Restore()
{
    ui->sbNumber->setValue(sampleCount);
    ui->sbElapsed->setValue(sampleTime);
    if (timeMode)
        ui->rbElapsed->setChecked(true);
    else
        ui->rbNumber->setChecked(true);
}

bool DataSetting::event(QEvent *e)
{
    if (e->type() == QEvent::WindowDeactivate) {
        // A click elsewhere: like Cancel.
        Cancel();
        return true;
    }
    return QWidget::event(e);
}
