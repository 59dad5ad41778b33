#include "measurewidget.h"

MeasureWidget::MeasureWidget(QWidget *parent) : QWidget(parent) {}
MeasureWidget::~MeasureWidget() = default;
