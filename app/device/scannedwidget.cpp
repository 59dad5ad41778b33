#include "scannedwidget.h"

#include "devmanage.h"
#include "ui_scannedwidget.h"

#include <QPainter>
#include <QStyleOption>

ScannedWidget::ScannedWidget(int id, QWidget *parent)
    : QWidget(parent), ui(new Ui::ScannedWidget), nDevId(id)
{
    ui->setupUi(this);
    DevManage *manager = DevManage::Instance();
    QString devName, detName;
    manager->GetDevNames(nDevId, &devName, &detName);
    ui->lbDevName->setText(devName);
    ui->lbDetName->setText(detName);
    ui->lbDevSerail->setText(manager->GetDevSerial(nDevId));
    ui->lbDetSerial->setText(manager->GetDetSerial(nDevId));
    connect(ui->pbConn, &QPushButton::clicked, this, &ScannedWidget::ConnDev);
}

ScannedWidget::~ScannedWidget() { delete ui; }

void ScannedWidget::Reset()
{
    ui->pbConn->setText(tr("连接"));
    ui->pbConn->setEnabled(true);
}

void ScannedWidget::OpenResult(bool bConnRet)
{
    if (bConnRet) {
        ui->pbConn->setText(tr("已连接"));
    } else {
        ui->pbConn->setText(tr("重新连接"));
        ui->pbConn->setEnabled(true);
    }
}

void ScannedWidget::ConnDev()
{
    ui->pbConn->setEnabled(false);
    ui->pbConn->setText(tr("连接中..."));
    emit SigShowDataWin();
    emit SigOpenDev(nDevId);
}

void ScannedWidget::paintEvent(QPaintEvent *event)
{
    // A plain QWidget subclass draws its style-sheet background only when asked to.
    QStyleOption opt;
    opt.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);
    QWidget::paintEvent(event);
}
