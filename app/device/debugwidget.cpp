#include "debugwidget.h"

#include "ui_debugwidget.h"

#include "calibtables.h"
#include "devmanage.h"

#include <tessivar/tessivar.h>

#include <QCloseEvent>
#include <QFileDialog>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTextCursor>
#include <QThread>
#include <QTime>
#include <QTimer>

namespace {

constexpr int kPollIntervalMs = 30;
constexpr int kSamplesPerPoll = 30;
constexpr int kTextReadLen = 33;       // 32-byte field plus terminator
constexpr int kDetSerialReadLen = 17;  // 16-byte field plus terminator
constexpr int kChunkPauseMs = 5;       // between spectral chunks, as the meter expects

}  // namespace

DebugWidget::DebugWidget(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::DebugWidget>())
{
    ui->setupUi(this);  // also connects on_pbGetSpec_clicked by name
    setWindowFlags(windowFlags() | Qt::Window);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_StyledBackground);

    ui->pbOpenDev->setEnabled(false);
    ui->pbCloseDev->setEnabled(false);

    // What the meter keeps of an identity text: printable ASCII, cut to its field. Typing
    // anything else is refused here, so what the log reports as written is what the meter
    // holds and reads back.
    const QRegularExpression printable(QStringLiteral("[\\x20-\\x7E]*"));
    const struct {
        QLineEdit *edit;
        int field;
    } identities[] = {{ui->leDevName, calib::kDevTextField},
                      {ui->leDevSerial, calib::kDevTextField},
                      {ui->leDetName, calib::kDevTextField},
                      {ui->leDetSerial, calib::kDetSerialField}};
    for (const auto &id : identities) {
        id.edit->setMaxLength(id.field);
        id.edit->setValidator(new QRegularExpressionValidator(printable, id.edit));
    }

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DebugWidget::GetPowerData);

    connect(ui->pbScanDev, &QPushButton::clicked, this, &DebugWidget::ScanDev);
    connect(ui->pbOpenDev, &QPushButton::clicked, this, &DebugWidget::OpenDev);
    connect(ui->pbCloseDev, &QPushButton::clicked, this, &DebugWidget::CloseDev);
    connect(ui->pbSetSpec, &QPushButton::clicked, this, &DebugWidget::SetSpec);
    connect(ui->pbSetAve, &QPushButton::clicked, this, &DebugWidget::SetAve);
    connect(ui->pbStart, &QPushButton::clicked, this, &DebugWidget::StartTran);
    connect(ui->pbStop, &QPushButton::clicked, this, &DebugWidget::StopTran);
    connect(ui->pbIsDevOpen, &QPushButton::clicked, this, &DebugWidget::IsDevOpen);
    connect(ui->pbIsInited, &QPushButton::clicked, this, &DebugWidget::IsInited);
    connect(ui->pbUpdateTime, &QPushButton::clicked, this, &DebugWidget::UpdateTime);
    connect(ui->pbGetDevSerial, &QPushButton::clicked, this, &DebugWidget::GetDevSerial);
    connect(ui->pbGetDevName, &QPushButton::clicked, this, &DebugWidget::GetDevName);
    connect(ui->pbGetDetSerial, &QPushButton::clicked, this, &DebugWidget::GetDetSerial);
    connect(ui->pbGetDetName, &QPushButton::clicked, this, &DebugWidget::GetDetName);
    connect(ui->pbGetDetVer, &QPushButton::clicked, this, &DebugWidget::GetDetVer);
    connect(ui->pbSetDevSerial, &QPushButton::clicked, this, &DebugWidget::WriteDevSerial);
    connect(ui->pbSetDevName, &QPushButton::clicked, this, &DebugWidget::WriteDevName);
    connect(ui->pbSetDetSerial, &QPushButton::clicked, this, &DebugWidget::WriteDetSerial);
    connect(ui->pbSetDetName, &QPushButton::clicked, this, &DebugWidget::WriteDetName);
    connect(ui->pbGetBaseParam, &QPushButton::clicked, this, &DebugWidget::GetBaseParam);
    connect(ui->pbGetLevParam, &QPushButton::clicked, this, &DebugWidget::GetLevParam);
    connect(ui->pbGetSpecParam, &QPushButton::clicked, this, &DebugWidget::GetSpecParam);
    connect(ui->pbSetBaseParam, &QPushButton::clicked, this, &DebugWidget::WriteBaseParam);
    connect(ui->pbLevFile, &QPushButton::clicked, this, &DebugWidget::SelectLevFile);
    connect(ui->pbSetLevParam, &QPushButton::clicked, this, &DebugWidget::WriteLevParam);
    connect(ui->pbSpecFile, &QPushButton::clicked, this, &DebugWidget::SelectSpecFile);
    connect(ui->pbSetSpecParam, &QPushButton::clicked, this, &DebugWidget::WriteSpecParam);
    connect(ui->pbSaveParam, &QPushButton::clicked, this, &DebugWidget::SaveParam);
}

DebugWidget::~DebugWidget() = default;

void DebugWidget::closeEvent(QCloseEvent *event)
{
    CloseDev();
    // A closed window polls nothing; a later start on a reopened window starts it again.
    timer->stop();
    QWidget::closeEvent(event);
}

void DebugWidget::Log(const QString &text)
{
    // Appended as plain text: a path or a meter's text is never taken for markup, and the
    // leading spaces of the detail lines stay.
    QTextDocument *doc = ui->textBrowser->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    if (!doc->isEmpty() || doc->blockCount() > 1)
        cursor.insertBlock();
    cursor.insertText(text);
    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    bar->setValue(bar->maximum());
}

DeviceRecordPtr DebugWidget::WorkerRecord() const
{
    if (devId == -1)
        return nullptr;
    DeviceRecordPtr rec = DevManage::Instance()->GetDevRecord(devId);
    return rec && !rec->IsRemoved() ? rec : nullptr;
}

void DebugWidget::ScanDev()
{
    const int n = scanDev(ids, kMaxListed);
    QString text = tr("扫描设备, 设备数量: %1").arg(n);
    ui->cbDevice->clear();
    if (n >= 1) {
        ui->pbOpenDev->setEnabled(true);
        QStringList found;
        for (int i = 0; i < n && i < kMaxListed; ++i) {
            ui->cbDevice->addItem(QString::number(ids[i]));
            found << QString::number(ids[i]);
        }
        text += QLatin1Char('\n') + found.join(QLatin1Char(' '));
    } else {
        ui->pbOpenDev->setEnabled(false);
        ui->pbCloseDev->setEnabled(false);
    }
    Log(text);
}

void DebugWidget::OpenDev()
{
    const int index = ui->cbDevice->currentIndex();
    const int id = index >= 0 && index < kMaxListed ? ids[index] : -1;
    // Whoever had the meter open before keeps it; reopening our own meter keeps it ours.
    const bool mine = (id == devId && ownsDev) || isDevOpen(id) != 1;
    devId = id;
    const int ret = openDev(devId);
    ownsDev = ret == 0 && mine;
    Log(calib::WithResult(tr("打开设备 %1").arg(devId), ret == 0));
    if (ret == 0) {
        ui->pbOpenDev->setEnabled(false);
        ui->pbCloseDev->setEnabled(true);
    }
}

void DebugWidget::CloseDev()
{
    const int old = devId;
    if (old != -1 && !ownsDev) {
        Log(calib::WithResult(tr("关闭设备 %1").arg(old), false));
        Log(tr("   设备由主窗口打开, 保持打开"));
    } else {
        const int ret = closeDev(old);
        Log(calib::WithResult(tr("关闭设备 %1").arg(old), ret == 0));
    }
    devId = -1;
    ownsDev = false;
    ui->pbOpenDev->setEnabled(true);
    ui->pbCloseDev->setEnabled(false);
}

void DebugWidget::SetSpec()
{
    const int nm = ui->dsWaveLen->value();
    const int ret = setSampleWavelength(devId, nm);
    Log(calib::WithResult(tr("设置波长: %1").arg(nm), ret == 0));
}

void DebugWidget::SetAve()
{
    const int count = ui->sbAve->value();
    const int ret = setAverage(devId, count);
    Log(calib::WithResult(tr("设置平均次数: %1").arg(count), ret == 0));
}

void DebugWidget::StartTran()
{
    const int ret = startTransfer(devId);
    Log(calib::WithResult(tr("启动传输"), ret == 0));
    seen_ = RecordSeen();
    timer->start(kPollIntervalMs);
    if (WorkerRecord())
        Log(tr("   主窗口正在接收该设备的数据, 此处显示其记录的数值"));
}

void DebugWidget::StopTran()
{
    if (devId != -1 && !ownsDev) {
        Log(calib::WithResult(tr("停止传输"), false));
        Log(tr("   设备由主窗口打开, 继续传输"));
    } else {
        const int ret = stopTransfer(devId);
        Log(calib::WithResult(tr("停止传输"), ret == 0));
    }
    timer->stop();
    Log(QString());
}

void DebugWidget::IsDevOpen() { Log(tr("设备是否打开: %1").arg(isDevOpen(devId))); }

void DebugWidget::IsInited() { Log(tr("设备是否初始化: %1").arg(isInited(devId))); }

void DebugWidget::UpdateTime()
{
    calib::DevTime t;
    t.year = ui->sbYear->value();
    t.month = ui->sbMonth->value();
    t.day = ui->sbDayOfMonth->value();
    t.weekday = ui->sbDayOfWeek->value();
    t.hour = ui->sbHour->value();
    t.minute = ui->sbMinute->value();
    t.second = ui->sbSecond->value();
    const QByteArray record = calib::EncodeDevTime(t);
    const int ret = updateDevTime(devId, record.constData(), record.size());
    Log(calib::WithResult(calib::DevTimeText(t), ret == 0));
}

void DebugWidget::ReadText(ReadFn read, int bufLen, const QString &title)
{
    QByteArray buf(bufLen + 1, '\0');  // one spare zero beyond what the library may fill
    const int ret = read(devId, buf.data(), bufLen);
    Log(calib::WithResult(title, ret == 0));
    if (ret == 0)
        Log(QString::fromLatin1(buf.constData()));
}

void DebugWidget::GetDevSerial() { ReadText(readDevSerial, kTextReadLen, tr("查询设备序列号")); }
void DebugWidget::GetDevName() { ReadText(readDevName, kTextReadLen, tr("查询设备名称")); }
void DebugWidget::GetDetSerial()
{
    ReadText(readDetSerial, kDetSerialReadLen, tr("查询探头序列号"));
}
void DebugWidget::GetDetName() { ReadText(readDetName, kTextReadLen, tr("查询探头名称")); }
void DebugWidget::GetDetVer() { ReadText(readVersion, kTextReadLen, tr("查询探头版本")); }

void DebugWidget::WriteText(WriteFn write, const QString &text, int field, const QString &title)
{
    // The editors refuse what the meter cannot hold; text set behind their back is not
    // sent at all rather than stored differently from what the log would show.
    if (!calib::IsStorableIdentity(text, field)) {
        Log(calib::WithResult(title, false));
        return;
    }
    const QByteArray bytes = text.toLatin1();
    const int ret = write(devId, bytes.constData(), bytes.size());
    Log(calib::WithResult(title, ret == 0));
}

void DebugWidget::WriteDevSerial()
{
    WriteText(writeDevSerial, ui->leDevSerial->text(), calib::kDevTextField, tr("设置设备序列号"));
}
void DebugWidget::WriteDevName()
{
    WriteText(writeDevName, ui->leDevName->text(), calib::kDevTextField, tr("设置设备名称"));
}
void DebugWidget::WriteDetSerial()
{
    WriteText(writeDetSerial, ui->leDetSerial->text(), calib::kDetSerialField,
              tr("设置探头序列号"));
}
void DebugWidget::WriteDetName()
{
    WriteText(writeDetName, ui->leDetName->text(), calib::kDevTextField, tr("设置探头名称"));
}

void DebugWidget::GetBaseParam()
{
    char buf[calib::kBaseParamSize] = {};
    const int len = getBaseParam(devId, buf, calib::kBaseParamSize);
    for (const QString &text : calib::BaseParamTexts(len, buf))
        Log(text);
}

void DebugWidget::GetLevParam()
{
    char buf[calib::kLevelParamSize] = {};
    const int len = getLevParam(devId, buf, calib::kLevelParamSize);
    for (const QString &text : calib::LevelParamTexts(len, buf))
        Log(text);
}

void DebugWidget::GetSpecParam()
{
    QByteArray buf(calib::kSpecReadBufSize, '\0');
    const int len = getSpecParam(devId, buf.data(), buf.size());
    for (const QString &text : calib::SpectralParamTexts(qMin(len, buf.size()), buf.constData()))
        Log(text);
}

void DebugWidget::WriteBaseParam()
{
    calib::BaseParam p;
    p.startNm = static_cast<quint16>(ui->sbStartSpec->value());
    p.endNm = static_cast<quint16>(ui->sbEndSpec->value());
    p.lowThres = static_cast<quint16>(ui->sbLowThres->value());
    p.highThres = static_cast<quint16>(ui->sbHighThres->value());
    const QByteArray buf = calib::EncodeBaseParam(p);
    const int ret = setBaseParam(devId, buf.constData(), buf.size());
    Log(calib::WithResult(tr("设置基础参数"), ret == 0));
}

void DebugWidget::SelectFile(const QString &caption, const QString &logText, QLineEdit *target)
{
    const QString path = QFileDialog::getOpenFileName(this, caption);
    if (path.isEmpty())
        return;
    Log(logText.arg(path));
    target->setText(path);
}

void DebugWidget::SelectLevFile()
{
    SelectFile(tr("选择档位校准文件"), tr("选择档位校准文件: %1"), ui->leLevFile);
}

void DebugWidget::WriteLevParam()
{
    const QByteArray table = calib::EncodeLevelTable(calib::BuiltInLevelTable());
    const int ret = setLevParam(devId, table.constData(), table.size());
    Log(calib::WithResult(tr("设置档位校准参数"), ret == 0));
}

void DebugWidget::SelectSpecFile()
{
    SelectFile(tr("选择光谱校准文件"), tr("选择光谱校准文件: %1"), ui->leSpecFile);
}

void DebugWidget::WriteSpecParam()
{
    // Every chunk is sent, also after a failed one; the sum of the results tells.
    int sum = 0;
    for (const QByteArray &chunk : calib::SpectralChunks(calib::BuiltInSpectralTable())) {
        QThread::msleep(kChunkPauseMs);
        sum += setSpecParam(devId, chunk.constData(), chunk.size());
    }
    Log(calib::WithResult(tr("设置光谱校准参数"), sum == 0));
}

void DebugWidget::SaveParam()
{
    const int ret = saveDetParam(devId);
    Log(calib::WithResult(tr("保存参数"), ret == 0));
}

void DebugWidget::LogPower(qint64 count, const QString &power)
{
    Log(QStringLiteral("%1, data num: %2, value: %3")
            .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")))
            .arg(count)
            .arg(power));
}

void DebugWidget::ShowRecordPower(const DeviceRecord &rec)
{
    // Arrival first: the count and the value read after it are at least that batch's.
    const qint64 arrivalMs = rec.LastArrivalMs();
    const qint64 samples = rec.ArrivedSamples();
    const qint64 power = rec.LatestRaw();
    if (seen_.recordId != rec.id) {
        // The first look only sets the baseline: what arrived before is not a new batch.
        seen_ = {rec.id, arrivalMs, samples};
        return;
    }
    if (arrivalMs == seen_.arrivalMs)
        return;
    const qint64 count = samples - seen_.samples;
    seen_ = {rec.id, arrivalMs, samples};
    // Zero when the previous look already counted this batch (read while it was added).
    if (count > 0)
        LogPower(count, calib::ShortestText(static_cast<double>(power)));
}

void DebugWidget::GetPowerData()
{
    // The worker takes every sample of a meter it polls; taking some here would leave
    // holes in the main window's data and show only a share of them here. Its record
    // shows what the worker took, without taking anything.
    if (const DeviceRecordPtr rec = WorkerRecord()) {
        if (rec->IsStreaming())
            ShowRecordPower(*rec);
        return;
    }
    PowerData samples[kSamplesPerPoll];
    const int n = getData(devId, samples, kSamplesPerPoll);
    if (n <= 0)
        return;
    LogPower(n, calib::ShortestText(samples[qMin(n, kSamplesPerPoll) - 1].power));
}

void DebugWidget::on_pbGetSpec_clicked()
{
    int wl = 0;
    const int ret = getSampleWavelength(devId, &wl);
    Log(calib::WithResult(tr("读取波长(%2): %1").arg(wl).arg(ret), ret == 0));
    ui->dsWaveLen->setValue(wl);
}
