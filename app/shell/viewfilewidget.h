// The saved file viewer page.
#pragma once
#include <QString>
#include <QWidget>

class viewFileWidget : public QWidget {
    Q_OBJECT
public:
    explicit viewFileWidget(QWidget *parent = nullptr);
    ~viewFileWidget() override;

    // Runs the open-file dialog; opens the chosen file, if any.
    void OpenFileDialog();
    // Opens a data file and shows its header and samples.
    void OpenFile(const QString &path);
};
