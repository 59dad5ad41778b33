#include "pointerdata.h"
#include "ui_pointerdata.h"

#include "devmanage.h"
#include "dialscale.h"
#include "measureformat.h"
#include "pointerdialwidget.h"
#include "powerunit.h"

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

void PointerData::SetScale(const displayunit::Scale &s)
{
    if (s == scale)
        return;
    scale = s;
    if (relative) {
        ui->pbRela->setChecked(false);
        on_pbRela_clicked(false);
    }
    ui->cbRelaPerc->setEnabled(!scale.IsLog());
}

void PointerData::UpdateData(const double &current, const double totals[3], double lower,
                             double upper)
{
    const double factor = PowerUnit::Factor(unit);
    dial::PointerInput in;
    if (scale.IsLog()) {
        in.current = scale.Number(current, factor);
        const displayunit::DialRange r = displayunit::LogDialRange(scale.Number(upper, factor));
        in.lower = r.min;
        in.upper = r.max;
    } else {
        in.current = current;
        in.lower = lower;
        in.upper = upper;
        in.ratio = ui->cbRelaPerc->isChecked();
    }
    in.relative = relative;
    in.reference = reference;
    in.dialMin = dialMin;
    in.dialMax = dialMax;
    const dial::PointerOutput out = dial::PointerStep(in);
    dialMin = out.dialMin;
    dialMax = out.dialMax;
    PointerDialWidget *dialWidget = ui->wgPainter;
    // A difference of two logarithmic values is in dB whatever they are relative to.
    dialWidget->SetUnit(scale.IsLog() && relative ? QStringLiteral("dB") : scale.Token(unit));
    const bool floored = scale.IsLog() && !relative && scale.BelowFloor(current, factor);
    dialWidget->SetValueText(floored ? scale.Text(current, factor, unit) : QString());
    dialWidget->SetRange(dialMin, dialMax);
    // Above the full scale is over range in every unit (the logarithmic dial's rounded top
    // may reach past it).
    if (!out.overRange && !(!relative && current > upper)) {
        lastValue = out.needle;
        dialWidget->SetValue(out.needle);
        ui->label_maxValue->setText(scale.Text(totals[0], factor, unit));
        ui->label_minValue->setText(scale.Text(totals[1], factor, unit));
        ui->label_avgValue->setText(scale.Text(totals[2], factor, unit));
    } else {
        dialWidget->SetValue(dialMax);
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
        // The absolute dial of a logarithmic unit lies far from 0 dB, where differences
        // start: a symmetric dial that widens as they grow.
        if (scale.IsLog()) {
            dialMin = -kLogRelativeSpan;
            dialMax = kLogRelativeSpan;
        }
        ui->label_reference->setText(
            tr("参考值:%1%2")
                .arg(QString::number(reference, 'g', QLocale::FloatingPointShortest),
                     scale.Token(unit)));
        relative = true;
    } else {
        ui->label_powerTip->setText(tr("功率"));
        relative = false;
    }
}

void PointerData::on_pbReset_clicked() { DevManage::Instance()->ResetSelTotals(); }
