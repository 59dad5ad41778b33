// The reading rules of the data file, written down as literally as possible (a text stream,
// QString splits, QString::toDouble). The fuzz target and the tests compare the fast reader
// in datafile.cpp with it. Only the sanitising of non-finite numbers and of an out-of-range
// start time is added, as the real reader does.
#pragma once

#include "datafile.h"

#include <QBuffer>
#include <QStringList>
#include <QTextStream>

#include <cmath>

namespace reference {

struct Result {
    datafile::ReadHeader header;
    QVector<double> keys, values;
};

inline double Number(const QString &s)
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

// Whether two readings of a header agree in every field.
inline bool SameHeader(const datafile::ReadHeader &a, const datafile::ReadHeader &b)
{
    return a.meterModel == b.meterModel && a.meterSerial == b.meterSerial &&
           a.probeModel == b.probeModel && a.probeSerial == b.probeSerial &&
           a.waveLength == b.waveLength && a.averageCount == b.averageCount &&
           a.startSeconds == b.startSeconds && a.unit == b.unit;
}

inline Result Read(QByteArray bytes, qint64 start)
{
    Result r;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QTextStream in(&buffer);
    in.setCodec("UTF-8");
    in.setAutoDetectUnicode(false);  // UTF-8 only, as the files are written
    bool begin = false;
    bool columns = false;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (!(begin && columns)) {
            if (line.contains(QStringLiteral("+begin+"))) {
                begin = true;
            } else if (line.contains(QStringLiteral("功率值"))) {
                columns = true;
                const int open = line.indexOf('(');
                const int close = line.indexOf(')');
                if (open >= 0 && close > open)
                    r.header.unit = line.mid(open + 1, close - open - 1);
            } else {
                const QStringList f = line.split(',', Qt::SkipEmptyParts);
                if (f.size() < 2)
                    continue;
                if (f[0].contains(QStringLiteral("表头型号")))
                    r.header.meterModel = f[1];
                if (f[0].contains(QStringLiteral("表头序列号")))
                    r.header.meterSerial = f[1];
                if (f[0].contains(QStringLiteral("探头型号")))
                    r.header.probeModel = f[1];
                if (f[0].contains(QStringLiteral("探头序列号")))
                    r.header.probeSerial = f[1];
                if (f[0].contains(QStringLiteral("波长")))
                    r.header.waveLength = f[1];
                if (f[0].contains(QStringLiteral("平均次数")))
                    r.header.averageCount = f[1];
                if (f[0].contains(QStringLiteral("起始时间"))) {
                    bool ok = false;
                    const double d = std::trunc(f[1].toDouble(&ok));
                    start = ok && std::isfinite(d) && d < 9223372036854775808.0 &&
                                    d >= -9223372036854775808.0
                              ? qint64(d)
                              : 0;
                    r.header.startSeconds = start;
                }
            }
            continue;
        }
        const QStringList f = line.split(',', Qt::SkipEmptyParts);
        if (f.size() < 2)
            continue;
        r.keys.append(double(start) + Number(f[0]) * 0.1);
        r.values.append(Number(f[1]));
    }
    return r;
}

}  // namespace reference
