#include "worker_fixture.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace workertest {

namespace {

std::mutex g_linesMutex;
QStringList g_lines;  // guarded by g_linesMutex

void RecordMessage(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.append(msg);
}

struct Job {
    std::function<void()> fn;
    bool done = false;
};
std::mutex g_jobsMutex;
std::condition_variable g_jobsDone;
std::deque<Job *> g_jobs;  // guarded by g_jobsMutex

QString Flag(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

simmeter::MeterConfig Steady(double powerNw, double rateHz)
{
    simmeter::MeterConfig cfg;
    cfg.signal.powerNw = powerNw;
    cfg.signal.noiseRel = 0.0;
    cfg.signal.sampleRateHz = rateHz;
    return cfg;
}

QString Conn(int id, bool up) { return QStringLiteral("conn:%1:%2").arg(id).arg(Flag(up)); }

namespace debuglines {
void Clear()
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.clear();
}
QStringList All()
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    return g_lines;
}
int Count(const QString &line) { return static_cast<int>(All().count(line)); }
}  // namespace debuglines

Relay::Relay(OpticalDev *worker)
{
    connect(worker, &OpticalDev::SigRemovDev, this, &Relay::SigRemovDev, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigAddDev, this, &Relay::SigAddDev, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigScanFinish, this, &Relay::SigScanFinish, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigOpenFinish, this, &Relay::SigOpenFinish, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigConnChanged, this, &Relay::SigConnChanged,
            Qt::QueuedConnection);
    connect(this, &Relay::SigRemovDev, this,
            [this](int id) { order << QStringLiteral("remove:%1").arg(id); });
    connect(this, &Relay::SigAddDev, this,
            [this](int id) { order << QStringLiteral("add:%1").arg(id); });
    connect(this, &Relay::SigScanFinish, this, [this] { order << QStringLiteral("finish"); });
    connect(this, &Relay::SigOpenFinish, this, [this](int id, bool ok) {
        order << QStringLiteral("open:%1:%2").arg(id).arg(Flag(ok));
    });
    connect(this, &Relay::SigConnChanged, this, [this](int id, bool ok) {
        order << QStringLiteral("conn:%1:%2").arg(id).arg(Flag(ok));
    });
}

void WorkerJobs::Run(const std::function<void()> &fn)
{
    Job job{fn};
    {
        std::lock_guard<std::mutex> lock(g_jobsMutex);
        g_jobs.push_back(&job);
    }
    QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(g_jobsMutex);
    g_jobsDone.wait(lock, [&] { return job.done; });
}

void WorkerJobs::RunPending()
{
    for (;;) {
        Job *job = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_jobsMutex);
            if (g_jobs.empty())
                return;
            job = g_jobs.front();
            g_jobs.pop_front();
        }
        job->fn();
        {
            std::lock_guard<std::mutex> lock(g_jobsMutex);
            job->done = true;
        }
        g_jobsDone.notify_all();
    }
}

void WorkerTest::SetUpTestSuite()
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "app_device_worker_tests";
        static char *argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);  // lives for the whole process
    }
    qInstallMessageHandler(RecordMessage);
}

void WorkerTest::ClearManager()
{
    int ids[64];
    for (int i = 0, n = manager->GetDevIds(ids, 64); i < n; ++i)
        manager->RemoveDev(ids[i]);
    manager->SetSelDev(-1);
}

void WorkerTest::SetUp()
{
    simmeter::VirtualBus::Instance().UnplugAll();
    ClearManager();
    debuglines::Clear();

    // The main window's wiring: no parents, the two delete each other.
    worker = new OpticalDev;
    thread = new QThread;
    manager->SetOpticalDev(worker);
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::started, worker, &OpticalDev::Init);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(worker, &QObject::destroyed, thread, &QObject::deleteLater);
    jobs = std::make_unique<WorkerJobs>();
    jobs->moveToThread(thread);
    relay = std::make_unique<Relay>(worker);
    added = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigAddDev);
    finished = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigScanFinish);
    connChanged = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigConnChanged);
    thread->start();
    InWorker([] {});  // Init has run on `started`, before the event loop took this
}

void WorkerTest::TearDown()
{
    // A test may have shut the thread down itself (and the thread may be gone already).
    QPointer<QThread> t = thread;
    QPointer<OpticalDev> w = worker;
    if (t) {
        t->quit();
        EXPECT_TRUE(t->wait(5000));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return t.isNull(); }, 5000));  // deleted via `destroyed`
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(manager->GetOpticalDev(), nullptr);  // the worker unregistered itself
    manager->SetOpticalDev(nullptr);
    jobs.reset();
    simmeter::VirtualBus::Instance().UnplugAll();
    ClearManager();
}

Meter WorkerTest::Plug(const std::string &port, simmeter::MeterConfig cfg)
{
    return simmeter::VirtualBus::Instance().Plug(port, std::move(cfg));
}

bool WorkerTest::Scan(int timeoutMs)
{
    const int before = finished->count();
    emit worker->SigScanDev();
    return QTest::qWaitFor([&] { return finished->count() > before; }, timeoutMs);
}

bool WorkerTest::RescanWhile(const std::function<bool()> &missing, int timeoutMs)
{
    for (int i = 0; i < kRescans && missing(); ++i) {
        if (!Scan(timeoutMs))
            return false;
    }
    return !missing();
}

bool WorkerTest::ScanUntilKnown(int id)
{
    return RescanWhile([&] { return !manager->GetDevRecord(id); });
}

bool WorkerTest::ConnectStreaming(int id)
{
    if (!ScanUntilKnown(id))
        return false;
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    if (!rec)
        return false;
    emit worker->SigOpenDev(id);
    return QTest::qWaitFor([&] { return rec->LatestRaw() != 0; }, 10000);
}

}  // namespace workertest
