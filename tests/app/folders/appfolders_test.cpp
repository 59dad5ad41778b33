// The application's data and log folders: portable beside the program and in the current
// directory, per user when installed.
#include "appfolders.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

using appfolders::Decide;
using appfolders::Situation;

Situation Base()
{
    Situation s;
    s.appDir = QStringLiteral("/home/ana/build/bin");
    s.appDirWritable = true;
    s.installDir = QStringLiteral("lib/x86_64-linux-gnu/quorvex");
    s.currentDir = QStringLiteral("/home/ana/work");
    s.home = QStringLiteral("/home/ana");
    return s;
}

struct Case {
    const char *what;
    void (*change)(Situation &);
    bool installed;
    const char *data;
    const char *log;
};

TEST(AppFolders, DecidesPortableOrPerUser)
{
    const Case cases[] = {
        {"build tree", [](Situation &) {}, false, "/home/ana/build/bin/data", "/home/ana/work/log"},
        {"copied folder, started from elsewhere",
         [](Situation &s) {
             s.appDir = QStringLiteral("/media/usb/quorvex");
             s.currentDir = QStringLiteral("/");
         },
         false, "/media/usb/quorvex/data", "/log"},
        {"a folder that merely ends like the installed place",
         [](Situation &s) { s.appDir = QStringLiteral("/opt/mylib/x86_64-linux-gnu/quorvex"); },
         false, "/opt/mylib/x86_64-linux-gnu/quorvex/data", "/home/ana/work/log"},
        {"read-only folder, no XDG variables", [](Situation &s) { s.appDirWritable = false; }, true,
         "/home/ana/.local/share/quorvex/data", "/home/ana/.local/state/quorvex/log"},
        {"read-only folder, XDG variables",
         [](Situation &s) {
             s.appDirWritable = false;
             s.xdgDataHome = QStringLiteral("/srv/d/");
             s.xdgStateHome = QStringLiteral("/srv/s");
         },
         true, "/srv/d/quorvex/data", "/srv/s/quorvex/log"},
        {"relative XDG variables are ignored",
         [](Situation &s) {
             s.appDirWritable = false;
             s.xdgDataHome = QStringLiteral("d");
             s.xdgStateHome = QStringLiteral("./s");
         },
         true, "/home/ana/.local/share/quorvex/data", "/home/ana/.local/state/quorvex/log"},
        {"installed place unpacked into a writable folder",
         [](Situation &s) {
             s.appDir = QStringLiteral("/tmp/root/usr/lib/x86_64-linux-gnu/quorvex");
         },
         true, "/home/ana/.local/share/quorvex/data", "/home/ana/.local/state/quorvex/log"},
        {"absolute installed place",
         [](Situation &s) {
             s.installDir = QStringLiteral("/opt/q/quorvex/");
             s.appDir = QStringLiteral("/opt/q/quorvex");
         },
         true, "/home/ana/.local/share/quorvex/data", "/home/ana/.local/state/quorvex/log"},
        {"no installed place known",
         [](Situation &s) {
             s.installDir.clear();
             s.appDir = QStringLiteral("/usr/lib/quorvex");
         },
         false, "/usr/lib/quorvex/data", "/home/ana/work/log"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Situation s = Base();
        c.change(s);
        const appfolders::Folders f = Decide(s);
        EXPECT_EQ(f.installed, c.installed);
        EXPECT_EQ(f.data, QString::fromUtf8(c.data));
        EXPECT_EQ(f.log, QString::fromUtf8(c.log));
    }
}

// Puts a copy of the probe program into `dir`; returns its path, empty on failure.
QString PlaceProbe(const QString &dir)
{
    QDir().mkpath(dir);
    const QString probe = dir + QStringLiteral("/appfolders_probe");
    QFile::remove(probe);
    return QFile::copy(QStringLiteral(APPFOLDERS_PROBE), probe) ? probe : QString();
}

// The probe's lines (install place, layout, data folder, log folder); empty on failure.
QStringList RunProbe(const QString &probe, const QString &cwd, const QProcessEnvironment &env)
{
    QDir().mkpath(cwd);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(cwd);
    p.start(probe, QStringList());
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

class AppFoldersProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        env.insert(QStringLiteral("XDG_DATA_HOME"), In("xdg-data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), In("xdg-state"));
    }
    QString In(const QString &rel) const { return QDir::cleanPath(tmp.filePath(rel)); }
    QStringList RunIn(const QString &dir) { return RunProbe(PlaceProbe(dir), In("work"), env); }

    QTemporaryDir tmp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(AppFoldersProbe, CopiedFolderStaysPortableAndTheInstalledPlaceUsesPerUserFolders)
{
    // A copied folder: data beside the program, the log in the current directory, nothing
    // made anywhere. It also tells the place this build installs to.
    const QStringList first = RunIn(In("copied"));
    ASSERT_EQ(first.size(), 4) << qPrintable(first.join('|'));
    EXPECT_EQ(first[1], "portable");
    EXPECT_EQ(first[2], In("copied/data"));
    EXPECT_EQ(first[3], In("work/log"));
    EXPECT_FALSE(QFileInfo::exists(In("xdg-data")));
    EXPECT_FALSE(QFileInfo::exists(In("xdg-state")));
    ASSERT_FALSE(first[0].isEmpty());

    // The probe at that place under a fake root, as a package unpacked into a temporary
    // (writable) folder has it.
    if (QDir::isAbsolutePath(first[0]))  // cannot be faked under a temporary root
        GTEST_SKIP() << "absolute install place " << qPrintable(first[0]);
    const QString place = In("root/usr/" + first[0]);
    const QStringList out = RunIn(place);
    ASSERT_EQ(out.size(), 4) << qPrintable(out.join('|'));
    EXPECT_EQ(out[1], "installed");
    EXPECT_EQ(out[2], In("xdg-data/quorvex/data"));
    EXPECT_EQ(out[3], In("xdg-state/quorvex/log"));
    EXPECT_TRUE(QFileInfo(out[2]).isDir());
    EXPECT_TRUE(QFileInfo(out[3]).isDir());
    EXPECT_TRUE(QDir(In("work")).isEmpty());  // nothing lands in the current directory
    EXPECT_FALSE(QFileInfo::exists(place + "/data"));
}

TEST_F(AppFoldersProbe, ReadOnlyFolderUsesPerUserFolders)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes to read-only folders; the decision itself is tested above";
    const QString dir = In("readonly");
    const QString probe = PlaceProbe(dir);
    ASSERT_FALSE(probe.isEmpty());
    ASSERT_TRUE(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.insert(QStringLiteral("HOME"), In("home"));
    const QStringList out = RunProbe(probe, In("work"), env);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(out.size(), 4) << qPrintable(out.join('|'));
    EXPECT_EQ(out[1], "installed");
    EXPECT_EQ(out[2], In("home/.local/share/quorvex/data"));
    EXPECT_EQ(out[3], In("xdg-state/quorvex/log"));
}

}  // namespace
