#include "metersource.h"

#include "devmanage.h"
#include "runview.h"

#include <QDateTime>

MeterSource::MeterSource() : steadyBase_(DeviceRecord::SteadyNowMs()) {}

qint64 MeterSource::NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

qint64 MeterSource::SteadyMs() { return DeviceRecord::SteadyNowMs() - steadyBase_; }

bool MeterSource::Bind()
{
    DevManage *manager = DevManage::Instance();
    DeviceRecordPtr rec = manager->GetDevRecord(manager->GetSelDev());
    if (!rec)
        return false;
    devSerial_ = rec->devSerial;
    detSerial_ = rec->detSerial;
    record_ = std::move(rec);
    return true;
}

DeviceRecordPtr MeterSource::Record()
{
    if (record_ && !record_->IsRemoved())
        return record_;
    record_ = DevManage::Instance()->FindBySerials(devSerial_, detSerial_);
    return record_;
}

std::optional<double> MeterSource::FreshPowerNw()
{
    const DeviceRecordPtr rec = Record();
    if (!rec || !rec->IsFresh(DeviceRecord::SteadyNowMs()))
        return std::nullopt;
    return double(rec->LatestRaw());
}

datafile::HeaderInfo MeterSource::Identity()
{
    datafile::HeaderInfo info;
    if (const DeviceRecordPtr rec = Record())
        runview::FillIdentity(rec->id, &info);
    return info;
}
