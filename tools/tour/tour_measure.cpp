// Tour steps of the measurement page (numeric view, settings panel, dial, statistics, curve).
#include "tour.h"

#include "datasetting.h"
#include "datawidget.h"
#include "mainwidget.h"
#include "numdata.h"
#include "pointerdata.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace tour {

namespace {
DataWidget *Page(Context &c) { return Find<DataWidget>(c.window, "pageData"); }

// What a user does: picks the unit in the box, which emits activated.
void ChooseUnit(DataWidget *page, const char *name)
{
    auto *box = Find<QComboBox>(page, "cbDisplayUnit");
    const int i = box->findText(QLatin1String(name));
    box->setCurrentIndex(i);
    emit box->activated(i);
}

bool ShowsAValue(QLabel *label)
{
    const QString t = label->text();
    return !t.isEmpty() && t.at(0).isDigit();
}
}  // namespace

void AddMeasureSteps(std::vector<Step> &steps)
{
    steps.push_back({"20-measure-numeric",
                     [](Context &c) {
                         c.window->ShowDataWin();
                         DataWidget *page = Page(c);
                         page->ShowNumWin();
                         auto *data = Find<QLabel>(page->NumView(), "lbData");
                         return WaitUntil([&] { return ShowsAValue(data); }, 10000);
                     },
                     {}});
    steps.push_back({"21-measure-settings",
                     [](Context &c) {
                         DataWidget *page = Page(c);
                         Find<QSpinBox>(page, "sbWaveLen")->setValue(850);
                         Find<QSpinBox>(page, "sbAve")->setValue(10);
                         Settle(500);
                         return true;
                     },
                     [](Context &c) -> QWidget * { return Find<QWidget>(Page(c), "wgSetting"); }});
    steps.push_back({"22-measure-pointer",
                     [](Context &c) {
                         Find<QPushButton>(Page(c), "pbPointer")->click();
                         Settle(800);
                         return true;
                     },
                     {}});
    steps.push_back({"23-measure-pointer-relative",
                     [](Context &c) {
                         PointerData *pointer = Page(c)->PointerView();
                         Find<QPushButton>(pointer, "pbRela")->click();
                         Settle(1500);
                         return true;
                     },
                     {}});
    steps.push_back(
        {"24-measure-statistics",
         [](Context &c) {
             DataWidget *page = Page(c);
             Find<QPushButton>(page->PointerView(), "pbRela")->click();  // relative mode off again
             Find<QSpinBox>(page, "sbAve")->setValue(1);
             Find<QPushButton>(page, "pbStatistic")->click();
             QWidget *stat = Find<QWidget>(page, "widget_statisticData");
             Find<QPushButton>(stat, "pbRunStop")->click();
             auto *elapsed = Find<QLabel>(stat, "lbTimeVal");
             // A step in the middle of the run (0.5 dB attenuation compensation), so that the
             // histogram and the curve have something to show.
             if (!WaitUntil([&] { return elapsed->text() == "00:00:02"; }, 20000))
                 return false;
             Find<QDoubleSpinBox>(page, "dsbAttenComp")->setValue(0.5);
             return WaitUntil([&] { return elapsed->text() == "00:00:04"; }, 20000);
         },
         {}});
    steps.push_back({"25-measure-run-settings",
                     [](Context &c) {
                         DataWidget *page = Page(c);
                         page->ShowSettingWin();
                         Settle(300);
                         return page->SettingPopup()->isVisible();
                     },
                     [](Context &c) -> QWidget * { return Page(c)->SettingPopup(); }});
    steps.push_back({"26-measure-curve",
                     [](Context &c) {
                         DataWidget *page = Page(c);
                         page->SettingPopup()->Cancel();
                         Find<QPushButton>(page, "pbCurve")->click();
                         Settle(1500);
                         return true;
                     },
                     {}});
    steps.push_back({"27-measure-numeric-after-run",
                     [](Context &c) {
                         // Leave the page as it was: run stopped, numeric view.
                         DataWidget *page = Page(c);
                         QWidget *curve = Find<QWidget>(page, "widget_curveData");
                         Find<QPushButton>(curve, "pbRunStop")->click();
                         Find<QDoubleSpinBox>(page, "dsbAttenComp")->setValue(0);
                         page->ShowNumWin();
                         return !page->StatisticsRunning();
                     },
                     {}});
    steps.push_back({"28-measure-numeric-dbm",
                     [](Context &c) {
                         DataWidget *page = Page(c);
                         ChooseUnit(page, "dBm");
                         // Maximum, minimum and mean of this unit's own moment.
                         Find<QPushButton>(page->NumView(), "pbReset")->click();
                         auto *data = Find<QLabel>(page->NumView(), "lbData");
                         const bool shown =
                             WaitUntil([&] { return data->text().endsWith("dBm"); }, 10000);
                         Settle(1500);
                         return shown;
                     },
                     {}});
    // An insertion loss as a user reads it: the reference taken, then 3 dB less (the
    // attenuation compensation stands in for an attenuator put into the fibre).
    steps.push_back({"29-measure-numeric-db",
                     [](Context &c) {
                         DataWidget *page = Page(c);
                         Find<QPushButton>(page, "pbSetRef")->click();
                         ChooseUnit(page, "dB");
                         Find<QDoubleSpinBox>(page, "dsbAttenComp")->setValue(-3);
                         auto *data = Find<QLabel>(page->NumView(), "lbData");
                         const bool shown = WaitUntil(
                             [&] { return data->text().startsWith(QLatin1String("-3.")); }, 10000);
                         Find<QPushButton>(page->NumView(), "pbReset")->click();
                         Settle(1500);
                         return shown;
                     },
                     {}});
}

}  // namespace tour
