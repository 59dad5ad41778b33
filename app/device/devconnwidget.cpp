#include "devconnwidget.h"

#include "scannedwidget.h"
#include "ui_devconnwidget.h"

#include <QPainter>
#include <QStyleOption>

DevConnWidget::DevConnWidget(QWidget *parent) : QWidget(parent), ui(new Ui::DevConnWidget)
{
    ui->setupUi(this);
    connect(ui->pbScanDev, &QPushButton::clicked, this, &DevConnWidget::ScanDev);
}

DevConnWidget::~DevConnWidget() { delete ui; }

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
    emit SigScanDev();
}

void DevConnWidget::AddDev(int nDevId)
{
    auto *entry = new ScannedWidget(nDevId, ui->widget_devList);
    connect(entry, &ScannedWidget::SigShowDataWin, this, &DevConnWidget::SigShowDataWin);
    connect(entry, &ScannedWidget::SigOpenDev, this, &DevConnWidget::SigOpenDev);
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
