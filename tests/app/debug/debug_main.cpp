// main of the debug window tests: re-executed under the virtual USB bus, then one
// QApplication for every case (Qt's own dialogs, so that tests can answer them).
#include "simmeter/testing.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        static int argc = 1;
        static char name[] = "app_debug_window_tests";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete app;
        app = nullptr;
    }

private:
    QApplication *app = nullptr;
};

}  // namespace

int main(int argc, char **argv)
{
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
    return simmeter::testing::RunAllTests(argc, argv);
}
