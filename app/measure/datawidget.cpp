#include "datawidget.h"

DataWidget::DataWidget(QWidget *parent) : QWidget(parent) {}
DataWidget::~DataWidget() = default;
void DataWidget::RefreshData() {}
void DataWidget::ResetRange() {}
void DataWidget::SaveConfig() {}
void DataWidget::LoadConfig() {}
