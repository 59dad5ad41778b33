// bench_recorder [viewer-MB ...]
//   Recorder: cost of one sampling tick (sample, plot, rescale, file write every 100 rows,
//   replot offscreen) after 1, 10 and 100 hours of simulated run at 10 samples a second.
//   Viewer: time, throughput and peak memory to open recordings of the given sizes (default
//   20 and 200 MB), the longest pause of the GUI thread meanwhile, and the replot time.
#include "datafile.h"
#include "devmanage.h"
#include "measurewidget.h"
#include "viewfilewidget.h"

#include "qcustomplot.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

class SimClock : public recorder::Source {
public:
    qint64 ms = 1700000000000;
    qint64 NowMs() override { return ms; }
    qint64 SteadyMs() override { return ms; }
    bool Bind() override { return true; }
    std::optional<double> FreshPowerNw() override { return 1000.0 + double((ms / 100) % 97); }
    datafile::HeaderInfo Identity() override { return {}; }
};

long PeakRssMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void RecorderTicks(const QString &dir)
{
    DevManage::Instance()->SetSelDev(0);
    auto clock = std::make_unique<SimClock>();
    SimClock *c = clock.get();
    MeasureWidget page(std::move(clock), std::make_unique<recorder::DiskSink>());
    page.resize(1100, 640);
    page.show();
    page.findChild<QLineEdit *>("leDir")->setText(dir);
    page.SampleTimer()->blockSignals(true);  // ticks are driven here, not by the timer
    page.findChild<QPushButton *>("pbSetRun")->click();
    auto *plot = page.findChild<QCustomPlot *>("wgCurve");
    const qint64 checkpoints[] = {36000, 360000, 3600000};  // 1, 10, 100 hours
    qint64 done = 0;
    QElapsedTimer all;
    all.start();
    for (qint64 target : checkpoints) {
        while (done < target - 200) {
            c->ms += 100;
            page.slot_UpdateData();
            ++done;
        }
        // The measured ticks: 200 of them, each with its replot, as the event loop runs them.
        std::vector<double> us;
        for (int i = 0; i < 200; ++i) {
            c->ms += 100;
            QElapsedTimer t;
            t.start();
            page.slot_UpdateData();
            plot->replot();
            us.push_back(t.nsecsElapsed() / 1000.0);
            ++done;
        }
        std::sort(us.begin(), us.end());
        std::printf(
            "recorder after %5.0f h: %8lld samples, plot holds %7d points, tick+replot median %.2f ms, "
            "p95 %.2f ms, max %.2f ms (plot replot %.2f ms), peak RSS %ld MB\n",
            double(done) / 36000.0, static_cast<long long>(done), plot->graph(0)->dataCount(),
            us[us.size() / 2] / 1000, us[us.size() * 95 / 100] / 1000, us.back() / 1000,
            plot->replotTime(), PeakRssMb());
    }
    page.findChild<QPushButton *>("pbSetRun")->click();
    std::printf("recorder: %lld ticks simulated in %.1f s\n", static_cast<long long>(done),
                all.elapsed() / 1000.0);
    DevManage::Instance()->SetSelDev(-1);
}

// A recording of about `megabytes`; gapEvery > 0 leaves out every gapEvery-th sample number
// (ticks the meter delivered nothing for), so the viewer breaks the line that often.
QString MakeRecording(const QString &dir, int megabytes, int gapEvery = 0)
{
    const QString path = dir + QStringLiteral("/rec_%1MB%2.csv")
                                   .arg(megabytes)
                                   .arg(gapEvery > 0 ? QStringLiteral("_gaps") : QString());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    datafile::HeaderInfo h;
    h.startSeconds = 1700000000;
    f.write(datafile::Header(datafile::Variant::Recording, h).toUtf8());
    QByteArray block;
    qint64 n = 0;
    const qint64 limit = qint64(megabytes) * 1000000;
    while (f.size() < limit) {
        block.clear();
        for (int i = 0; i < 10000; ++i, ++n) {
            if (gapEvery > 0 && n % gapEvery == gapEvery - 1)
                continue;
            block += datafile::RecordingRow(n, 1000000.0 + double((n * 7919) % 100000)).toUtf8();
        }
        f.write(block);
    }
    return path;
}

void ViewerOpen(const QString &path)
{
    viewFileWidget page;
    page.resize(1100, 640);
    page.show();
    QApplication::processEvents();
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    QElapsedTimer t;
    bool shown = false;
    QObject::connect(&page, &viewFileWidget::SigFileShown, [&] { shown = true; });
    const qint64 bytes = QFileInfo(path).size();
    t.start();
    gap.start();
    probe.start();
    page.OpenFile(path);
    while (!shown)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = t.elapsed() / 1000.0;
    // The queued replot after the hand-over is part of "answering": let it run and measure.
    QElapsedTimer r;
    r.start();
    QApplication::processEvents();
    auto *plot = page.findChild<QCustomPlot *>("widget_plot");
    plot->replot();
    const qint64 afterMs = r.elapsed();
    probe.stop();
    std::printf(
        "viewer %s: %.1f MB, %d rows in %.2f s (%.0f MB/s), GUI thread longest pause %lld ms, "
        "hand-over and first replot %lld ms, replot %.1f ms, peak RSS %ld MB\n",
        qPrintable(QFileInfo(path).fileName()), bytes / 1e6, plot->graph(0)->dataCount(), seconds,
        bytes / 1e6 / seconds, static_cast<long long>(longest), static_cast<long long>(afterMs),
        plot->replotTime(), PeakRssMb());

    // The value axis in dBm: every point converted (a copy beside the file's own points),
    // the axis fitted, one replot.
    auto *unitBox = page.findChild<QComboBox *>("cbViewUnit");
    QElapsedTimer u;
    u.start();
    unitBox->setCurrentIndex(1);
    emit unitBox->activated(1);
    plot->replot();
    std::printf("viewer %s: value axis to dBm and replot %lld ms, peak RSS %ld MB\n",
                qPrintable(QFileInfo(path).fileName()), static_cast<long long>(u.elapsed()),
                PeakRssMb());
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    // Arguments: file sizes in MB for the viewer (default 20 200); "viewer" skips the
    // recorder's long run.
    std::vector<int> sizes;
    bool recorder = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "viewer") == 0)
            recorder = false;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {20, 200};
    if (recorder)
        RecorderTicks(dir.path());
    for (int mb : sizes) {
        ViewerOpen(MakeRecording(dir.path(), mb));
        ViewerOpen(MakeRecording(dir.path(), mb, 10));  // a break after every 9 rows
    }
    return 0;
}
