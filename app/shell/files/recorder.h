// The measurement recorder's loop apart from widgets: one sample per tick from a source,
// rows written in blocks to the data files through a sink, the stop conditions.
//
// Rows: a tick writes the run's meter's newest value only while it is a present
// measurement (the source says so); otherwise the tick writes no row but still takes its
// sample number, so every row keeps the time its number gives (start + number × 0.1 s)
// and a gap in the delivery shows as a jump in the numbers.
//
// A run is one meter's run: the source is bound to the meter selected at the start, and
// the header (identity and settings) is taken then, whatever happens to the meter later.
//
// Files: single-file mode appends to dir/name; multiple-file mode treats dir/name as a
// folder of numbered files and appends to the last file (natural name order) that is still
// below 10 MiB, else starts sample_N.csv. A file that is new (or empty) gets a complete
// recording header with the run's start time; an existing one only gets rows. Sample
// numbers count from 0 in a run and continue across the files of that run.
//
// Nothing is lost when a write fails: the rows stay pending, the failure is reported
// (WriteFailing, LastError) and every later write tries again, all pending rows first. A
// stop, by hand or by a condition, writes every pending row it can.
#pragma once

#include "datafile.h"

#include <QString>
#include <QVector>

#include <optional>

namespace recorder {

constexpr qint64 kRolloverBytes = 10LL * 1024 * 1024;  // a numbered file is full from here on
constexpr int kWriteEvery = 100;                       // pending rows that trigger a write
constexpr int kRowsPerBlock = 1000;                    // rows per append (one file choice each)

enum class FileMode { Single, Multiple };
enum class StopCondition { Storage, Duration, SampleCount, Manual };

struct Settings {
    FileMode mode = FileMode::Single;
    QString dir;   // the folder the user chose
    QString name;  // file name (single) or folder name (multiple)
    StopCondition stop = StopCondition::Manual;
    qint64 storageBytes = 200LL * 1024 * 1024;
    qint64 durationMs = 30000;
    qint64 sampleCount = 1000;
};

// dir + "/" + name: the file or folder the run writes into (and the overwrite question asks about).
QString TargetPath(const QString &dir, const QString &name);
// Time stop: ((days × 24 + hours) × 60 + minutes) × 60 + seconds, in ms (64-bit).
qint64 DurationMs(int days, int hours, int minutes, int seconds);
// Storage stop: MiB in bytes (64-bit, so 10000 MiB does not overflow).
qint64 StorageBytes(int mebibytes);

// Natural order of names: digit runs compare as numbers, so sample_2 < sample_10.
bool NaturalLess(const QString &a, const QString &b);

struct CsvFile {
    QString name;
    qint64 size = 0;
};
// The multiple-file choice over the folder's .csv files in natural order: the last one
// below kRolloverBytes, else "sample_<count>.csv" (the next free number if that name is
// already taken by a full file).
QString ChooseMultiFile(const QVector<CsvFile> &files);

// ---- seams ------------------------------------------------------------------------

class Source {
public:
    virtual ~Source() = default;
    virtual qint64 NowMs() = 0;     // wall clock, ms since the epoch (UTC)
    virtual qint64 SteadyMs() = 0;  // monotonic, for the duration stop
    // Binds the source to the selected meter for a new run; false when none is selected.
    virtual bool Bind() = 0;
    // The bound meter's newest power in whole nW while it is a present measurement (the
    // meter streams and its newest sample is younger than its stale limit); nothing
    // while it delivers none, has gone, or came back and has not delivered yet.
    virtual std::optional<double> FreshPowerNw() = 0;
    // Header lines of the bound meter as it is now.
    virtual datafile::HeaderInfo Identity() = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    virtual bool MakePath(const QString &dir) = 0;
    // Size of the regular file at `path`; nothing if there is none (or it is a folder).
    virtual std::optional<qint64> FileSize(const QString &path) = 0;
    virtual bool IsDir(const QString &path) = 0;
    // The regular "*.csv" files directly in `folder`, in natural name order.
    virtual QVector<CsvFile> ListCsv(const QString &folder) = 0;
    // Appends all of `bytes` or nothing: after a failure the file is as it was (a file
    // that did not exist before is removed again). False with the reason in *error.
    virtual bool Append(const QString &path, const QByteArray &bytes, QString *error) = 0;
};

// The real file system.
class DiskSink : public Sink {
public:
    bool MakePath(const QString &dir) override;
    std::optional<qint64> FileSize(const QString &path) override;
    bool IsDir(const QString &path) override;
    QVector<CsvFile> ListCsv(const QString &folder) override;
    bool Append(const QString &path, const QByteArray &bytes, QString *error) override;
};

// ---- the loop -----------------------------------------------------------------------

enum class TickEnd { Running, StorageReached, DurationElapsed, CountReached };

// What one tick saw. A tick without a sample has value NaN, so that a plot that takes it
// as a point breaks its line there.
struct Sample {
    enum class Delivery {
        Steady,   // as on the tick before (samples, or still none)
        Stopped,  // the first tick without a sample (after samples, or at the run's start)
        Resumed   // the first sample after ticks without one (gapTicks of them)
    };
    double key = 0;    // s since the epoch, with fraction
    double value = 0;  // nW; NaN when the tick had no sample
    bool measured = false;
    qint64 number = -1;  // the tick's sample number; -1 outside a run
    Delivery delivery = Delivery::Steady;
    qint64 gapTicks = 0;  // with Resumed: the ticks the gap lasted
};

class Recorder {
public:
    Recorder(Source &source, Sink &sink) : source_(source), sink_(sink) {}

    // A new run on the selected meter: numbers from 0, start time and header now, nothing
    // pending. False (and nothing started) when no meter is selected.
    bool Start(const Settings &settings);
    // One sampling tick: takes a sample number and, if the meter delivered, a row; writes
    // once kWriteEvery rows are pending or when a gap begins; checks the stop condition. A
    // run that ends here has written what it could and stopped.
    Sample Tick(TickEnd *end = nullptr);
    // Stop by hand: writes every pending row it can. False if rows are left unwritten.
    bool Stop();
    // Writes every pending row it can (also usable after a stop, to retry).
    bool WritePending();

    bool Running() const { return running_; }
    qint64 Ticks() const { return ticks_; }                     // sample numbers taken in the run
    qint64 Rows() const { return written_ + pending_.size(); }  // rows recorded (count stop)
    qint64 Written() const { return written_; }                 // rows in files
    qint64 Pending() const { return pending_.size(); }
    qint64 MissedTicks() const { return missed_; }  // ticks of the run without a sample
    qint64 GapTicks() const { return gap_; }        // of the gap going on now; 0 if none
    qint64 StartSeconds() const { return startSeconds_; }
    const Settings &CurrentSettings() const { return settings_; }
    // The last write's fate: failing, its reason (Chinese), the file last written.
    bool WriteFailing() const { return failing_; }
    const QString &LastError() const { return lastError_; }
    const QString &LastPath() const { return lastPath_; }

    // Whether the run's stop condition holds now.
    TickEnd CheckStop();

private:
    bool WriteBlock();
    bool Fail(const QString &reason);

    Source &source_;
    Sink &sink_;
    Settings settings_;
    bool running_ = false;
    qint64 startSeconds_ = 0;
    qint64 startSteadyMs_ = 0;
    struct Row {
        qint64 number;
        double value;
    };
    datafile::HeaderInfo header_;  // the bound meter at the start
    qint64 ticks_ = 0;
    qint64 missed_ = 0;
    qint64 gap_ = 0;
    qint64 written_ = 0;    // rows already in files
    QVector<Row> pending_;  // rows not yet in a file
    bool failing_ = false;
    QString lastError_;
    QString lastPath_;
};

}  // namespace recorder
