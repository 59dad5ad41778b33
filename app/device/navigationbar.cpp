#include "navigationbar.h"

#include "devinfoframe.h"
#include "devmanage.h"
#include "mainwidget.h"
#include "opticaldev.h"
#include "ui_navigationbar.h"

NavigationBar::NavigationBar(QWidget *parent) : QWidget(parent), ui(new Ui::NavigationBar)
{
    ui->setupUi(this);
}

NavigationBar::~NavigationBar() { delete ui; }

void NavigationBar::SetupConnections()
{
    DevManage *manager = DevManage::Instance();
    if (auto *main = qobject_cast<MainWidget *>(manager->GetMainWidget()))
        connect(ui->pbAddDev, &QPushButton::clicked, main, &MainWidget::ShowDevWin);
    if (OpticalDev *worker = manager->GetOpticalDev())
        connect(worker, &OpticalDev::SigConnChanged, this, &NavigationBar::ConnChanged);
}

DevInfoFrame *NavigationBar::FindCard(int nDevId) const
{
    for (DevInfoFrame *card : cards)
        if (card->DevId() == nDevId)
            return card;
    return nullptr;
}

void NavigationBar::AddDevice(int nDevId)
{
    if (FindCard(nDevId))
        return;
    auto *card = new DevInfoFrame(nDevId, ui->wgContent);
    auto *main = qobject_cast<MainWidget *>(DevManage::Instance()->GetMainWidget());
    if (main)
        connect(card, &DevInfoFrame::SigFrameSelected, main, &MainWidget::SelDevChanged);
    cards.append(card);
    // Before the trailing spacer, so the cards stay packed at the top.
    ui->vLayoutContent->insertWidget(ui->vLayoutContent->count() - 1, card);
    if (cards.size() == 1 && main)
        main->SelDevChanged(nDevId);
}

void NavigationBar::RemoveDevice(int nDevId)
{
    DevInfoFrame *card = FindCard(nDevId);
    if (!card)
        return;
    cards.removeOne(card);
    ui->vLayoutContent->removeWidget(card);
    card->hide();
    card->deleteLater();
}

void NavigationBar::SetSelected(int nDevId)
{
    for (DevInfoFrame *card : cards)
        card->SetChecked(card->DevId() == nDevId);
}

void NavigationBar::ConnChanged(int nDevId, bool bStat)
{
    if (DevInfoFrame *card = FindCard(nDevId))
        card->SetConnected(bStat);
    if (bStat)
        emit DevManage::Instance()->SigConnChanged();
}
