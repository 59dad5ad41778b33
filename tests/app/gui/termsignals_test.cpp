// The application's answer to termination signals: the windows get their close events and
// the event loop ends with status 0, also when a window refuses to close.
#include "termsignals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <signal.h>

#include <ostream>
#include <string>

namespace {

class CountingWindow : public QWidget {
public:
    explicit CountingWindow(bool refuse) : refuse_(refuse) {}
    int closeEvents = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeEvents;
        if (refuse_)
            event->ignore();
        else
            QWidget::closeEvent(event);
    }

private:
    bool refuse_;
};

struct Case {
    const char *name;
    int signal;
    bool refuse;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class TermSignalsTest : public ::testing::TestWithParam<Case> {};

TEST_P(TermSignalsTest, SignalClosesWindowsAndEndsTheLoop)
{
    ASSERT_TRUE(termsignals::QuitOnTerminationSignals());
    ASSERT_TRUE(termsignals::QuitOnTerminationSignals()) << "a second call must be harmless";
    CountingWindow window(GetParam().refuse);
    window.show();
    const int sig = GetParam().signal;
    QTimer::singleShot(0, [sig] { ::raise(sig); });
    // A loop that the signal does not end would hang: a watchdog ends it with status 99.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(60000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(window.closeEvents, 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, TermSignalsTest,
                         ::testing::Values(Case{"Term", SIGTERM, false}, Case{"Int", SIGINT, false},
                                           Case{"Hup", SIGHUP, false},
                                           Case{"TermRefusedClose", SIGTERM, true}),
                         [](const ::testing::TestParamInfo<Case> &param) {
                             return std::string(param.param.name);
                         });

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // also when ctest lists the tests
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
