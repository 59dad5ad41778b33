// Shared set-up of the end-to-end library tests: a fresh log directory per test, the
// simulated meters of the test on the virtual bus, and helpers to wait and to read the log.
#pragma once

#include "simmeter/testing.h"
#include "simmeter/virtual_bus.h"

#include "api/registry.h"
#include "log/library_log.h"

#include <tessivar/tessivar.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

using Meter = std::shared_ptr<simmeter::SimMeter>;

// Ids the library derives from these port chains.
constexpr int kId13 = 3 << 24;                 // "1-3"
constexpr int kId112 = (1 << 24) + (2 << 16);  // "1-1.2"
constexpr int kId113 = (1 << 24) + (3 << 16);  // "1-1.3"

// The sim fixture's one wait, with the timeout in ms as these tests give it.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return simmeter::testing::WaitFor(condition, std::chrono::milliseconds(timeoutMs));
}

// A call that the meter answers, made as a caller who knows the 30 ms budget does: asked
// again while it reports no reply (-2 or -4), at most 5 times. A loaded test machine can
// delay an answer past the budget; a call that never gets one still fails.
//
// Replies carry only their command code. When a call was asked again, the meter still owes
// an answer to an earlier ask, and one that arrives after the test's next request of the
// same code would answer that request. So after a retry this waits for the late answers to
// land in the reply table, where the next request clears them before it is sent.
inline int Answered(const std::function<int()>& call)
{
    int ret = call();
    bool retried = false;
    for (int i = 1; i < 5 && (ret == -2 || ret == -4); ++i) {
        retried = true;
        ret = call();
    }
    if (retried)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return ret;
}

inline void SetFaults(const Meter& m, const std::function<void(simmeter::FaultConfig&)>& edit)
{
    simmeter::FaultConfig f;
    edit(f);
    m->Model().SetFaults(f);
}

// The library's Qt messages, collected while an instance lives.
class CapturedMessages {
public:
    CapturedMessages()
    {
        Clear();
        previous_ = qInstallMessageHandler(&CapturedMessages::Collect);
    }
    ~CapturedMessages() { qInstallMessageHandler(previous_); }
    QStringList Lines() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    static void Collect(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_ << text;
    }
    inline static std::mutex mutex_;
    inline static QStringList lines_;  // guarded by mutex_
    QtMessageHandler previous_ = nullptr;
};

class MeterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(logDir_.isValid());
        openLog(logDir_.path().toUtf8().constData());
    }

    void TearDown() override
    {
        releaseDev();
        simmeter::VirtualBus::Instance().UnplugAll();
    }

    Meter Plug(const std::string& port) { return simmeter::VirtualBus::Instance().Plug(port); }

    // Scans, opens `id` and waits until it is ready.
    void OpenReady(int id)
    {
        ASSERT_GE(Scan(), 1);
        ASSERT_EQ(openDev(id), 0);
        ASSERT_TRUE(Ready(id)) << "meter never became ready";
    }
    // Plugs a meter at 1-3 and opens it.
    Meter OpenMeter()
    {
        Meter meter = Plug("1-3");
        OpenReady(kId13);
        return meter;
    }
    // The number of meters a scan with room for eight finds.
    static int Scan()
    {
        int ids[8];
        return scanDev(ids, 8);
    }
    static bool Ready(int id, int timeoutMs = 3000)
    {
        return WaitFor([id] { return isInited(id) == 1; }, timeoutMs);
    }
    // Whether `id` still delivers samples: drains its queue, then waits for a fresh one.
    static bool StillStreams(int id)
    {
        PowerData chunk[64];
        getData(id, chunk, 64);
        return WaitFor([&] { return getData(id, chunk, 64) > 0; }, 1000);
    }

    tessivar::DevThread* Device(int id) { return tessivar::Registry::Instance().Find(id); }

    QStringList LogLines()
    {
        tessivar::log::Flush();
        QFile f(logDir_.path() + "/vorixOptical.log");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    }

    int CountLog(const QString& needle)
    {
        int n = 0;
        for (const QString& line : LogLines())
            n += line.contains(needle) ? 1 : 0;
        return n;
    }

    QTemporaryDir logDir_;
};

}  // namespace e2e
