// The device worker in its own thread, wired as the main window wires it, with its answer
// signals relayed into the test thread (so the spies record where they are read), the
// debug lines captured, and simulated meters on the virtual bus.
#pragma once

#include "simmeter/virtual_bus.h"

#include "devmanage.h"
#include "opticaldev.h"

#include <tessivar/tessivar.h>

#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace workertest {

using Meter = std::shared_ptr<simmeter::SimMeter>;

constexpr int kId13 = 3 << 24;  // the library's id for port chain "1-3"
constexpr int kId14 = 4 << 24;  // "1-4"

// A noiseless meter at `powerNw`, `rateHz` samples per second.
simmeter::MeterConfig Steady(double powerNw, double rateHz = 100);
// The relay's log entry for a connection change: "conn:<id>:<true|false>".
QString Conn(int id, bool up);

// Re-emits the worker's answers in the test thread and logs them in order:
// "remove:<id>", "add:<id>", "finish", "open:<id>:<true|false>", "conn:<id>:<true|false>".
class Relay : public QObject {
    Q_OBJECT
public:
    explicit Relay(OpticalDev *worker);
    QStringList order;

signals:
    void SigRemovDev(int nDevId);
    void SigAddDev(int nDevId);
    void SigScanFinish();
    void SigOpenFinish(int nDevId, bool bResult);
    void SigConnChanged(int nDevId, bool bStat);
};

// Runs test code in the worker thread. The hand-over uses standard mutexes, not a functor
// posted through Qt, so that ThreadSanitizer (blind to Qt's event-queue locking) sees it.
class WorkerJobs : public QObject {
    Q_OBJECT
public:
    void Run(const std::function<void()> &fn);
public slots:
    void RunPending();
};

// Every debug line of the process, from any thread.
namespace debuglines {
void Clear();
QStringList All();
int Count(const QString &line);
}  // namespace debuglines

class WorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    Meter Plug(const std::string &port, simmeter::MeterConfig cfg = {});
    bool Scan(int timeoutMs = 20000);  // SigScanDev, then wait for SigScanFinish
    // The one retry policy of these tests: scans again while `missing()` holds, at most
    // kRescans times. On a loaded machine one reply can miss its 30 ms budget and fail a
    // probe, and the user would scan again; a persistent failure still shows.
    static constexpr int kRescans = 3;
    bool RescanWhile(const std::function<bool()> &missing, int timeoutMs = 20000);
    bool ScanUntilKnown(int id);    // RescanWhile the manager does not know `id`
    bool ConnectStreaming(int id);  // scan if needed, SigOpenDev, wait for samples
    void InWorker(const std::function<void()> &fn) { jobs->Run(fn); }

    DevManage *manager = DevManage::Instance();
    OpticalDev *worker = nullptr;
    QThread *thread = nullptr;
    std::unique_ptr<WorkerJobs> jobs;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<QSignalSpy> added, finished, connChanged;

private:
    void ClearManager();
};

}  // namespace workertest
