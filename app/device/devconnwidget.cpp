#include "devconnwidget.h"

#include "devmanage.h"
#include "opticaldev.h"
#include "scannedwidget.h"
#include "ui_devconnwidget.h"

#include <QPainter>
#include <QStyleOption>

DevConnWidget::DevConnWidget(QWidget *parent) : QWidget(parent), ui(new Ui::DevConnWidget)
{
    ui->setupUi(this);
}

DevConnWidget::~DevConnWidget() { delete ui; }

void DevConnWidget::SetupConnections()
{
    connect(ui->pbScanDev, &QPushButton::clicked, this, &DevConnWidget::ScanDev);
    if (OpticalDev *worker = DevManage::Instance()->GetOpticalDev()) {
        connect(worker, &OpticalDev::SigAddDev, this, &DevConnWidget::AddDev);
        connect(worker, &OpticalDev::SigScanFinish, this, &DevConnWidget::ScanFinished);
    }
}

ScannedWidget *DevConnWidget::FindEntry(int nDevId) const
{
    for (ScannedWidget *entry : entries)
        if (entry->DevId() == nDevId)
            return entry;
    return nullptr;
}

void DevConnWidget::ScanDev()
{
    ui->pbScanDev->setEnabled(false);
    if (OpticalDev *worker = DevManage::Instance()->GetOpticalDev())
        emit worker->SigScanDev();
}

void DevConnWidget::AddDev(int nDevId)
{
    auto *entry = new ScannedWidget(nDevId, ui->widget_devList);
    entries.append(entry);
    ui->verticalLayout->insertWidget(0, entry, 10);
}

void DevConnWidget::ScanFinished() { ui->pbScanDev->setEnabled(true); }

void DevConnWidget::ResetEntry(int nDevId)
{
    if (ScannedWidget *entry = FindEntry(nDevId))
        entry->Reset();
}

void DevConnWidget::RemoveEntry(int nDevId)
{
    ScannedWidget *entry = FindEntry(nDevId);
    if (!entry)
        return;
    entries.removeOne(entry);
    ui->verticalLayout->removeWidget(entry);
    entry->hide();
    entry->deleteLater();
}

void DevConnWidget::OpenResult(int nDevId, bool bConnRet)
{
    if (ScannedWidget *entry = FindEntry(nDevId))
        entry->OpenResult(bConnRet);
}

void DevConnWidget::paintEvent(QPaintEvent *event)
{
    QStyleOption opt;
    opt.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);
    QWidget::paintEvent(event);
}
