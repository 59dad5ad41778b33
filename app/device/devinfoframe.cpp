#include "devinfoframe.h"

#include "devmanage.h"
#include "ui_devinfoframe.h"

#include <QMouseEvent>

DevInfoFrame::DevInfoFrame(int id, QWidget *parent)
    : QFrame(parent), ui(new Ui::DevInfoFrame), nDevId(id)
{
    ui->setupUi(this);
    QString devName, detName;
    DevManage::Instance()->GetDevNames(nDevId, &devName, &detName);
    ui->lbDevName->setText(devName);
    ui->lbDetName->setText(detName);
    connect(ui->pbClose, &QPushButton::clicked, this, &DevInfoFrame::CloseDev);
    ApplyStateStyle();
}

DevInfoFrame::~DevInfoFrame() { delete ui; }

void DevInfoFrame::SetChecked(bool bChecked)
{
    checked = bChecked;
    ApplyStateStyle();
}

void DevInfoFrame::SetConnected(bool bConnected)
{
    connected = bConnected;
    ApplyStateStyle();
}

void DevInfoFrame::ApplyStateStyle()
{
    ui->lbStat->setStyleSheet(
        connected ? QStringLiteral(".QLabel#lbStat{border-image: url(:/image/connected.png);}")
                  : QStringLiteral(".QLabel#lbStat{border-image: url(:/image/unConnected.png);}"));
    ui->wgInfo->setStyleSheet(
        checked
            ? QStringLiteral(
                  ".QWidget#wgInfo{border-image: url(:/image/devInfoBackground_checked.png);}")
            : QStringLiteral(".QWidget#wgInfo{border-image: url(:/image/devInfoBackground.png);}"));
}

void DevInfoFrame::CloseDev() { emit SigCloseDev(nDevId); }

void DevInfoFrame::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QFrame::mouseReleaseEvent(event);
        return;
    }
    if (!checked)
        emit SigFrameSelected(nDevId);
    emit SigShowDataWin();
    event->accept();
}
