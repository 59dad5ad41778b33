// Shared set-up of the device worker tests: the worker in its own thread wired as the
// main window wires it, its answer signals relayed into the test thread (so QSignalSpy
// records them in the thread that reads them), the debug lines captured, and simulated
// meters on the virtual bus.
#pragma once

#include "simmeter/virtual_bus.h"

#include "devmanage.h"
#include "opticaldev.h"

#include <tessivar/tessivar.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace workertest {

using Meter = std::shared_ptr<simmeter::SimMeter>;

// Ids the library derives from these port chains.
constexpr int kId13 = 3 << 24;   // "1-3"
constexpr int kId14 = 4 << 24;   // "1-4"

// Receives the worker's answers in the test thread. Each signal also lands in `order`.
class Relay : public QObject {
    Q_OBJECT
public:
    explicit Relay(OpticalDev *worker);
    QStringList order;   // "remove:<id>", "add:<id>", "finish", "open:<id>:<ok>", "conn:<id>:<ok>"

signals:
    void SigRemovDev(int nDevId);
    void SigAddDev(int nDevId);
    void SigScanFinish();
    void SigOpenFinish(int nDevId, bool bResult);
    void SigConnChanged(int nDevId, bool bStat);
};

// Runs test code in the worker thread. The hand-over uses standard mutexes rather than a
// functor posted through Qt, so that ThreadSanitizer (which cannot see Qt's own event
// queue locking) sees the ordering.
class WorkerJobs : public QObject {
    Q_OBJECT
public:
    // Queues `fn`, wakes the worker thread and waits until `fn` has run there.
    void Run(const std::function<void()> &fn);

public slots:
    void RunPending();
};

// The debug message channel, recorded from every thread.
class DebugLines {
public:
    static void Install();
    static void Clear();
    static QStringList Lines();
    static int Count(const QString &line);
};

class WorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Creates the worker and its thread as the main window does and waits for Init.
    void StartWorker();
    // Quits the thread; the worker deletes itself (releasing the library), then the thread.
    void StopWorker();

    Meter Plug(const std::string &port, simmeter::MeterConfig cfg = {});
    // Processes the test thread's events until `condition` holds or `timeoutMs` passes.
    static bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);
    // Emits SigScanDev and waits for SigScanFinish.
    bool Scan(int timeoutMs = 20000);
    // Scans, then connects `id` and waits until it streams into its record.
    bool ConnectStreaming(int id);
    // Runs `fn` in the worker thread and waits for it.
    void InWorker(const std::function<void()> &fn);

    DevManage *manager = DevManage::Instance();
    OpticalDev *worker = nullptr;
    QThread *thread = nullptr;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<WorkerJobs> jobs;  // lives in the worker thread while it runs
    std::unique_ptr<QSignalSpy> removed, added, finished, opened, connChanged;
};

}  // namespace workertest
