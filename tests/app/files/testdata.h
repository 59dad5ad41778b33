// The golden files in data/ and whole-file reads, for the data file and recorder tests
// (QUORVEX_FILES_DATA is the data folder, set by the test targets).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

inline QString DataPath(const char *name)
{
    return QStringLiteral(QUORVEX_FILES_DATA "/") + QLatin1String(name);
}

// The file's bytes; none if it cannot be read.
inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
