#include "pointerdata.h"
#include "ui_pointerdata.h"

#include "devmanage.h"
#include "dialscale.h"
#include "measureformat.h"

#include <QLocale>

PointerData::PointerData(QWidget *parent) : QWidget(parent), ui(new Ui::PointerData)
{
    ui->setupUi(this);
    ui->label_reference->hide();
    ui->cbRelaPerc->hide();
}

PointerData::~PointerData() { delete ui; }

PointerDialWidget *PointerData::Dial() const { return ui->wgPainter; }

void PointerData::SetUnit(QString unitToken)
{
    unit = std::move(unitToken);
    ui->wgPainter->SetUnit(unit);
}

void PointerData::UpdateData(const double &current, const double totals[3], double lower,
                             double upper)
{
    dial::PointerInput in;
    in.current = current;
    in.lower = lower;
    in.upper = upper;
    in.relative = relative;
    in.ratio = ui->cbRelaPerc->isChecked();
    in.reference = reference;
    in.dialMin = dialMin;
    in.dialMax = dialMax;
    const dial::PointerOutput out = dial::PointerStep(in);
    dialMin = out.dialMin;
    dialMax = out.dialMax;
    ui->wgPainter->SetRange(dialMin, dialMax);
    if (!out.overRange) {
        lastValue = out.needle;
        ui->wgPainter->SetValue(out.needle);
        ui->label_maxValue->setText(measurefmt::Power(totals[0], unit));
        ui->label_minValue->setText(measurefmt::Power(totals[1], unit));
        ui->label_avgValue->setText(measurefmt::Power(totals[2], unit));
    } else {
        ui->wgPainter->SetValue(dialMax);
        ui->label_maxValue->clear();
        ui->label_minValue->clear();
        ui->label_avgValue->clear();
    }
}

void PointerData::on_pbRela_clicked(bool checked)
{
    ui->label_reference->setVisible(checked);
    ui->cbRelaPerc->setVisible(checked);
    if (checked) {
        ui->label_powerTip->setText(tr("相对功率"));
        reference = lastValue;
        ui->label_reference->setText(
            tr("参考值:%1%2")
                .arg(QString::number(reference, 'g', QLocale::FloatingPointShortest), unit));
        relative = true;
    } else {
        ui->label_powerTip->setText(tr("功率"));
        relative = false;
    }
}

void PointerData::on_pbReset_clicked() { DevManage::Instance()->ResetSelTotals(); }
