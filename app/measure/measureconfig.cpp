#include "measureconfig.h"

#include "displayunit.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace measureconfig {

namespace {

const char kGroup[] = "dataConfig";
const char kWaveKey[] = "waveLength";
const char kAttenKey[] = "attenuation";
const char kAverageKey[] = "averageTime";
const char kUnitKey[] = "displayUnit";
const char kReferenceKey[] = "referenceNw";

QString Tr(const char *text) { return QCoreApplication::translate("measureconfig", text); }

// An integer key: decimal text (surrounding blanks allowed), clamped to [lo, hi].
bool ParseInt(const QVariant &v, int lo, int hi, int *out)
{
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok)
        return false;
    *out = static_cast<int>(std::clamp<qlonglong>(n, lo, hi));
    return true;
}

bool ParseAtten(const QVariant &v, double *out)
{
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    const double clamped = std::clamp(d, kAttenMin, kAttenMax);
    *out = std::round(clamped * 100.0) / 100.0;
    return true;
}

}  // namespace

bool Write(const QString &path, const Values &values, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable()) {
        if (error)
            *error = Tr("设置文件未保存：%1 不可写").arg(path);
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() == QSettings::FormatError) {
        if (error)
            *error = Tr("设置文件未保存：%1 不是有效的设置文件").arg(path);
        return false;
    }
    settings.beginGroup(QLatin1String(kGroup));
    settings.setValue(QLatin1String(kWaveKey), values.waveLength);
    settings.setValue(QLatin1String(kAttenKey), values.attenuation);
    settings.setValue(QLatin1String(kAverageKey), values.averageTime);
    settings.setValue(QLatin1String(kUnitKey), values.displayUnit);
    if (values.referenceNw > 0.0)
        settings.setValue(QLatin1String(kReferenceKey), values.referenceNw);
    else
        settings.remove(QLatin1String(kReferenceKey));
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError || !QFileInfo::exists(path)) {
        if (error)
            *error = Tr("设置文件未保存：无法写入 %1").arg(path);
        return false;
    }
    return true;
}

bool Read(const QString &path, Loaded *out, QString *error)
{
    *out = Loaded();
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        if (error)
            *error = Tr("设置文件未读取：无法打开 %1").arg(path);
        return false;
    }
    probe.close();

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        if (error)
            *error = Tr("设置文件未读取：%1 不是有效的设置文件").arg(path);
        return false;
    }
    settings.beginGroup(QLatin1String(kGroup));
    Loaded loaded;
    bool ok = true;
    QString badKey;
    if (settings.contains(QLatin1String(kWaveKey))) {
        int v = 0;
        if (ParseInt(settings.value(QLatin1String(kWaveKey)), kWaveMin, kWaveMax, &v))
            loaded.waveLength = v;
        else
            ok = false, badKey = QLatin1String(kWaveKey);
    }
    if (ok && settings.contains(QLatin1String(kAttenKey))) {
        double v = 0;
        if (ParseAtten(settings.value(QLatin1String(kAttenKey)), &v))
            loaded.attenuation = v;
        else
            ok = false, badKey = QLatin1String(kAttenKey);
    }
    if (ok && settings.contains(QLatin1String(kAverageKey))) {
        int v = 0;
        if (ParseInt(settings.value(QLatin1String(kAverageKey)), kAverageMin, kAverageMax, &v))
            loaded.averageTime = v;
        else
            ok = false, badKey = QLatin1String(kAverageKey);
    }
    if (ok && settings.contains(QLatin1String(kReferenceKey))) {
        bool parsed = false;
        const double v =
            settings.value(QLatin1String(kReferenceKey)).toString().trimmed().toDouble(&parsed);
        if (parsed && std::isfinite(v) && v >= 0.0) {
            if (v > 0.0)
                loaded.referenceNw = v;
        } else {
            ok = false, badKey = QLatin1String(kReferenceKey);
        }
    }
    bool unitOk = true;
    if (ok && settings.contains(QLatin1String(kUnitKey))) {
        const QString name = settings.value(QLatin1String(kUnitKey)).toString().trimmed();
        if (displayunit::FromName(name))
            loaded.displayUnit = name;
        else
            unitOk = false, badKey = QLatin1String(kUnitKey);
    }
    settings.endGroup();
    if (!ok || !unitOk) {
        if (error)
            *error = !ok ? Tr("设置文件未读取：%1 中的 %2 不是有效数字").arg(path, badKey)
                         : Tr("设置文件未读取：%1 中的 %2 不是有效的显示单位").arg(path, badKey);
        return false;
    }
    *out = loaded;
    return true;
}

}  // namespace measureconfig
