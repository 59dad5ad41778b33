#include "metersource.h"

#include "devmanage.h"
#include "runview.h"

#include <QDateTime>
#include <QElapsedTimer>

namespace {
qint64 SteadyNowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}
}  // namespace

MeterSource::MeterSource() : steadyBase_(SteadyNowMs()) {}

qint64 MeterSource::NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

qint64 MeterSource::SteadyMs() { return SteadyNowMs() - steadyBase_; }

double MeterSource::LatestPowerNw() { return double(DevManage::Instance()->GetSelLatestRaw()); }

datafile::HeaderInfo MeterSource::Identity()
{
    datafile::HeaderInfo info;
    runview::FillIdentity(DevManage::Instance()->GetSelDev(), &info);
    return info;
}
