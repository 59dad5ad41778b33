#include "appfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

#ifndef QUORVEX_INSTALL_DIR
#define QUORVEX_INSTALL_DIR ""
#endif

namespace appfolders {

namespace {

const QString kAppName = QStringLiteral("quorvex");

// An XDG base directory: the variable when it holds an absolute path, else the fallback
// under the home folder (relative values are invalid and ignored).
QString XdgDir(const QString &value, const QString &home, const char *fallback)
{
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(fallback));
}

bool IsInstallDir(const QString &appDir, const QString &installDir)
{
    if (installDir.isEmpty())
        return false;
    const QString dir = QDir::cleanPath(appDir);
    const QString place = QDir::cleanPath(installDir);
    if (QDir::isAbsolutePath(place))
        return dir == place;
    return dir.endsWith(QLatin1Char('/') + place);
}

}  // namespace

Folders Decide(const Situation &s)
{
    Folders f;
    f.installed = !s.appDirWritable || IsInstallDir(s.appDir, s.installDir);
    if (!f.installed) {
        f.data = QDir::cleanPath(s.appDir + QStringLiteral("/data"));
        f.log = QDir::cleanPath(s.currentDir + QStringLiteral("/log"));
        return f;
    }
    f.data = XdgDir(s.xdgDataHome, s.home, ".local/share") + QLatin1Char('/') + kAppName +
             QStringLiteral("/data");
    f.log = XdgDir(s.xdgStateHome, s.home, ".local/state") + QLatin1Char('/') + kAppName +
            QStringLiteral("/log");
    return f;
}

Situation Current()
{
    Situation s;
    s.appDir = QCoreApplication::applicationDirPath();
    s.appDirWritable = ::access(QFile::encodeName(s.appDir).constData(), W_OK) == 0;
    s.installDir = QStringLiteral(QUORVEX_INSTALL_DIR);
    s.currentDir = QDir::currentPath();
    s.home = QDir::homePath();
    s.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    s.xdgStateHome = qEnvironmentVariable("XDG_STATE_HOME");
    return s;
}

Folders Prepared(const Situation &s)
{
    const Folders f = Decide(s);
    // Made here so that a dialog opens in them on the very first run. Portable folders stay
    // as the user keeps them: the recorder and the log create theirs when they write.
    if (f.installed) {
        QDir().mkpath(f.data);
        QDir().mkpath(f.log);
    }
    return f;
}

QString DataFolder() { return Prepared(Current()).data; }

QString LogFolder() { return Prepared(Current()).log; }

}  // namespace appfolders
