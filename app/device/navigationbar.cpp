#include "navigationbar.h"

#include "devinfoframe.h"
#include "devmanage.h"
#include "ui_navigationbar.h"

NavigationBar::NavigationBar(QWidget *parent) : QWidget(parent), ui(new Ui::NavigationBar)
{
    ui->setupUi(this);
    connect(ui->pbAddDev, &QPushButton::clicked, this, &NavigationBar::SigShowDevWin);
}

NavigationBar::~NavigationBar() { delete ui; }

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
    connect(card, &DevInfoFrame::SigFrameSelected, this, &NavigationBar::SigDevSelected);
    connect(card, &DevInfoFrame::SigCloseDev, this, &NavigationBar::SigCloseDev);
    connect(card, &DevInfoFrame::SigShowDataWin, this, &NavigationBar::SigShowDataWin);
    cards.append(card);
    // Before the trailing spacer, so the cards stay packed at the top.
    ui->vLayoutContent->insertWidget(ui->vLayoutContent->count() - 1, card);
    if (cards.size() == 1)
        emit SigDevSelected(nDevId);
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
