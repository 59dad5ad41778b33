#include "numdata.h"
#include "ui_numdata.h"

#include "devmanage.h"
#include "measureformat.h"
#include "powerunit.h"

#include <QDebug>

NumData::NumData(QWidget *parent) : QWidget(parent), ui(new Ui::NumData)
{
    ui->setupUi(this);
    connect(ui->pbFullScr, &QPushButton::clicked, this, &NumData::signal_showFullScreen);
}

NumData::~NumData() { delete ui; }

void NumData::SetUnit(QString unitToken) { unit = std::move(unitToken); }

void NumData::SetScale(const displayunit::Scale &s) { scale = s; }

void NumData::SetRange(double lowerEnd, double fullScale)
{
    lower = lowerEnd;
    upper = fullScale;
}

void NumData::UpdateData(const double &current, const double stats[3])
{
    const measurefmt::NumTexts t =
        measurefmt::NumView(current, stats, upper, unit, scale, PowerUnit::Factor(unit));
    if (t.overRange) {
        qDebug() << "NumData: over range" << current << upper;
        ui->lbData->setText(tr("无穷大"));
    } else {
        ui->lbData->setText(t.value);
    }
    ui->lbMaxVal->setText(t.max);
    ui->lbMinVal->setText(t.min);
    ui->lbAveVal->setText(t.mean);
}

void NumData::on_pbReset_clicked() { DevManage::Instance()->ResetSelTotals(); }
