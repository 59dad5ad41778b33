#include "viewfilewidget.h"

viewFileWidget::viewFileWidget(QWidget *parent) : QWidget(parent) {}
viewFileWidget::~viewFileWidget() = default;
void viewFileWidget::OpenFileDialog() {}
void viewFileWidget::OpenFile(const QString &) {}
