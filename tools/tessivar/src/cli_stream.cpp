// read and stream: samples from the meter through the stream loop to the output.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli_common.h"
#include "format.h"
#include "stream_engine.h"

namespace tessivar::cli::detail {
namespace {

// How often a stream asks whether the probe is still attached.
constexpr std::chrono::milliseconds kProbeCheckInterval{2000};
// How often a text output is flushed while a stream runs.
constexpr std::chrono::milliseconds kFlushInterval{200};

class LibrarySource : public SampleSource {
public:
    explicit LibrarySource(int id) : id_(id) {}
    int fetch(Sample* out, int capacity) override
    {
        PowerData records[kLibraryQueueRecords];
        const int n = getData(id_, records, std::min(capacity, kLibraryQueueRecords));
        for (int i = 0; i < n; ++i)
            out[i] = Sample{records[i].time, records[i].power};
        return n;
    }
    LinkState checkLink() override
    {
        if (isDevOpen(id_) != 1)
            return LinkState::Closed;
        int state = 0;
        if (getDetectorState(id_, &state) != TESSIVAR_OK)
            return LinkState::NotAnswering;
        return state == kProbeAttached ? LinkState::Alive : LinkState::ProbeDetached;
    }

private:
    int id_;
};

// Formats records and writes them to a stream; flushes now and then so that a reader
// of the file or pipe sees the data while the stream runs.
class TextSink : public SampleSink {
public:
    using RowFn = std::string (*)(const Sample&, int);
    TextSink(std::ostream& os, RowFn row, int utcOffset) : os_(os), row_(row), utcOffset_(utcOffset)
    {
    }
    bool write(const Sample* samples, size_t count) override
    {
        std::string text;
        text.reserve(count * 96);
        for (size_t i = 0; i < count; ++i)
            text += row_(samples[i], utcOffset_);
        os_.write(text.data(), static_cast<std::streamsize>(text.size()));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFlush_ > kFlushInterval) {
            os_.flush();
            lastFlush_ = now;
        }
        return os_.good();
    }
    bool flush() override
    {
        os_.flush();
        return os_.good();
    }

private:
    std::ostream& os_;
    RowFn row_;
    int utcOffset_;
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

// Keeps the samples for output after the run (read --format json).
class CollectingSink : public SampleSink {
public:
    bool write(const Sample* samples, size_t count) override
    {
        samples_.insert(samples_.end(), samples, samples + count);
        return true;
    }
    bool flush() override { return true; }
    const std::vector<Sample>& samples() const { return samples_; }

private:
    std::vector<Sample> samples_;
};

std::string readingRow(const Sample& s, int) { return readingLine(s) + "\n"; }

// Explains how a stream ended; returns the exit status.
int reportStreamEnd(const StreamOutcome& o, LibrarySession& lib, int id, const std::string& target,
                    bool toStandardOutput, CliEnvironment& env)
{
    const std::string after = " after " + plural(o.written, "sample") + ".";
    int status = kExitOk;
    switch (o.end) {
    case StreamEnd::CountReached:
    case StreamEnd::DurationElapsed:
    case StreamEnd::Stopped: break;
    case StreamEnd::LinkLost: {
        std::vector<int> ids;
        try {
            ids = lib.scan();
        } catch (const Failure&) {
        }
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            env.err << "tessivar: Meter " << id << " was disconnected" << after << "\n";
        else if (o.link == LinkState::ProbeDetached)
            env.err << "tessivar: The probe of meter " << id << " was detached" << after << "\n";
        else if (o.link == LinkState::Closed)
            env.err << "tessivar: Meter " << id << " was closed by the library" << after << "\n";
        else
            env.err << "tessivar: Meter " << id << " stopped answering" << after << "\n";
        status = kExitFailure;
        break;
    }
    case StreamEnd::SourceFailed:
        env.err << "tessivar: Reading from meter " << id << " failed ("
                << describeQuery(o.sourceError) << ")" << after << "\n";
        status = kExitFailure;
        break;
    case StreamEnd::WriteFailed:
        // The reader closed the pipe (| head): it has what it wanted.
        if (toStandardOutput && outputGone(env))
            return kExitOk;
        env.err << "tessivar: Writing to " << target << " failed" << after << "\n";
        status = kExitFailure;
        break;
    }
    if (o.dropped > 0) {
        env.err << "tessivar: " << plural(o.dropped, "sample")
                << (o.dropped == 1 ? " was" : " were")
                << " lost because the output could not keep up.\n";
        status = kExitFailure;
    }
    return status;
}

StreamOutcome streamInto(OpenMeter& meter, SampleSink& sink, const StreamConfig& config,
                         CliEnvironment& env, bool showProgress)
{
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stop = env.stop ? *env.stop : never;
    LibrarySource source(meter.id());
    ProgressFn progress;
    if (showProgress && env.errIsTerminal) {
        progress = [&env](uint64_t n, double s, std::optional<double> last) {
            env.err << "\r" << progressLine(n, s, last) << "\x1b[K" << std::flush;
        };
    }
    const int id = meter.id();
    ProbeFn probe = [&env, id, &progress](bool detached) {
        if (progress)
            env.err << "\r\x1b[K";
        if (detached)
            warn(env, "the probe of " + meterName(id) +
                          " was detached: readings are not measurements of light.");
        else
            warn(env, "the probe of " + meterName(id) + " is attached again.");
    };
    StreamConfig withProbe = config;
    withProbe.probeCheckInterval = kProbeCheckInterval;
    meter.startStreaming();
    StreamOutcome outcome = runStream(source, sink, withProbe, stop, progress, probe);
    meter.stopStreaming();
    if (progress)
        env.err << "\r\x1b[K" << std::flush;
    return outcome;
}

// Applies the settings asked for and flags readings that are less than measurements.
void prepareReadings(const OpenMeter& meter, const Options& opt, CliEnvironment& env)
{
    applySettings(meter, opt);
    flagCalibration(meter.id(), env);
    flagProbe(meter.id(), env);
}

}  // namespace

int cmdRead(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    prepareReadings(meter, opt, env);
    StreamConfig config;
    config.count = opt.count;
    StreamOutcome o;
    if (opt.format == OutputFormat::Json) {
        const std::string metadata = metadataJson(id, meter);
        CollectingSink sink;
        o = streamInto(meter, sink, config, env, false);
        std::string readings = "[";
        for (size_t i = 0; i < sink.samples().size(); ++i)
            readings += (i ? "," : "") + jsonReading(sink.samples()[i], meter.utcOffset());
        env.out << jsonObject({{"metadata", metadata}, {"readings", readings + "]"}}) << "\n";
    } else {
        TextSink sink(env.out, &readingRow, meter.utcOffset());
        o = streamInto(meter, sink, config, env, false);
    }
    return reportStreamEnd(o, lib, id, "standard output", true, env);
}

int cmdStream(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    prepareReadings(meter, opt, env);

    std::ofstream file;
    std::ostream* os = &env.out;
    std::string target = "standard output";
    if (!opt.outputPath.empty() && opt.outputPath != "-") {
        file.open(opt.outputPath, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!file)
            throw Failure("Cannot create " + opt.outputPath + ": " + std::strerror(errno) + ".");
        os = &file;
        target = opt.outputPath;
    }
    const bool csv = opt.format == OutputFormat::Csv;
    const std::string metadata = metadataJson(id, meter);
    if (csv)
        *os << "# " << jsonObject({{"metadata", metadata}}) << "\n" << csvHeader();
    else
        *os << jsonObject({{"metadata", metadata}}) << "\n";
    TextSink sink(*os, csv ? &csvRow : &jsonlRow, meter.utcOffset());
    StreamConfig config;
    config.count = opt.count;
    if (opt.durationS)
        config.duration = std::chrono::duration<double>(*opt.durationS);
    const StreamOutcome o =
        streamInto(meter, sink, config, env, file.is_open() || !env.outIsTerminal);
    int status = reportStreamEnd(o, lib, id, target, !file.is_open(), env);
    if (file.is_open()) {
        file.close();
        if (file.fail() && status == kExitOk) {
            env.err << "tessivar: Writing to " << target << " failed.\n";
            status = kExitFailure;
        }
    }
    if (status == kExitOk && env.errIsTerminal && o.end != StreamEnd::WriteFailed)
        env.err << "Wrote " << plural(o.written, "sample") << " to " << target << ".\n";
    return status;
}

}  // namespace tessivar::cli::detail
