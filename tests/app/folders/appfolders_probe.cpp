// Prints what the application would use from where this program sits: the install place it
// was built for, "installed" or "portable", the data folder and the log folder (one a line).
// The folder tests copy it into the places they mean to try.
#include "appfolders.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const appfolders::Situation s = appfolders::Current();
    std::printf("%s\n%s\n%s\n%s\n", qPrintable(s.installDir),
                appfolders::Decide(s).installed ? "installed" : "portable",
                qPrintable(appfolders::DataFolder()), qPrintable(appfolders::LogFolder()));
    return 0;
}
