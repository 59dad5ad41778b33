// The production debug window: drives one meter directly through the device library.
#pragma once
#include <QWidget>

class DebugWidget : public QWidget {
    Q_OBJECT
public:
    explicit DebugWidget(QWidget *parent = nullptr);
    ~DebugWidget() override;
};
