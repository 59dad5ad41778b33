// Tour steps of the device page and the side bar.
#include "tour.h"

#include "devconnwidget.h"
#include "devmanage.h"
#include "mainwidget.h"
#include "navigationbar.h"
#include "opticaldev.h"
#include "scannedwidget.h"

#include <QPushButton>
#include <QStackedWidget>

namespace tour {

namespace {
DevConnWidget *Page(Context &c) { return Find<DevConnWidget>(c.window, "pageDevConn"); }
NavigationBar *Bar(Context &c) { return Find<NavigationBar>(c.window, "wgNavBar"); }

bool ConnectAll(Context &c)
{
    for (int id : c.ids) {
        ScannedWidget *entry = Page(c)->FindEntry(id);
        if (!entry)
            return false;
        Find<QPushButton>(entry, "pbConn")->click();
        if (!WaitUntil([&] { return Bar(c)->FindCard(id) != nullptr; }, 15000))
            return false;
    }
    // Samples flowing for the selected meter.
    const int sel = DevManage::Instance()->GetSelDev();
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(sel);
    return rec && WaitUntil([&] { return rec->LatestRaw() != 0; }, 10000);
}
}  // namespace

void AddDeviceSteps(std::vector<Step> &steps)
{
    steps.push_back({"01-device-page-scanned",
                     [](Context &c) {
                         // The first scan runs 100 ms after start; wait for its entries.
                         if (!WaitUntil([&] { return Page(c)->Entries().size() >= 2; }, 30000))
                             return false;
                         int ids[8];
                         const int n = DevManage::Instance()->GetDevIds(ids, 8);
                         c.ids.assign(ids, ids + n);
                         return true;
                     },
                     {}});
    steps.push_back({"02-device-page-connected",
                     [](Context &c) {
                         if (!ConnectAll(c))
                             return false;
                         c.window->ShowDevWin();
                         return true;
                     },
                     {}});
    steps.push_back({"03-help-page",
                     [](Context &c) {
                         c.window->findChild<QPushButton *>(QStringLiteral("pbHelp"))->click();
                         return true;
                     },
                     {}});
}

}  // namespace tour
