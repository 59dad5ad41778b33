#include "devmanage.h"

#include "opticaldev.h"

#include "locking.h"

#include <QMutex>

#include <tessivar/tessivar.h>

namespace {

QMutex g_instanceMutex;
std::atomic<DevManage *> g_instance{nullptr};

QString FromAscii(const char *text)
{
    return text != nullptr ? QString::fromLatin1(text) : QString();
}

}  // namespace

DevManage *DevManage::Instance()
{
    DevManage *manager = g_instance.load(std::memory_order_acquire);
    if (manager == nullptr) {
        MutexLock locker(&g_instanceMutex);
        manager = g_instance.load(std::memory_order_relaxed);
        if (manager == nullptr) {
            static DevManage theManager;
            manager = &theManager;
            g_instance.store(manager, std::memory_order_release);
        }
    }
    return manager;
}

DevManage::DevManage() : QObject(nullptr) {}

DevManage::~DevManage()
{
    WriteLock locker(&lock_);
    for (const DeviceRecordPtr &rec : qAsConst(records_))
        rec->MarkRemoved();
    records_.clear();
}

DeviceRecordPtr DevManage::AddDevRecord(int id, const char *devName, const char *detName,
                                        const char *devSerial, const char *detSerial,
                                        const char *version)
{
    WriteLock locker(&lock_);
    if (records_.contains(id))
        return nullptr;
    auto rec = std::make_shared<DeviceRecord>(id, FromAscii(devName), FromAscii(detName),
                                              FromAscii(devSerial), FromAscii(detSerial),
                                              FromAscii(version));
    records_.insert(id, rec);
    return rec;
}

void DevManage::RemoveDev(int id)
{
    DeviceRecordPtr removed;
    {
        WriteLock locker(&lock_);
        auto it = records_.find(id);
        if (it == records_.end())
            return;
        removed = it.value();
        records_.erase(it);
    }
    removed->MarkRemoved();
}

int DevManage::GetDevIds(int *ids, int max) const
{
    if (ids == nullptr || max <= 0)
        return 0;
    ReadLock locker(&lock_);
    int n = 0;
    for (auto it = records_.cbegin(); it != records_.cend() && n < max; ++it)
        ids[n++] = it.key();
    return n;
}

int DevManage::GetDevRecords(DeviceRecordPtr *recs, int max) const
{
    if (recs == nullptr || max <= 0)
        return 0;
    ReadLock locker(&lock_);
    int n = 0;
    for (auto it = records_.cbegin(); it != records_.cend() && n < max; ++it)
        recs[n++] = it.value();
    return n;
}

DeviceRecordPtr DevManage::FindLocked(int id) const
{
    auto it = records_.constFind(id);
    return it != records_.cend() ? it.value() : nullptr;
}

DeviceRecordPtr DevManage::GetDevRecord(int id) const
{
    ReadLock locker(&lock_);
    return FindLocked(id);
}

DeviceRecordPtr DevManage::FindBySerials(const QString &devSerial, const QString &detSerial) const
{
    ReadLock locker(&lock_);
    for (const DeviceRecordPtr &rec : records_) {
        if (rec->devSerial == devSerial && rec->detSerial == detSerial)
            return rec;
    }
    return nullptr;
}

bool DevManage::GetDevNames(int id, QString *devName, QString *detName) const
{
    const DeviceRecordPtr rec = GetDevRecord(id);
    if (!rec)
        return false;
    if (devName != nullptr)
        *devName = rec->devName;
    if (detName != nullptr)
        *detName = rec->detName;
    return true;
}

QString DevManage::GetDevSerial(int id) const
{
    const DeviceRecordPtr rec = GetDevRecord(id);
    return rec ? rec->devSerial : QString();
}

QString DevManage::GetDetSerial(int id) const
{
    const DeviceRecordPtr rec = GetDevRecord(id);
    return rec ? rec->detSerial : QString();
}

QString DevManage::GetDevVersion(int id) const
{
    const DeviceRecordPtr rec = GetDevRecord(id);
    return rec ? rec->version : QString();
}

void DevManage::SetSelDev(int id) { selected_.exchange(id); }

int DevManage::GetSelDev() const { return selected_.load(); }

DeviceRecordPtr DevManage::SelectedRecord() const
{
    const int id = selected_.load();
    if (id < 0)
        return nullptr;
    return GetDevRecord(id);
}

bool DevManage::IsSelDetConnected() const
{
    // The record is looked up under the lock, the library is called after releasing it:
    // the query may take its whole reply budget and must not hold up scans and removals.
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    int state = -1;
    getDetectorState(rec->id, &state);
    return state == TESSIVAR_DETECTOR_ATTACHED;
}

void DevManage::RemoveLostDev(int id, bool rescan)
{
    if (OpticalDev *worker = GetOpticalDev()) {
        emit worker->SigCloseDev(id);
        if (rescan)
            emit worker->SigScanDev();
    }
    RemoveDev(id);
    if (GetSelDev() == id)
        SetSelDev(-1);
}

bool DevManage::GetSelPower(double *current, double totals[3]) const
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->GetPower(current, totals);
    return true;
}

bool DevManage::GetSelStatistics(double *current, double totals[3], QVector<double> *times,
                                 QVector<double> *values, bool *valid, StatBlock *block) const
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    const bool running = rec->GetPowerAndStatistics(current, totals, block, times, values);
    if (valid != nullptr)
        *valid = true;
    return running;
}

bool DevManage::GetSelStatisticsAfter(double *current, double totals[3], const WindowCursor &have,
                                      QVector<double> *times, QVector<double> *values,
                                      WindowPart *part, StatBlock *block) const
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    return rec->GetPowerAndStatisticsAfter(current, totals, block, have, times, values, part);
}

bool DevManage::GetSelStatSetting(StatSetting *setting) const
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    if (setting != nullptr)
        *setting = rec->GetStatSetting();
    return true;
}

bool DevManage::StartSelStatistics(int sampleCount, int seconds)
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->StartStatistics(sampleCount, seconds);
    return true;
}

bool DevManage::StopSelStatistics()
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->StopStatistics();
    return true;
}

bool DevManage::ResetSelTotals()
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->ResetTotals();
    return true;
}

qint64 DevManage::GetSelLatestRaw() const
{
    const DeviceRecordPtr rec = SelectedRecord();
    return rec ? rec->LatestRaw() : 0;
}

bool DevManage::GetSelRange(double *low, double *high) const
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->GetRange(low, high);
    return true;
}

bool DevManage::SetSelRange(double low, double high)
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->SetRange(low, high);
    return true;
}

QString DevManage::GetSelUnit() const
{
    const DeviceRecordPtr rec = SelectedRecord();
    return rec ? rec->Unit() : QString();
}

bool DevManage::SetSelUnit(const QString &unit)
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->SetUnit(unit);
    return true;
}

bool DevManage::SetSelAttenuation(double dB)
{
    const DeviceRecordPtr rec = SelectedRecord();
    if (!rec)
        return false;
    rec->SetAttenuation(dB);
    return true;
}
