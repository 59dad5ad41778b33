// The measurement page's GUI-thread work per 50 ms tick, against a record fed by hand at
// the meter's rate (5 new samples per tick = 100 samples/s):
//   numeric page   RefreshData
//   pointer page   RefreshData, and the dial's paint at 800 x 480
//   curve page     a sample run of N points: the copy out of the store (the whole window,
//                  as the statistics read gives it, or only the samples after the curve's
//                  cursor, as RefreshData reads them), RefreshData (graph, rescale) and
//                  the replot
// Usage: bench_measure_page [window=100000] [ticks=400]   (QT_QPA_PLATFORM=offscreen)
#include "curvedata.h"
#include "datawidget.h"
#include "devmanage.h"
#include "pointerdata.h"
#include "pointerdialwidget.h"
#include "quorvex_resources.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPushButton>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kId = 0x7200;
qint64 g_timeMs = 1765000000000;

void Feed(DeviceRecord &rec, int n)
{
    std::vector<PowerData> batch(static_cast<std::size_t>(n));
    for (PowerData &s : batch) {
        g_timeMs += 10;
        s.time = g_timeMs;
        s.power = 2.0e6 + 4.0e5 * std::sin(static_cast<double>(g_timeMs) * 1e-3);
    }
    rec.AddSamples(batch.data(), n);
}

// CPU time of this thread: what a tick costs, independent of how busy the shared machine
// is (wall-clock figures on the 2-core VMs mostly measure the other jobs).
class CpuTimer {
public:
    void start() { begin = Now(); }
    qint64 nsecsElapsed() const { return Now() - begin; }

private:
    static qint64 Now()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<qint64>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    qint64 begin = 0;
};

struct Stats {
    std::vector<double> us;
    void Add(qint64 ns) { us.push_back(static_cast<double>(ns) / 1000.0); }
    double Median()
    {
        std::sort(us.begin(), us.end());
        return us.empty() ? 0 : us[us.size() / 2];
    }
    double P95()
    {
        std::sort(us.begin(), us.end());
        return us.empty() ? 0 : us[us.size() * 95 / 100];
    }
};

void Report(const char *what, Stats &s)
{
    std::printf("%-44s median %9.1f us   p95 %9.1f us  (thread CPU)\n", what, s.Median(), s.P95());
}

void TickLoop(const char *what, DataWidget &page, DeviceRecord &rec, int ticks)
{
    Stats s;
    CpuTimer t;
    for (int i = 0; i < ticks; ++i) {
        Feed(rec, 5);
        t.start();
        page.RefreshData();
        s.Add(t.nsecsElapsed());
        QCoreApplication::processEvents();
    }
    Report(what, s);
}

void CurveRun(DataWidget &page, DeviceRecord &rec, int window, int ticks, bool incremental,
              bool antialiased)
{
    CurveData *curve = page.CurveView();
    curve->Graph()->setAntialiased(antialiased);
    page.findChild<QPushButton *>(QStringLiteral("pbCurve"))->click();
    // A sample window of `window` points, filled before measuring.
    page.CurveControl(false);
    rec.StartStatistics(window, -1);
    page.CurveControl(true);  // restarts with the popup's limits: set them to ours below
    rec.StartStatistics(window, -1);
    for (int filled = 0; filled < window; filled += 1000)
        Feed(rec, 1000);
    page.RefreshData();                           // first full hand-over, not measured
    curve->Graph()->setAntialiased(antialiased);  // the view chooses by size; force it here
    curve->Plot()->replot();

    Stats copy, refresh, replot;
    CpuTimer t;
    DevManage *m = DevManage::Instance();
    double current = 0, totals[3];
    QVector<double> times, values;
    bool valid = false;
    StatBlock block;
    for (int i = 0; i < ticks; ++i) {
        Feed(rec, 5);
        t.start();
        if (incremental) {
            WindowPart part;
            m->GetSelStatisticsAfter(&current, totals,
                                     curve->Cursor(page.DisplayScale().Key(m->GetSelUnit())),
                                     &times, &values, &part, &block);
        } else {
            m->GetSelStatistics(&current, totals, &times, &values, &valid, &block);
        }
        copy.Add(t.nsecsElapsed());
        t.start();
        page.RefreshData();  // its own copy out of the store + both run views
        curve->Graph()->setAntialiased(antialiased);
        refresh.Add(t.nsecsElapsed());
        t.start();
        curve->Plot()->replot(QCustomPlot::rpImmediateRefresh);
        replot.Add(t.nsecsElapsed());
    }
    char label[96];
    const bool dbm = page.DisplayScale().IsLog();
    const char *mode = incremental ? (antialiased ? "after cursor, aa"
                                                  : (dbm ? "after cursor, dBm" : "after cursor"))
                                   : "whole window, aa";
    std::snprintf(label, sizeof label, "curve %d pts, %s: copy out", window, mode);
    Report(label, copy);
    std::snprintf(label, sizeof label, "curve %d pts, %s: RefreshData", window, mode);
    Report(label, refresh);
    std::snprintf(label, sizeof label, "curve %d pts, %s: replot", window, mode);
    Report(label, replot);
    page.CurveControl(false);
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QuorvexInitResources();
    const int window = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 400;

    DevManage *m = DevManage::Instance();
    DeviceRecordPtr rec = m->AddDevRecord(kId, "OPM", "DET");
    m->SetSelDev(kId);
    Feed(*rec, 100);

    DataWidget page;
    page.resize(1280, 720);
    page.show();
    QCoreApplication::processEvents();

    TickLoop("numeric page: RefreshData", page, *rec, ticks);
    page.findChild<QPushButton *>(QStringLiteral("pbPointer"))->click();
    TickLoop("pointer page: RefreshData", page, *rec, ticks);

    {
        PointerDialWidget dial;
        dial.resize(800, 480);
        dial.SetRange(0, 5);
        dial.SetUnit(QStringLiteral("mw"));
        QImage image(800, 480, QImage::Format_ARGB32_Premultiplied);
        Stats s;
        CpuTimer t;
        for (int i = 0; i < ticks; ++i) {
            dial.SetValue(2.5 + 2.0 * std::sin(i * 0.1));
            image.fill(Qt::black);
            t.start();
            dial.render(&image);
            s.Add(t.nsecsElapsed());
        }
        Report("dial paint 800x480", s);
    }

    // Before: the whole window handed over every tick, antialiased line. After: only what
    // slid in, then also without antialiasing.
    CurveRun(page, *rec, window, ticks, false, true);
    CurveRun(page, *rec, window, ticks, true, true);
    CurveRun(page, *rec, window, ticks, true, false);
    CurveRun(page, *rec, 1000, ticks, true, false);
    // The same in dBm: the new samples converted on each tick.
    auto *units = page.findChild<QComboBox *>(QStringLiteral("cbDisplayUnit"));
    units->setCurrentIndex(1);
    emit units->activated(1);
    CurveRun(page, *rec, window, ticks, true, false);

    m->SetSelDev(-1);
    m->RemoveDev(kId);
    return 0;
}
