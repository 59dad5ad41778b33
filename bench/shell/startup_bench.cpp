// The application's start-up and idle cost, against simulated meters.
//
// Run inside the simulator, on any display (offscreen by default):
//   tessivar-sim --meters 4 -- bench_app_startup
// Prints: time from process start to the main window shown and to two meters listed; the
// process's CPU share, each over a 10 s window: with no meter connected (device page), one
// meter connected and idle on the device page, one meter streaming into the numeric view,
// and (when the simulator offers four) four meters connected.
#include "appsetup.h"
#include "devconnwidget.h"
#include "devmanage.h"
#include "mainwidget.h"
#include "navigationbar.h"
#include "scannedwidget.h"

#include "common/cpu_time.h"
#include "common/wait_until.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Seconds since this process started (its start time in /proc against the clock's boot time).
double SecondsSinceProcessStart()
{
    std::ifstream statFile("/proc/self/stat");
    std::string line;
    std::getline(statFile, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string v;
    for (int i = 3; i <= 22; ++i)
        fields >> v;  // field 22: starttime in clock ticks after boot
    const double start = std::stod(v) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return uptime - start;
}

using bench::WaitUntil;

// The process's CPU share of one core while the event loop runs for `seconds`.
double CpuShare(int seconds)
{
    const double cpu0 = bench::ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return (bench::ProcessCpuSeconds() - cpu0) / (wall.elapsed() / 1000.0) * 100.0;
}

}  // namespace

int main(int argc, char *argv[])
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    appsetup::SetupApplication();
    MainWidget w;
    w.show();
    if (!WaitUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 10000)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    const double shown = SecondsSinceProcessStart();
    auto *page = w.findChild<DevConnWidget *>("pageDevConn");
    if (!WaitUntil([&] { return page->Entries().size() >= 2; }, 30000)) {
        std::fprintf(stderr, "two meters were not listed (run inside tessivar-sim --meters 2)\n");
        return 1;
    }
    const double listed = SecondsSinceProcessStart();
    std::printf("start to window shown:      %6.0f ms\n", shown * 1000);
    std::printf("start to two meters listed: %6.0f ms\n", listed * 1000);

    std::printf("CPU, no meter connected:    %6.2f %% of one core\n", CpuShare(10));

    ScannedWidget *entry = page->Entries().first();
    entry->findChild<QPushButton *>("pbConn")->click();
    auto *bar = w.findChild<NavigationBar *>("wgNavBar");
    if (!WaitUntil([&] { return bar->Cards().size() == 1; }, 15000))
        return 1;
    w.ShowDevWin();
    WaitUntil([] { return false; }, 1000);  // streaming settles
    std::printf("CPU, one meter idle:        %6.2f %% of one core\n", CpuShare(10));

    w.ShowDataWin();  // the numeric view is the data page's first view
    WaitUntil([] { return false; }, 500);
    std::printf("CPU, one meter, numeric:    %6.2f %% of one core\n", CpuShare(10));

    if (!WaitUntil([&] { return page->Entries().size() >= 4; }, 20000))
        return 0;
    for (ScannedWidget *e : page->Entries())
        if (!bar->FindCard(e->DevId()))
            e->findChild<QPushButton *>("pbConn")->click();
    if (!WaitUntil([&] { return bar->Cards().size() >= 4; }, 30000))
        return 1;
    w.ShowDataWin();
    WaitUntil([] { return false; }, 1000);
    std::printf("CPU, four meters, numeric:  %6.2f %% of one core\n", CpuShare(10));
    return 0;
}
