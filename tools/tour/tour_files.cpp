// Tour steps of the recorder and the saved file viewer: a short recording by hand into a
// folder of the tour's own, then the same file opened in the viewer.
#include "tour.h"

#include "datawidget.h"
#include "devmanage.h"
#include "mainwidget.h"
#include "measurewidget.h"
#include "viewfilewidget.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>

namespace tour {

namespace {
QString RecordingDir()
{
    return QDir::temp().absoluteFilePath(QStringLiteral("quorvex-tour-recording"));
}
}  // namespace

void AddFileSteps(std::vector<Step> &steps)
{
    steps.push_back({"40-recorder-running",
                     [](Context &c) {
                         if (DevManage::Instance()->GetSelDev() < 0)
                             return false;
                         // The measurement page back in watts without the -3 dB of its
                         // last step: the recording shows the meter's own power.
                         auto *data = Find<DataWidget>(c.window, "pageData");
                         Find<QDoubleSpinBox>(data, "dsbAttenComp")->setValue(0);
                         auto *units = Find<QComboBox>(data, "cbDisplayUnit");
                         units->setCurrentIndex(0);
                         emit units->activated(0);
                         QDir(RecordingDir()).removeRecursively();
                         QDir().mkpath(RecordingDir());
                         c.window->findChild<QPushButton *>(QStringLiteral("pbMear"))->click();
                         auto *page = Find<MeasureWidget>(c.window, "pageMeasure");
                         Find<QLineEdit>(page, "leDir")->setText(RecordingDir());
                         Find<QPushButton>(page, "pbSetRun")->click();
                         Settle(4000);  // forty samples on the plot
                         return Find<QPushButton>(page, "pbSetRun")->isChecked();
                     },
                     {}});
    steps.push_back({"41-recorder-stopped",
                     [](Context &c) {
                         auto *page = Find<MeasureWidget>(c.window, "pageMeasure");
                         Find<QPushButton>(page, "pbSetRun")->click();
                         return WaitUntil(
                             [&] { return !Find<QPushButton>(page, "pbSetRun")->isChecked(); },
                             5000);
                     },
                     {}});
    steps.push_back(
        {"42-viewer",
         [](Context &c) {
             const QString file =
                 QDir(RecordingDir()).absoluteFilePath(QStringLiteral("sample.csv"));
             if (!QFileInfo::exists(file))
                 return false;
             c.window->findChild<QPushButton *>(QStringLiteral("pushButton_viewFile"))->click();
             auto *page = Find<viewFileWidget>(c.window, "pageViewFile");
             page->OpenFile(file);
             return WaitUntil([&] { return Find<QWidget>(page, "widget_loading")->isHidden(); },
                              10000);
         },
         {}});
}

}  // namespace tour
