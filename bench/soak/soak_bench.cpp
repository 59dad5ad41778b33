// The application soak: the real main window records one of N simulated meters for a long
// time while the meters are unplugged and plugged back, one at a time, and checks that
// the recording holds only what the recorded meter sent and that every meter comes back
// by itself.
//
//   bench_app_soak [--meters N] [--duration T] [--period T] [--away T] [--out DIR]
//   T: seconds, or with a suffix s, m or h. Defaults: 4 meters, 1 h, 40 s, 6 s, a new
//   temporary folder (removed again when every check passed).
//
// The program puts itself on a virtual USB bus (it re-executes under the umockdev preload)
// and plugs the meters itself; no launcher is needed. It connects all meters through the
// device page, records the first in multiple-file mode with a manual stop, and every period
// unplugs one meter (the recorded one every other time) for `away`, then plugs it back:
// alternately at the same port and, as a twin with the same identity, at another free port.
// Every minute it prints rows, gaps, reconnects, resident memory, CPU and the load average;
// at the end one summary line. Exit status 0 when every check passed, 1 when one failed,
// 2 when the run could not be set up.
#include "soak_checks.h"

#include "appsetup.h"
#include "datafile.h"
#include "devconnwidget.h"
#include "devicerecord.h"
#include "devinfoframe.h"
#include "devmanage.h"
#include "mainwidget.h"
#include "measurewidget.h"
#include "navigationbar.h"
#include "opticaldev.h"
#include "recorder.h"
#include "scannedwidget.h"

#include "common/cpu_time.h"
#include "common/wait_until.h"
#include "simmeter/preload.h"
#include "simmeter/virtual_bus.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// ---- the recorder's counters ----------------------------------------------------------

struct Counts {
    qint64 ticks = 0;   // sample numbers used so far
    qint64 rows = 0;    // rows recorded (written or pending)
    qint64 missed = 0;  // ticks without a sample
    qint64 written = 0;
};

// The one place that knows the recorder's counter names. A recorder that skips ticks
// without a present sample counts them (Ticks, Rows, MissedTicks); an older one writes a
// row on every tick and has only Samples(): every tick is a row there and none is missed.
template <class R, class = void>
struct CountsMissedTicks : std::false_type {
};
template <class R>
struct CountsMissedTicks<R, std::void_t<decltype(std::declval<const R&>().MissedTicks())>>
    : std::true_type {
};

template <class R>
Counts CountsOf(const R& r)
{
    if constexpr (CountsMissedTicks<R>::value)
        return {r.Ticks(), r.Rows(), r.MissedTicks(), r.Written()};
    else
        return {r.Samples(), r.Samples(), 0, r.Written()};
}
constexpr const char* kCounterSource = CountsMissedTicks<recorder::Recorder>::value
                                         ? "Ticks/Rows/MissedTicks"
                                         : "Samples (a row on every tick)";

// ---- options --------------------------------------------------------------------------

struct Options {
    int meters = 4;
    double durationS = 3600;
    double periodS = 40;
    double awayS = 6;
    QString out;  // empty: a temporary folder
};

// "90", "90s", "15m", "1h" in seconds; negative when malformed.
double ParseSeconds(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(v > 0))
        return -1;
    const std::string unit(end);
    if (unit.empty() || unit == "s")
        return v;
    if (unit == "m")
        return v * 60;
    if (unit == "h")
        return v * 3600;
    return -1;
}

bool ParseOptions(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--meters" && hasValue) {
            o->meters = std::atoi(argv[++i]);
        } else if (arg == "--duration" && hasValue) {
            o->durationS = ParseSeconds(argv[++i]);
        } else if (arg == "--period" && hasValue) {
            o->periodS = ParseSeconds(argv[++i]);
        } else if (arg == "--away" && hasValue) {
            o->awayS = ParseSeconds(argv[++i]);
        } else if (arg == "--out" && hasValue) {
            o->out = QString::fromLocal8Bit(argv[++i]);
        } else {
            return false;
        }
    }
    return o->meters >= 1 && o->meters <= soak::kMaxMeters && o->durationS > 0 && o->awayS > 0 &&
           o->periodS > o->awayS;
}

// ---- the process ----------------------------------------------------------------------

double ResidentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;  // kB
    }
    return 0;
}

std::string LoadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Qt's messages (the library's and the worker's diagnostics: several a second while a
// meter is away) go to <out>/messages.log, so that the soak's own lines stay readable;
// critical and fatal ones also to stderr.
std::mutex g_logMutex;
FILE* g_log = nullptr;
std::atomic<long> g_logLines{0};

void LogMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    const QByteArray line = text.toLocal8Bit();
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        if (g_log) {
            std::fprintf(g_log, "%s\n", line.constData());
            std::fflush(g_log);
        }
    }
    ++g_logLines;
    if (type == QtCriticalMsg || type == QtFatalMsg || !g_log)
        std::fprintf(stderr, "%s\n", line.constData());
}

using bench::WaitUntil;

// The library's device id of a meter on root port `port` of bus 1 ("1-<port>").
int IdOfPort(int port) { return port << 24; }

simmeter::MeterConfig ConfigOf(int index, double runS)
{
    // Noise-free steps through the meter's own powers for the whole run and beyond (a
    // twin plugged late in the run starts its own steps from its plug time).
    const std::vector<double> powers = soak::MeterPowers(index);
    simmeter::MeterConfig cfg;
    cfg.index = index;  // the identity (names, serials) follows from it
    cfg.signal.powerNw = powers[0];
    cfg.signal.noiseRel = 0;
    const int steps = static_cast<int>((runS + 600) / soak::kStepSeconds);
    for (int j = 1; j <= steps; ++j)
        cfg.signal.steps.push_back({j * soak::kStepSeconds, powers[j % powers.size()]});
    return cfg;
}

struct MeterSlot {
    int index = 0;
    int port = 0;  // where it is (or was last) plugged
    std::shared_ptr<simmeter::SimMeter> sim;
    QString devSerial, detSerial;  // as the application's record holds them
};

// One departure and return.
struct Trip {
    int meter = 0;
    bool otherPort = false;
    int fromPort = 0, toPort = 0;
    qint64 unplugMs = 0, replugMs = -1, returnMs = -1;  // DeviceRecord::SteadyNowMs()
    soak::Absence absence;                              // recorded meter only
    qint64 rowsAtBack = 0;
    bool delivered = false, card = false, selected = false, rows = false;
    bool gaveUp = false;
};

constexpr qint64 kReturnWithinMs = 20000;  // tolerant: the app rescans every ~2 s
constexpr int kPollMs = 20;
constexpr int kReportMs = 60000;

class Soak {
public:
    Soak(const Options& o, QString outDir) : opt_(o), outDir_(std::move(outDir)) {}

    int Run();

private:
    bool SetUp();
    bool ConnectAll();
    bool StartRecording();
    void Poll();
    void Depart();
    void PlugBack();
    void CheckBack(Trip& t, qint64 now);
    void Report(qint64 now);
    int Finish();

    Counts Now() const { return CountsOf(measure_->Core()); }
    QString Clock(qint64 now) const;
    DeviceRecordPtr DeliveringRecord(const MeterSlot& m, qint64 sinceMs) const;

    const Options opt_;
    const QString outDir_;
    simmeter::VirtualBus& bus_ = simmeter::VirtualBus::Instance();
    DevManage* manager_ = DevManage::Instance();
    std::unique_ptr<MainWidget> window_;
    NavigationBar* bar_ = nullptr;
    MeasureWidget* measure_ = nullptr;
    int scans_ = 0;

    std::vector<MeterSlot> meters_;
    std::vector<Trip> trips_;
    int away_ = -1;  // index into trips_ of the meter that is unplugged now
    qint64 startMs_ = 0, nextDepartureMs_ = 0, nextReportMs_ = 0;
    double cpuAtReport_ = 0;
    qint64 reportedAtMs_ = 0;
    double cpuAtStart_ = 0;
    double peakRssMb_ = 0;
    QEventLoop loop_;
};

QString Clock2(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2")
        .arg(s / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString Soak::Clock(qint64 now) const { return Clock2(now - startMs_); }

int Soak::Run()
{
    if (!SetUp())
        return 2;
    startMs_ = DeviceRecord::SteadyNowMs();
    nextDepartureMs_ = startMs_ + qint64(opt_.periodS * 1000);
    nextReportMs_ = startMs_ + kReportMs;
    reportedAtMs_ = startMs_;
    cpuAtStart_ = cpuAtReport_ = bench::ProcessCpuSeconds();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [this] { Poll(); });
    poll.start(kPollMs);
    loop_.exec();
    poll.stop();
    return Finish();
}

bool Soak::SetUp()
{
    const int ports = 2 * opt_.meters;  // the meters and as many free ports to move to
    for (int i = 0; i < opt_.meters; ++i) {
        MeterSlot m;
        m.index = i;
        m.port = i + 1;
        m.sim = bus_.Plug("1-" + std::to_string(m.port), ConfigOf(i, opt_.durationS));
        meters_.push_back(m);
    }
    std::printf("soak: %d meters on ports 1..%d (%d ports), %.0f s, a departure every %.0f s, "
                "away %.0f s\n",
                opt_.meters, opt_.meters, ports, opt_.durationS, opt_.periodS, opt_.awayS);
    std::printf("soak: output %s (Qt messages in messages.log), recorder counters: %s\n",
                qPrintable(outDir_), kCounterSource);

    window_ = std::make_unique<MainWidget>();
    QObject::connect(window_->Worker(), &OpticalDev::SigScanFinish, window_.get(),
                     [this] { ++scans_; });
    window_->show();
    if (!WaitUntil([&] { return window_->windowHandle() && window_->windowHandle()->isExposed(); },
                   10000)) {
        std::fprintf(stderr, "soak: the window was never shown\n");
        return false;
    }
    bar_ = window_->findChild<NavigationBar*>(QStringLiteral("wgNavBar"));
    measure_ = window_->findChild<MeasureWidget*>(QStringLiteral("pageMeasure"));
    if (!bar_ || !measure_) {
        std::fprintf(stderr, "soak: side bar or recorder page not found\n");
        return false;
    }
    return ConnectAll() && StartRecording();
}

bool Soak::ConnectAll()
{
    auto* page = window_->findChild<DevConnWidget*>(QStringLiteral("pageDevConn"));
    auto* scan = window_->findChild<QPushButton*>(QStringLiteral("pbScanDev"));
    WaitUntil([&] { return scans_ >= 1; }, 30000);  // the window's own first scan
    for (MeterSlot& m : meters_) {
        const int id = IdOfPort(m.port);
        // On a loaded machine a probe can miss its reply; a person would scan again.
        bool connected = false;
        for (int attempt = 0; attempt < 5 && !connected; ++attempt) {
            if (!page->FindEntry(id) || attempt > 0) {
                const int before = scans_;
                scan->click();
                WaitUntil([&] { return scans_ > before && scan->isEnabled(); }, 30000);
            }
            ScannedWidget* entry = page->FindEntry(id);
            if (!entry)
                continue;
            if (auto* button = entry->findChild<QPushButton*>(QStringLiteral("pbConn"));
                button && button->isEnabled()) {
                button->click();
            }
            connected = WaitUntil(
                [&] {
                    const DeviceRecordPtr rec = manager_->GetDevRecord(id);
                    return bar_->FindCard(id) && rec && rec->LatestRaw() != 0;
                },
                15000);
        }
        if (!connected) {
            std::fprintf(stderr, "soak: meter %d (port %d) did not connect\n", m.index, m.port);
            return false;
        }
        const DeviceRecordPtr rec = manager_->GetDevRecord(id);
        m.devSerial = rec->devSerial;
        m.detSerial = rec->detSerial;
    }
    // The recorded meter is the first: select it by its card if it is not selected yet.
    const int first = IdOfPort(meters_[0].port);
    if (manager_->GetSelDev() != first) {
        DevInfoFrame* card = bar_->FindCard(first);
        QMouseEvent release(QEvent::MouseButtonRelease, card->rect().center(), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(card, &release);
    }
    if (!WaitUntil([&] { return manager_->GetSelDev() == first; }, 5000)) {
        std::fprintf(stderr, "soak: the first meter could not be selected\n");
        return false;
    }
    std::printf("soak: %d meters connected, meter 0 selected\n", opt_.meters);
    return true;
}

bool Soak::StartRecording()
{
    window_->findChild<QPushButton*>(QStringLiteral("pbMear"))->click();
    const QString name = QStringLiteral("recording");
    if (QFileInfo::exists(outDir_ + QLatin1Char('/') + name)) {
        std::fprintf(stderr, "soak: %s/%s exists already; choose an empty output folder\n",
                     qPrintable(outDir_), qPrintable(name));
        return false;
    }
    measure_->findChild<QComboBox*>(QStringLiteral("cbFileMode"))->setCurrentIndex(1);  // 多个文档
    measure_->findChild<QLineEdit*>(QStringLiteral("leDir"))->setText(outDir_);
    measure_->findChild<QLineEdit*>(QStringLiteral("leFileName"))->setText(name);
    measure_->findChild<QRadioButton*>(QStringLiteral("rbManualStop"))->click();
    measure_->findChild<QPushButton*>(QStringLiteral("pbSetRun"))->click();
    if (!measure_->Core().Running()) {
        std::fprintf(stderr, "soak: the recording did not start\n");
        return false;
    }
    return true;
}

void Soak::Poll()
{
    const qint64 now = DeviceRecord::SteadyNowMs();
    const qint64 endMs = startMs_ + qint64(opt_.durationS * 1000);
    const qint64 awayMs = qint64(opt_.awayS * 1000);
    if (away_ < 0 && now >= nextDepartureMs_) {
        // Only a departure whose return can still be judged before the end.
        if (now + awayMs + kReturnWithinMs <= endMs)
            Depart();
        nextDepartureMs_ += qint64(opt_.periodS * 1000);
    }
    if (away_ >= 0 && now >= trips_[size_t(away_)].unplugMs + awayMs)
        PlugBack();
    for (Trip& t : trips_) {
        if (t.replugMs >= 0 && t.returnMs < 0 && !t.gaveUp)
            CheckBack(t, now);
    }
    if (now >= nextReportMs_) {
        Report(now);
        nextReportMs_ += kReportMs;
    }
    if (now >= endMs)
        loop_.quit();
}

void Soak::Depart()
{
    const soak::Departure d = soak::DepartureAt(int(trips_.size()), opt_.meters);
    MeterSlot& m = meters_[size_t(d.meter)];
    Trip t;
    t.meter = d.meter;
    t.otherPort = d.otherPort;
    t.fromPort = m.port;
    t.unplugMs = DeviceRecord::SteadyNowMs();
    t.absence.unplugTick = Now().ticks;
    bus_.Unplug(m.sim);
    std::printf("[%s] unplug meter %d%s from port %d at tick %lld\n", qPrintable(Clock(t.unplugMs)),
                m.index, d.meter == 0 ? " (recorded)" : "", m.port,
                static_cast<long long>(t.absence.unplugTick));
    trips_.push_back(t);
    away_ = int(trips_.size()) - 1;
}

void Soak::PlugBack()
{
    Trip& t = trips_[size_t(away_)];
    MeterSlot& m = meters_[size_t(t.meter)];
    if (!t.otherPort) {
        bus_.Replug(m.sim);
    } else {
        std::vector<int> taken;
        for (const MeterSlot& s : meters_)
            taken.push_back(s.port);
        const int port = soak::NextFreePort(taken, m.port, 2 * opt_.meters);
        m.sim.reset();  // the old presence is gone; a twin with its identity takes its place
        m.sim = bus_.Plug("1-" + std::to_string(port), ConfigOf(m.index, opt_.durationS));
        m.port = port;
    }
    t.toPort = m.port;
    t.replugMs = DeviceRecord::SteadyNowMs();
    std::printf("[%s] plug meter %d back at port %d (%s)\n", qPrintable(Clock(t.replugMs)), m.index,
                m.port, t.otherPort ? "a twin at another port" : "replug");
    away_ = -1;
}

DeviceRecordPtr Soak::DeliveringRecord(const MeterSlot& m, qint64 sinceMs) const
{
    DeviceRecordPtr recs[64];
    const int n = manager_->GetDevRecords(recs, 64);
    for (int i = 0; i < n; ++i) {
        const DeviceRecordPtr& r = recs[i];
        if (!r->IsRemoved() && r->devSerial == m.devSerial && r->detSerial == m.detSerial &&
            r->LastArrivalMs() >= sinceMs) {
            return r;
        }
    }
    return nullptr;
}

void Soak::CheckBack(Trip& t, qint64 now)
{
    const bool recorded = t.meter == 0;
    const DeviceRecordPtr rec = DeliveringRecord(meters_[size_t(t.meter)], t.replugMs);
    if (rec && !t.delivered) {
        t.delivered = true;
        const Counts c = Now();
        t.absence.backTick = c.ticks;
        t.rowsAtBack = c.rows;
    }
    if (rec) {
        t.card = bar_->FindCard(rec->id) != nullptr;
        t.selected = manager_->GetSelDev() == rec->id;
        t.rows = Now().rows > t.rowsAtBack;
    }
    const bool back = t.delivered && t.card && (!recorded || (t.selected && t.rows));
    if (back) {
        t.returnMs = now;
        std::printf("[%s] meter %d back as device 0x%08x after %.1f s\n", qPrintable(Clock(now)),
                    t.meter, unsigned(rec->id), double(now - t.replugMs) / 1000.0);
    } else if (now - t.replugMs > kReturnWithinMs) {
        t.gaveUp = true;
        const auto yes = [](bool b) { return b ? "yes" : "no"; };
        std::printf("[%s] meter %d NOT back %lld s after its plug: delivering %s, card %s",
                    qPrintable(Clock(now)), t.meter, static_cast<long long>(kReturnWithinMs / 1000),
                    yes(t.delivered), yes(t.card));
        if (recorded)
            std::printf(", selected %s, rows again %s", yes(t.selected), yes(t.rows));
        std::printf("\n");
    }
}

void Soak::Report(qint64 now)
{
    const Counts c = Now();
    const double cpu = bench::ProcessCpuSeconds();
    const double share = (cpu - cpuAtReport_) / (double(now - reportedAtMs_) / 1000.0) * 100.0;
    cpuAtReport_ = cpu;
    reportedAtMs_ = now;
    int back = 0, judged = 0;
    for (const Trip& t : trips_) {
        back += t.returnMs >= 0;
        judged += t.replugMs >= 0;
    }
    const double rss = ResidentMb();
    peakRssMb_ = std::max(peakRssMb_, rss);
    std::printf("[%s] rows %lld (written %lld) of %lld ticks, gaps %lld, reconnects %d/%d, "
                "rss %.1f MB, cpu %.1f %% of one core, load %s\n",
                qPrintable(Clock(now)), static_cast<long long>(c.rows),
                static_cast<long long>(c.written), static_cast<long long>(c.ticks),
                static_cast<long long>(c.missed), back, judged, rss, share, LoadAverage().c_str());
    std::fflush(stdout);
}

int Soak::Finish()
{
    const qint64 endMs = DeviceRecord::SteadyNowMs();
    const double cpuShare =
        (bench::ProcessCpuSeconds() - cpuAtStart_) / (double(endMs - startMs_) / 1000.0) * 100.0;
    peakRssMb_ = std::max(peakRssMb_, ResidentMb());
    // Stop by the button (it does nothing while no meter is selected: then the file holds
    // what was written so far).
    auto* run = measure_->findChild<QPushButton*>(QStringLiteral("pbSetRun"));
    if (run->isChecked())
        run->click();
    WaitUntil([] { return false; }, 200);
    const bool stopped = !measure_->Core().Running();
    const Counts c = Now();
    std::vector<std::string> failed;
    auto check = [&failed](bool ok, const char* name) {
        if (!ok)
            failed.push_back(name);
    };

    // (5) The files, read as the application reads them, numbers across files in order.
    const QString folder = outDir_ + QStringLiteral("/recording");
    std::vector<soak::Row> rows;
    bool filesOk = true;
    qint64 start = 0;
    const QVector<recorder::CsvFile> files = recorder::DiskSink().ListCsv(folder);
    for (const recorder::CsvFile& f : files) {
        const datafile::ReadSeries s =
            datafile::ReadDataSeries(folder + QLatin1Char('/') + f.name, start);
        start = s.outcome.header.startSeconds.value_or(start);
        if (s.outcome.status != datafile::ReadStatus::Ok || s.outcome.skippedLines != 0) {
            filesOk = false;
            std::printf("file %s: not read cleanly (%s)\n", qPrintable(f.name),
                        qPrintable(s.outcome.error));
        }
        for (int i = 0; i < s.keys.size(); ++i)
            rows.push_back({std::llround((s.keys[i] - double(start)) * 10.0), s.values[i]});
    }
    const soak::Numbering numbering = soak::CheckNumbering(rows);
    if (numbering.firstDisorder >= 0) {
        filesOk = false;
        const soak::Row& r = rows[size_t(numbering.firstDisorder)];
        std::printf("files: sample number %lld follows %lld\n", static_cast<long long>(r.number),
                    static_cast<long long>(rows[size_t(numbering.firstDisorder) - 1].number));
    }
    if (qint64(rows.size()) != c.written) {
        filesOk = false;
        std::printf("files: %zu rows, the recorder wrote %lld\n", rows.size(),
                    static_cast<long long>(c.written));
    }
    if (stopped && c.written == c.rows && !rows.empty()) {
        // Every number the files skip is a tick without a sample, and no other.
        const qint64 skipped =
            rows.front().number + numbering.skipped + (c.ticks - 1 - rows.back().number);
        if (skipped != c.missed) {
            filesOk = false;
            std::printf("files: %lld numbers skipped, the recorder counts %lld missed ticks\n",
                        static_cast<long long>(skipped), static_cast<long long>(c.missed));
        }
    }
    if (files.isEmpty())
        filesOk = false;
    check(filesOk, "files");

    // (1) Every value is one the recorded meter sent.
    qint64 foreign = 0;
    for (const soak::Row& r : rows) {
        const soak::Match m = soak::Classify(r.valueNw, 0, opt_.meters);
        if (m.origin == soak::Origin::Recorded)
            continue;
        if (++foreign <= 5) {
            std::printf("row %lld: %.6g nW is %s power\n", static_cast<long long>(r.number),
                        r.valueNw, soak::Describe(m).c_str());
        }
    }
    if (foreign > 5)
        std::printf("... %lld rows with a value the recorded meter did not send\n",
                    static_cast<long long>(foreign));
    check(foreign == 0, "values");

    // (2) No row while the recorded meter was away; (3) every meter back by itself;
    // (4) how long that took.
    qint64 inGaps = 0;
    int back = 0, judged = 0;
    std::vector<double> latencies;
    for (const Trip& t : trips_) {
        if (t.replugMs < 0)
            continue;
        ++judged;
        if (t.returnMs >= 0) {
            ++back;
            latencies.push_back(double(t.returnMs - t.replugMs) / 1000.0);
        }
        if (t.meter != 0)
            continue;
        const std::vector<int64_t> inside = soak::RowsInAbsence(rows, t.absence, c.ticks);
        inGaps += qint64(inside.size());
        if (!inside.empty()) {
            const std::string to = t.absence.backTick < 0
                                     ? std::string("the end (never back)")
                                     : "tick " + std::to_string(t.absence.backTick);
            std::printf("absence from tick %lld to %s: %zu rows (numbers %lld..%lld)\n",
                        static_cast<long long>(t.absence.unplugTick), to.c_str(), inside.size(),
                        static_cast<long long>(inside.front()),
                        static_cast<long long>(inside.back()));
        }
    }
    check(inGaps == 0, "gaps");
    check(back == judged, "returns");
    // The recorded meter is present most of the time: a recorder that writes (almost)
    // nothing fails here rather than passing every other check.
    check(c.ticks > 0 && c.rows * 2 >= c.ticks, "coverage");
    if (!stopped)
        std::printf("note: the recording did not stop by its button (no meter selected)\n");

    QString latency = QStringLiteral("n/a");
    if (!latencies.empty()) {
        latency = QStringLiteral("p50 %1 s max %2 s")
                      .arg(soak::Median(latencies), 0, 'f', 1)
                      .arg(soak::Largest(latencies), 0, 'f', 1);
    }
    std::string failedList;
    for (const std::string& f : failed)
        failedList += (failedList.empty() ? "" : ", ") + f;
    std::printf("soak %s: %d meters, %.0f s, departures %d, reconnects %d/%d, back after %s, "
                "ticks %lld, rows %lld, gaps %lld, foreign values %lld, rows in absences %lld, "
                "files %d, %ld messages logged, peak rss %.1f MB, cpu %.1f %% of one core, "
                "load %s%s%s\n",
                failed.empty() ? "PASS" : "FAIL", opt_.meters, double(endMs - startMs_) / 1000.0,
                judged, back, judged, qPrintable(latency), static_cast<long long>(c.ticks),
                static_cast<long long>(c.rows), static_cast<long long>(c.missed),
                static_cast<long long>(foreign), static_cast<long long>(inGaps), files.size(),
                g_logLines.load(), peakRssMb_, cpuShare, LoadAverage().c_str(),
                failed.empty() ? "" : "; failed: ", failedList.c_str());
    std::fflush(stdout);
    return failed.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[])
{
    Options opt;
    if (!ParseOptions(argc, argv, &opt)) {
        std::fprintf(stderr,
                     "usage: bench_app_soak [--meters 1..%d] [--duration T] [--period T] "
                     "[--away T] [--out DIR]\n  T in seconds or with s, m, h; the period must "
                     "be longer than the time away\n",
                     soak::kMaxMeters);
        return 2;
    }
    // The bus must exist before anything initialises libusb, under the preload.
    simmeter::EnsureUnderPreload(argv);
    simmeter::TightenTimerSlack();
    simmeter::VirtualBus::Instance();

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    appsetup::SetupApplication();

    std::unique_ptr<QTemporaryDir> temp;
    QString out = opt.out;
    if (out.isEmpty()) {
        temp =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/app-soak-XXXXXX"));
        temp->setAutoRemove(false);  // kept when a check fails, for a look at the files
        out = temp->path();
    }
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "soak: cannot create %s\n", qPrintable(out));
        return 2;
    }
    out = QDir(out).absolutePath();
    // The library's log goes below the working folder: keep it with the recording.
    QDir::setCurrent(out);
    g_log = std::fopen("messages.log", "w");
    qInstallMessageHandler(LogMessage);

    int rc = 2;
    {
        Soak soak(opt, out);
        rc = soak.Run();
    }  // the window (and its worker) go before the bus
    simmeter::VirtualBus::Instance().UnplugAll();
    qInstallMessageHandler(nullptr);
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        if (g_log)
            std::fclose(g_log);
        g_log = nullptr;
    }
    if (temp && rc == 0)
        QDir(out).removeRecursively();
    else
        std::printf("soak: files kept in %s\n", qPrintable(out));
    return rc;
}
