// Reply waits keep their time with busy threads beside them: a call the meter does not
// answer returns its code after its budget (never before it, and not later by more than a
// loaded machine's scheduling), replies for other codes neither end a wait nor go astray,
// and closing or dropping a device leaves no caller blocked past its deadline.
#include "meter_fixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace e2e {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a loaded 2-core machine may add to a wait's end; a wait that drifted with its budget
// (1000s of 1 ms sleeps) would exceed it for the 5 s save.
constexpr milliseconds kMargin{250};

// Keeps `n` threads spinning while it lives, as a stress run beside the program would.
class BusyThreads {
public:
    explicit BusyThreads(int n)
    {
        for (int i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyThreads()
    {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

struct Timed {
    int rc;
    milliseconds took;
};

Timed Time(const std::function<int()>& call)
{
    const auto t0 = Steady::now();
    const int rc = call();
    return {rc, std::chrono::duration_cast<milliseconds>(Steady::now() - t0)};
}

// True when `t` ended at its budget: not before it, and within the margin after it.
::testing::AssertionResult EndedAtBudget(const Timed& t, milliseconds budget)
{
    if (t.took >= budget && t.took <= budget + kMargin)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "took " << t.took.count() << " ms";
}

TEST_F(MeterTest, UnansweredCallsEndAtTheirBudgetBesideBusyThreads)
{
    Meter meter = OpenMeter();
    SetFaults(meter, [](auto& f) { f.ignoreCodes = {0x1010, 0x000D, 0x101B, 0x0029, 0x100E}; });
    struct Case {
        const char* name;
        int budgetMs;
        int repeats;
        int expected;
        std::function<int()> call;
    };
    char name[33];
    int state = 0;
    double offset = 0;
    const Case cases[] = {
        {"command setAverage", 30, 5, -2, [] { return setAverage(kId13, 3); }},
        {"text query readDevName", 30, 5, -4, [&] { return readDevName(kId13, name, 33); }},
        {"query getDetectorState", 30, 5, -2, [&] { return getDetectorState(kId13, &state); }},
        {"query getZeroOffset", 100, 5, -4, [&] { return getZeroOffset(kId13, &offset); }},
        {"command saveDetParam", 5000, 1, -2, [] { return saveDetParam(kId13); }},
    };
    BusyThreads busy(2);
    for (const Case& c : cases) {
        for (int i = 0; i < c.repeats; ++i) {
            const Timed t = Time(c.call);
            EXPECT_EQ(t.rc, c.expected) << c.name;
            EXPECT_TRUE(EndedAtBudget(t, milliseconds(c.budgetMs))) << c.name;
        }
    }
}

TEST_F(MeterTest, RepliesForOtherCodesNeitherEndAWaitNorGoAstray)
{
    Meter meter = OpenMeter();
    const std::string devName = meter->Model().Identity().devName;
    SetFaults(meter, [](auto& f) { f.ignoreCodes = {0x0029}; });
    BusyThreads busy(2);
    // Every name reply wakes the zero-offset waiter, which must keep waiting.
    std::atomic<bool> stop{false};
    std::atomic<int> names{0}, wrong{0}, missed{0};
    std::thread reader([&] {
        char name[33];
        while (!stop) {
            const int rc = readDevName(kId13, name, 33);
            if (rc == 0 && devName == name)
                ++names;
            else if (rc == -4)
                ++missed;
            else
                ++wrong;
        }
    });
    double offset = 0;
    for (int i = 0; i < 5; ++i) {
        const Timed t = Time([&] { return getZeroOffset(kId13, &offset); });
        EXPECT_EQ(t.rc, -4);
        EXPECT_TRUE(EndedAtBudget(t, milliseconds(100)));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    // A few name queries may miss their 30 ms on a loaded machine; most are answered.
    EXPECT_GE(names.load(), 10);
    EXPECT_LE(missed.load() * 5, names.load()) << missed << " missed, " << names << " answered";
}

TEST_F(MeterTest, ClosingOrDroppingADeviceLeavesNoCallerWaitingPastItsDeadline)
{
    Meter meter = OpenMeter();
    SetFaults(meter, [](auto& f) { f.ignoreCodes = {0x0029}; });
    BusyThreads busy(1);
    // Callers keep asking for the unanswered zero offset: -4 while open (no reply), closed
    // (not initialised) and after the device was dropped (unknown id).
    std::atomic<bool> stop{false};
    std::atomic<int> late{0}, wrong{0};
    std::vector<std::thread> callers;
    for (int n = 0; n < 2; ++n) {
        callers.emplace_back([&] {
            double offset = 0;
            while (!stop) {
                const Timed t = Time([&] { return getZeroOffset(kId13, &offset); });
                if (t.took > milliseconds(100) + kMargin)
                    ++late;
                if (t.rc != -4)
                    ++wrong;
                if (t.took < milliseconds(1))  // closed or not yet ready: no wait was made
                    QThread::msleep(1);
            }
        });
    }
    QThread::msleep(150);
    closeDev(kId13);  // the waits in progress run out at their deadlines
    ASSERT_EQ(openDev(kId13), 0);
    ASSERT_TRUE(Ready(kId13));
    QThread::msleep(150);
    simmeter::VirtualBus::Instance().Unplug(meter);
    // The rescan drops the device once the calls holding it have returned.
    const Timed scan = Time([] { return Scan(); });
    EXPECT_EQ(scan.rc, 0);
    EXPECT_LE(scan.took, milliseconds(1000));
    EXPECT_EQ(isDevOpen(kId13), -1);
    QThread::msleep(50);
    stop = true;
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace e2e
