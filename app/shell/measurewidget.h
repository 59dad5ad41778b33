// The measurement recorder page.
#pragma once
#include <QWidget>

class MeasureWidget : public QWidget {
    Q_OBJECT
public:
    explicit MeasureWidget(QWidget *parent = nullptr);
    ~MeasureWidget() override;
};
