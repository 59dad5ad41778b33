// The measurement page: settings panel and the four live views of the selected meter.
#pragma once
#include <QWidget>

class DataWidget : public QWidget {
    Q_OBJECT
public:
    explicit DataWidget(QWidget *parent = nullptr);
    ~DataWidget() override;

    // The main window's 50 ms tick: reads the selected meter and updates the visible view.
    void RefreshData();
    // Power range back to its first entry ("Auto"), then one refresh.
    void ResetRange();
    // Measurement settings to / from an INI file chosen by the user.
    void SaveConfig();
    void LoadConfig();
};
