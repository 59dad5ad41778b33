#include "debugwidget.h"

DebugWidget::DebugWidget(QWidget *parent) : QWidget(parent) {}
DebugWidget::~DebugWidget() = default;
