#include "opticaldev.h"

#include "appfolders.h"
#include "devmanage.h"

#include <QDebug>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <tessivar/tessivar.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kReadyWaitRounds = 300;  // x 10 ms: how long a probed meter may take to get ready
constexpr int kReadyWaitStepMs = 10;
constexpr int kDefaultWaveLenNm = 532;  // shown when the meter's wavelength cannot be read

// Buffer sizes passed to the identity readers; the library terminates within them.
constexpr int kNameBufLen = 33;
constexpr int kTextBufLen = 64;

// The meter takes whole nanometres; the fraction stays in the record only.
int WholeNm(float waveLen)
{
    if (!std::isfinite(waveLen))
        return 0;
    const double t = std::trunc(static_cast<double>(waveLen));
    if (t >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}

// The main window asks the worker's thread for an interruption before it quits it; a
// scan then gives up instead of holding the thread for seconds.
bool StopRequested() { return QThread::currentThread()->isInterruptionRequested(); }

// Calls `call` until it returns something other than `noReply`, at most kAttempts times.
// Commands report a missing reply as -2, queries as -4.
template <typename F>
int Retried(int noReply, F call)
{
    int ret = call();
    for (int i = 1; i < OpticalDev::kAttempts && ret == noReply; ++i)
        ret = call();
    return ret;
}

int GetWaveLenRetried(int id, int *nm)
{
    return Retried(TESSIVAR_ERR_ARGUMENT, [&] { return getSampleWavelength(id, nm); });
}

int GetAverageRetried(int id, unsigned short *count)
{
    return Retried(TESSIVAR_ERR_ARGUMENT, [&] { return getAverage(id, count); });
}

bool Contains(const int *ids, int count, int id)
{
    for (int i = 0; i < count; ++i) {
        if (ids[i] == id)
            return true;
    }
    return false;
}

}  // namespace

OpticalDev::OpticalDev() : QObject(nullptr)
{
    const QByteArray dir = QFile::encodeName(appfolders::LogFolder());
    openLog(dir.constData());
}

OpticalDev::~OpticalDev()
{
    // Nobody may reach the worker through the manager any more (the liveness check emits
    // on it); a newer worker registered meanwhile is left in place.
    DevManage::Instance()->ClearOpticalDev(this);
    releaseDev();
    QThread::msleep(10);
}

void OpticalDev::Init()
{
    connect(this, &OpticalDev::SigScanDev, this, &OpticalDev::ScanDev);
    connect(this, &OpticalDev::SigOpenDev, this, &OpticalDev::OpenDev);
    connect(this, &OpticalDev::SigCloseDev, this, &OpticalDev::CloseDev);
    connect(this, &OpticalDev::SigSetAverage, this, &OpticalDev::SetAverage);
    connect(this, &OpticalDev::SigSetWaveLen, this, &OpticalDev::SetWaveLen);

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &OpticalDev::UpdateStatus);
    timer->setInterval(kPollIntervalMs);
    timer->start();
}

void OpticalDev::ScanDev()
{
    DevManage *manager = DevManage::Instance();

    int ids[kMaxDevices] = {};
    int count = scanDev(ids, kMaxDevices);
    if (count < 0)
        count = 0;
    if (count > kMaxDevices)
        count = kMaxDevices;

    int known[kMaxDevices] = {};
    const int knownCount = manager->GetDevIds(known, kMaxDevices);
    for (int i = 0; i < knownCount; ++i) {
        if (!Contains(ids, count, known[i])) {
            manager->RemoveDev(known[i]);
            emit SigRemovDev(known[i]);
        }
    }

    for (int i = 0; i < count && !StopRequested(); ++i) {
        if (manager->GetDevRecord(ids[i]))
            continue;
        if (ProbeNewDev(ids[i])) {
            // The meter is announced while still open, then closed until the user
            // connects it.
            emit SigAddDev(ids[i]);
            closeDev(ids[i]);
        }
    }
    if (StopRequested())
        qDebug() << "Scan dev, stopped: the worker thread is quitting";

    emit SigScanFinish();

    // Replace the poll list; references beyond the new count are released.
    std::array<DeviceRecordPtr, kMaxDevices> fresh;
    devCount = manager->GetDevRecords(fresh.data(), kMaxDevices);
    devs.swap(fresh);
}

bool OpticalDev::ProbeNewDev(int nDevId)
{
    if (openDev(nDevId) != 0) {
        qDebug() << "Scan dev, open error!";
        return false;
    }

    int inited = 0;
    for (int round = 0; round < kReadyWaitRounds && inited == 0; ++round) {
        if (StopRequested()) {
            closeDev(nDevId);  // ScanDev writes the line
            return false;
        }
        QThread::msleep(kReadyWaitStepMs);
        inited = isInited(nDevId);
    }
    if (inited == 0) {
        qDebug() << "Scan dev, check inited timeout!";
        closeDev(nDevId);
        return false;
    }

    // A reply that misses its budget on a busy machine is asked for again, so that a
    // present meter is not left off the list for one slow answer.
    int state = -1;
    const int stateRet =
        Retried(TESSIVAR_ERR_NO_REPLY, [&] { return getDetectorState(nDevId, &state); });
    if (stateRet < 0 || state != TESSIVAR_DETECTOR_ATTACHED) {
        qDebug() << "Scan dev, detector not connected" << stateRet;
        closeDev(nDevId);
        return false;
    }

    char devName[kNameBufLen];
    char detName[kNameBufLen];
    char devSerial[kTextBufLen] = {};
    char detSerial[kTextBufLen] = {};
    char version[kTextBufLen] = {};
    const auto read = [nDevId](auto reader, char *buf, int len) {
        return Retried(TESSIVAR_ERR_ARGUMENT, [&] { return reader(nDevId, buf, len); });
    };
    if (read(readDevName, devName, kNameBufLen) < 0 ||
        read(readDevSerial, devSerial, kTextBufLen) < 0 ||
        read(readDetName, detName, kNameBufLen) < 0 ||
        read(readDetSerial, detSerial, kTextBufLen) < 0 ||
        read(readVersion, version, kTextBufLen) < 0) {
        qDebug() << "Scan dev, read dev/det name error!";
        closeDev(nDevId);
        return false;
    }
    // The readers zero-fill and terminate within the length; guard the last byte anyway.
    devName[kNameBufLen - 1] = detName[kNameBufLen - 1] = '\0';
    devSerial[kTextBufLen - 1] = detSerial[kTextBufLen - 1] = version[kTextBufLen - 1] = '\0';

    // The identity goes in with the record, so no reader sees it half written.
    DevManage::Instance()->AddDevRecord(nDevId, devName, detName, devSerial, detSerial, version);
    return true;
}

void OpticalDev::OpenDev(int nDevId)
{
    const int ret = openDev(nDevId);
    emit SigOpenFinish(nDevId, ret == 0);
}

void OpticalDev::CloseDev(int nDevId) { closeDev(nDevId); }

void OpticalDev::SetAverage(int nDevId, ushort nAverage)
{
    const int ret = Retried(TESSIVAR_ERR_NO_REPLY, [&] { return setAverage(nDevId, nAverage); });
    qDebug() << "设置采样平均个数:" << nAverage << ret;
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(nDevId);
    if (rec) {
        unsigned short used = 0;
        if (ret == TESSIVAR_OK) {
            rec->average.store(nAverage);
        } else if (GetAverageRetried(nDevId, &used) == TESSIVAR_OK) {
            rec->average.store(used);
            // Acted on but not acknowledged: the meter has it all the same.
            if (used != nAverage)
                emit SigDevMessage(nDevId, tr("平均次数设置失败，设备仍使用%1").arg(used));
        } else {
            emit SigDevMessage(nDevId, tr("平均次数设置失败，设备未应答"));
        }
    }
    emit SigSettingApplied(nDevId);
}

void OpticalDev::SetWaveLen(int nDevId, float waveLen)
{
    const int nm = WholeNm(waveLen);
    const int ret = Retried(TESSIVAR_ERR_NO_REPLY, [&] { return setSampleWavelength(nDevId, nm); });
    const DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(nDevId);
    if (ret != TESSIVAR_OK)
        qDebug() << "Set wavelength failed:" << nm << ret;
    if (rec) {
        int used = 0;
        if (ret == TESSIVAR_OK) {
            rec->waveLen.store(waveLen);
        } else if (GetWaveLenRetried(nDevId, &used) == TESSIVAR_OK) {
            // The read-back also sets the library's coefficient to what the meter uses.
            if (used == nm) {
                rec->waveLen.store(waveLen);
            } else {
                rec->waveLen.store(static_cast<float>(used));
                emit SigDevMessage(nDevId, tr("波长设置失败，设备仍使用%1nm").arg(used));
            }
        } else {
            emit SigDevMessage(nDevId, tr("波长设置失败，设备未应答"));
        }
    }
    emit SigSettingApplied(nDevId);
}

void OpticalDev::UpdateStatus()
{
    for (int i = 0; i < devCount; ++i) {
        DeviceRecord *rec = devs[static_cast<std::size_t>(i)].get();
        // A record removed by the liveness check waits here for the next scan to drop
        // it; it is neither polled nor fed any more.
        if (rec != nullptr && !rec->IsRemoved())
            PollOne(*rec);
    }
}

void OpticalDev::PollOne(DeviceRecord &rec)
{
    const int id = rec.id;
    if (isInited(id) != 1) {
        if (rec.connected) {
            rec.connected = false;
            rec.transferStarted = false;
            rec.SetStreaming(false);
            qDebug() << "Normal -> Disonn";
            emit SigConnChanged(id, false);
        }
        return;
    }

    if (!rec.connected) {
        rec.connected = true;
        rec.transferStarted = false;
        rec.startFailures = 0;
        qDebug() << "Disonn -> Normal";
        ReadSettingsOnReady(rec);
        emit SigConnChanged(id, true);
    }

    if (!rec.transferStarted && !TryStart(rec))
        return;  // retried on the next tick

    PowerData samples[kSamplesPerTick];
    const int n = getData(id, samples, kSamplesPerTick);
    if (n > 0)
        rec.AddSamples(samples, n < kSamplesPerTick ? n : kSamplesPerTick);
}

void OpticalDev::ReadSettingsOnReady(DeviceRecord &rec)
{
    const int id = rec.id;
    getWaveRange(id, &rec.waveMin, &rec.waveMax);
    // A failed read keeps what the record already holds (the settings of an earlier
    // connection); only a record that never had a wavelength shows the default.
    int waveLen = 0;
    if (GetWaveLenRetried(id, &waveLen) == TESSIVAR_OK)
        rec.waveLen.store(static_cast<float>(waveLen));
    else if (rec.waveLen.load() == 0.0f)
        rec.waveLen.store(static_cast<float>(kDefaultWaveLenNm));
    unsigned short average = 0;
    if (GetAverageRetried(id, &average) == TESSIVAR_OK)
        rec.average.store(average);
}

bool OpticalDev::TryStart(DeviceRecord &rec)
{
    rec.transferStarted = startTransfer(rec.id) == 0;
    qDebug() << "Inited, start result:" << rec.transferStarted;
    if (rec.transferStarted) {
        rec.SetStreaming(true);
        if (rec.startFailures >= kStartFailuresToReport)
            emit SigDevMessage(rec.id, tr("设备已开始传输数据"));
        rec.startFailures = 0;
        return true;
    }
    if (++rec.startFailures == kStartFailuresToReport)
        emit SigDevMessage(rec.id, tr("设备未能开始传输数据，正在重试"));
    return false;
}

int OpticalDev::ReadAverage(int nDevId)
{
    unsigned short average = 0;
    if (getAverage(nDevId, &average) < 0)
        return -1;
    return average;
}

double OpticalDev::ReadWaveLen(int nDevId)
{
    int waveLen = kDefaultWaveLenNm;
    if (getSampleWavelength(nDevId, &waveLen) < 0)
        waveLen = kDefaultWaveLenNm;
    return waveLen;
}

double OpticalDev::ReadZeroOffset(int nDevId, bool *ok)
{
    double offset = 0.0;
    const bool read =
        Retried(TESSIVAR_ERR_ARGUMENT, [&] { return getZeroOffset(nDevId, &offset); }) == 0;
    if (ok)
        *ok = read;
    return read ? offset : 0.0;
}

QString OpticalDev::ReadCalibDate(int nDevId)
{
    char date[TESSIVAR_CALIBRATION_DATE_SIZE] = {};
    if (getCalibrationDate(nDevId, date) < 0)
        return QString();
    return QString::fromLatin1(date, static_cast<int>(qstrnlen(date, sizeof date)));
}

int OpticalDev::ClearZeroOffset(int nDevId)
{
    return Retried(TESSIVAR_ERR_NO_REPLY, [&] { return resetZeroOffset(nDevId); });
}

void OpticalDev::EnterDiskMode(int nDevId) { setDevInDiskMode(nDevId, TESSIVAR_DISK_MODE_DRIVE); }
