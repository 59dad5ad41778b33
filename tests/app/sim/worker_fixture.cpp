#include "worker_fixture.h"

#include <QDir>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace workertest {

namespace {

std::mutex g_linesMutex;
QStringList g_lines;  // guarded by g_linesMutex

struct Job {
    std::function<void()> fn;
    bool done = false;
};
std::mutex g_jobsMutex;
std::condition_variable g_jobsDone;
std::deque<Job *> g_jobs;  // guarded by g_jobsMutex

void RecordMessage(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard<std::mutex> locker(g_linesMutex);
    g_lines.append(msg);
}

}  // namespace

Relay::Relay(OpticalDev *worker)
{
    // Queued: the worker emits in its thread, the relay re-emits in the test thread.
    connect(worker, &OpticalDev::SigRemovDev, this, &Relay::SigRemovDev, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigAddDev, this, &Relay::SigAddDev, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigScanFinish, this, &Relay::SigScanFinish, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigOpenFinish, this, &Relay::SigOpenFinish, Qt::QueuedConnection);
    connect(worker, &OpticalDev::SigConnChanged, this, &Relay::SigConnChanged, Qt::QueuedConnection);

    connect(this, &Relay::SigRemovDev, this, [this](int id) { order << QStringLiteral("remove:%1").arg(id); });
    connect(this, &Relay::SigAddDev, this, [this](int id) { order << QStringLiteral("add:%1").arg(id); });
    connect(this, &Relay::SigScanFinish, this, [this] { order << QStringLiteral("finish"); });
    connect(this, &Relay::SigOpenFinish, this, [this](int id, bool ok) {
        order << QStringLiteral("open:%1:%2").arg(id).arg(ok ? "true" : "false");
    });
    connect(this, &Relay::SigConnChanged, this, [this](int id, bool ok) {
        order << QStringLiteral("conn:%1:%2").arg(id).arg(ok ? "true" : "false");
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

void DebugLines::Install() { qInstallMessageHandler(RecordMessage); }

void DebugLines::Clear()
{
    std::lock_guard<std::mutex> locker(g_linesMutex);
    g_lines.clear();
}

QStringList DebugLines::Lines()
{
    std::lock_guard<std::mutex> locker(g_linesMutex);
    return g_lines;
}

int DebugLines::Count(const QString &line)
{
    std::lock_guard<std::mutex> locker(g_linesMutex);
    return static_cast<int>(g_lines.count(line));
}

void WorkerTest::SetUpTestSuite()
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "app_device_worker_tests";
        static char *argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);  // lives for the whole process
    }
    DebugLines::Install();
}

void WorkerTest::SetUp()
{
    simmeter::VirtualBus::Instance().UnplugAll();
    int ids[64];
    const int n = manager->GetDevIds(ids, 64);
    for (int i = 0; i < n; ++i)
        manager->RemoveDev(ids[i]);
    manager->SetSelDev(-1);
    DebugLines::Clear();
    StartWorker();
}

void WorkerTest::TearDown()
{
    StopWorker();
    simmeter::VirtualBus::Instance().UnplugAll();
    int ids[64];
    const int n = manager->GetDevIds(ids, 64);
    for (int i = 0; i < n; ++i)
        manager->RemoveDev(ids[i]);
    manager->SetSelDev(-1);
}

void WorkerTest::StartWorker()
{
    worker = new OpticalDev;
    thread = new QThread;
    manager->SetOpticalDev(worker);
    worker->moveToThread(thread);
    jobs = std::make_unique<WorkerJobs>();
    jobs->moveToThread(thread);
    QObject::connect(thread, &QThread::started, worker, &OpticalDev::Init);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(worker, &QObject::destroyed, thread, &QObject::deleteLater);

    relay = std::make_unique<Relay>(worker);
    removed = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigRemovDev);
    added = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigAddDev);
    finished = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigScanFinish);
    opened = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigOpenFinish);
    connChanged = std::make_unique<QSignalSpy>(relay.get(), &Relay::SigConnChanged);

    thread->start();
    // Init runs on `started`, before the thread's event loop takes this call.
    InWorker([] {});
}

void WorkerTest::StopWorker()
{
    if (thread == nullptr)
        return;
    QPointer<QThread> t = thread;
    QPointer<OpticalDev> w = worker;
    thread->quit();
    EXPECT_TRUE(thread->wait(5000));
    // The worker's destroyed signal queues the thread's deletion into this thread.
    EXPECT_TRUE(WaitUntil([&] { return t.isNull(); }, 5000));
    EXPECT_TRUE(w.isNull());
    manager->SetOpticalDev(nullptr);
    jobs.reset();  // its thread has finished
    connChanged.reset();
    opened.reset();
    finished.reset();
    added.reset();
    removed.reset();
    relay.reset();
    worker = nullptr;
    thread = nullptr;
}

Meter WorkerTest::Plug(const std::string &port, simmeter::MeterConfig cfg)
{
    // Unplugging the last meter of a bus can take the bus's node directory with it;
    // make sure it is there for the new node.
    QDir().mkpath(QString::fromStdString(simmeter::VirtualBus::Instance().RootDir()) +
                  QStringLiteral("/dev/bus/usb/001"));
    return simmeter::VirtualBus::Instance().Plug(port, std::move(cfg));
}

bool WorkerTest::WaitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

bool WorkerTest::Scan(int timeoutMs)
{
    const int before = finished->count();
    emit worker->SigScanDev();
    return WaitUntil([&] { return finished->count() > before; }, timeoutMs);
}

bool WorkerTest::ConnectStreaming(int id)
{
    if (!manager->GetDevRecord(id) && !Scan())
        return false;
    const DeviceRecordPtr rec = manager->GetDevRecord(id);
    if (!rec)
        return false;
    emit worker->SigOpenDev(id);
    return WaitUntil([&] { return rec->LatestRaw() != 0; }, 10000);
}

void WorkerTest::InWorker(const std::function<void()> &fn)
{
    jobs->Run(fn);
}

}  // namespace workertest
