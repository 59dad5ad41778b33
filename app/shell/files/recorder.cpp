#include "recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace recorder {

QString TargetPath(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

qint64 DurationMs(int days, int hours, int minutes, int seconds)
{
    return (((qint64(days) * 24 + hours) * 60 + minutes) * 60 + seconds) * 1000;
}

qint64 StorageBytes(int mebibytes) { return qint64(mebibytes) * 1048576; }

bool NaturalLess(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            int si = i, sj = j;  // skip leading zeros, then longer means larger
            while (si < ei - 1 && a[si] == QLatin1Char('0'))
                ++si;
            while (sj < ej - 1 && b[sj] == QLatin1Char('0'))
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            const int c = QStringRef(&a, si, ei - si).compare(QStringRef(&b, sj, ej - sj));
            if (c != 0)
                return c < 0;
            if (ei - i != ej - j)
                return ei - i < ej - j;  // fewer leading zeros first
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a[i].toLower(), cb = b[j].toLower();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;  // equal but for case: a fixed order
}

QString ChooseMultiFile(const QVector<CsvFile> &files)
{
    for (int i = files.size() - 1; i >= 0; --i) {
        if (files[i].size < kRolloverBytes)
            return files[i].name;
    }
    // Every listed file is full. The count names the next file; should that name be taken
    // (files were deleted or renamed), the next free number, never a full file again.
    for (qint64 n = files.size();; ++n) {
        const QString name = QStringLiteral("sample_%1.csv").arg(n);
        const bool taken = std::any_of(files.begin(), files.end(), [&](const CsvFile &f) {
            return f.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!taken)
            return name;
    }
}

// ---- the real file system ---------------------------------------------------------

bool DiskSink::MakePath(const QString &dir) { return QDir().mkpath(dir); }

std::optional<qint64> DiskSink::FileSize(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    return info.size();
}

bool DiskSink::IsDir(const QString &path) { return QFileInfo(path).isDir(); }

QVector<CsvFile> DiskSink::ListCsv(const QString &folder)
{
    QVector<CsvFile> out;
    const QFileInfoList list = QDir(folder).entryInfoList({QStringLiteral("*.csv")},
                                                          QDir::Files | QDir::Hidden, QDir::NoSort);
    out.reserve(list.size());
    for (const QFileInfo &fi : list)
        out.append({fi.fileName(), fi.size()});
    std::sort(out.begin(), out.end(),
              [](const CsvFile &a, const CsvFile &b) { return NaturalLess(a.name, b.name); });
    return out;
}

bool DiskSink::Append(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    const bool existed = file.exists();
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    const bool ok = file.write(bytes) == bytes.size() && file.flush();
    if (ok) {
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    if (error)
        *error = file.errorString();
    // Take back a partial block so that a retry does not leave a broken or doubled row.
    file.resize(before);
    file.close();
    if (!existed)
        QFile::remove(path);
    return false;
}

// ---- the loop -----------------------------------------------------------------------

bool Recorder::Start(const Settings &settings)
{
    if (!source_.Bind())
        return false;
    settings_ = settings;
    running_ = true;
    ticks_ = missed_ = gap_ = 0;
    written_ = 0;
    pending_.clear();
    failing_ = false;
    lastError_.clear();
    lastPath_.clear();
    // Truncation toward zero of ms × 0.001; integer division does that for both signs.
    startSeconds_ = source_.NowMs() / 1000;
    startSteadyMs_ = source_.SteadyMs();
    header_ = source_.Identity();
    header_.startSeconds = startSeconds_;
    header_.unit = QStringLiteral("nw");
    return true;
}

Sample Recorder::Tick(TickEnd *end)
{
    Sample s;
    s.key = double(source_.NowMs()) * 0.001;
    if (end)
        *end = TickEnd::Running;
    if (!running_) {
        s.value = std::numeric_limits<double>::quiet_NaN();
        return s;
    }
    s.number = ticks_++;
    bool rowAdded = false;
    if (const std::optional<double> v = source_.FreshPowerNw()) {
        s.value = *v;
        s.measured = true;
        if (gap_ > 0) {
            s.delivery = Sample::Delivery::Resumed;
            s.gapTicks = gap_;
        }
        gap_ = 0;
        pending_.append({s.number, s.value});
        rowAdded = true;
    } else {
        s.value = std::numeric_limits<double>::quiet_NaN();
        ++missed_;
        if (gap_++ == 0)
            s.delivery = Sample::Delivery::Stopped;
    }
    // Every kWriteEvery rows; after a failure the next try comes kWriteEvery rows later,
    // not on every tick. A gap that begins writes what is pending: it may last all night.
    if (rowAdded && pending_.size() >= kWriteEvery &&
        (!failing_ || pending_.size() % kWriteEvery == 0)) {
        WritePending();
    } else if (s.delivery == Sample::Delivery::Stopped && !pending_.isEmpty() && !failing_) {
        WritePending();
    }
    const TickEnd why = CheckStop();
    if (why != TickEnd::Running) {
        WritePending();
        running_ = false;
    }
    if (end)
        *end = why;
    return s;
}

bool Recorder::Stop()
{
    running_ = false;
    return WritePending();
}

TickEnd Recorder::CheckStop()
{
    switch (settings_.stop) {
    case StopCondition::Storage: {
        qint64 stored = 0;
        const QString target = TargetPath(settings_.dir, settings_.name);
        if (settings_.mode == FileMode::Single) {
            stored = sink_.FileSize(target).value_or(0);
        } else if (sink_.IsDir(target)) {
            for (const CsvFile &f : sink_.ListCsv(target))
                stored += f.size;
        }
        return stored > settings_.storageBytes ? TickEnd::StorageReached : TickEnd::Running;
    }
    case StopCondition::Duration:
        return source_.SteadyMs() - startSteadyMs_ > settings_.durationMs ? TickEnd::DurationElapsed
                                                                          : TickEnd::Running;
    case StopCondition::SampleCount:
        return Rows() >= settings_.sampleCount ? TickEnd::CountReached : TickEnd::Running;
    case StopCondition::Manual: break;
    }
    return TickEnd::Running;
}

bool Recorder::WritePending()
{
    while (!pending_.isEmpty()) {
        if (!WriteBlock())
            return false;
    }
    return true;
}

bool Recorder::Fail(const QString &reason)
{
    failing_ = true;
    lastError_ = reason;
    return false;
}

bool Recorder::WriteBlock()
{
    const QString &dir = settings_.dir;
    const QString &name = settings_.name;
    if (dir.isEmpty() || name.isEmpty()) {
        return Fail(QCoreApplication::translate("recorder", "没有设置文件夹或文件名"));
    }
    QString path;
    if (settings_.mode == FileMode::Single) {
        if (!sink_.MakePath(dir))
            return Fail(QCoreApplication::translate("recorder", "无法创建文件夹%1").arg(dir));
        path = TargetPath(dir, name);
    } else {
        const QString folder = TargetPath(dir, name);
        if (!sink_.MakePath(folder)) {
            return Fail(QCoreApplication::translate("recorder", "无法创建文件夹%1").arg(folder));
        }
        path = TargetPath(folder, ChooseMultiFile(sink_.ListCsv(folder)));
    }
    const int n = std::min(pending_.size(), kRowsPerBlock);
    QString text;
    text.reserve(n * 16 + 512);
    const std::optional<qint64> size = sink_.FileSize(path);
    if (!size || *size == 0) {
        // A new file (or one left empty): the full header as the run began.
        text += datafile::Header(datafile::Variant::Recording, header_);
    }
    for (int i = 0; i < n; ++i)
        text += datafile::RecordingRow(pending_[i].number, pending_[i].value);
    QString error;
    if (!sink_.Append(path, text.toUtf8(), &error)) {
        return Fail(QCoreApplication::translate("recorder", "无法写入文件%1：%2").arg(path, error));
    }
    pending_.remove(0, n);
    written_ += n;
    failing_ = false;
    lastError_.clear();
    lastPath_ = path;
    return true;
}

}  // namespace recorder
