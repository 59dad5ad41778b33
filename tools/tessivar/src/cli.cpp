#include "cli.h"

#include <tessivar/tessivar.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "args.h"
#include "format.h"
#include "stream_engine.h"

#ifndef TESSIVAR_VERSION_STRING
#define TESSIVAR_VERSION_STRING "unknown"
#endif

namespace tessivar::cli {
namespace {

static_assert(sizeof(PowerData) == 16, "PowerData is the library's 16-byte record");

// A failure with a message for the user; ends the command with exit status 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ctrl-C while waiting for the meter: ends the command quietly, with the meter closed.
struct Interrupted {};

constexpr int kProbeAttached = TESSIVAR_DETECTOR_ATTACHED;  // as getDetectorState reports it

std::string describeCode(int code) {
    switch (code) {
    case TESSIVAR_ERR_NO_DEVICE: return "the meter is no longer known to the library";
    case TESSIVAR_ERR_NO_REPLY: return "the meter did not reply in time";
    case TESSIVAR_ERR_NOT_INITED: return "the meter is not ready";
    case TESSIVAR_ERR_ARGUMENT: return "the request was refused or got an empty reply";
    default: return "code " + std::to_string(code);
    }
}

std::string meterName(int id) { return "meter " + std::to_string(id); }

bool stopRequested(const CliEnvironment& env) { return env.stop && env.stop->load(); }

// Waits in small steps so that Ctrl-C is noticed.
void pause(const CliEnvironment& env, std::chrono::milliseconds d) {
    if (stopRequested(env)) throw Interrupted{};
    std::this_thread::sleep_for(d);
}

// The library for the length of one command: log if asked, releaseDev at the end.
class LibrarySession {
public:
    explicit LibrarySession(const std::string& logDir) {
        if (!logDir.empty()) openLog(logDir.c_str());
    }
    ~LibrarySession() { releaseDev(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    std::vector<int> scan() {
        int ids[TESSIVAR_MAX_DEVICES] = {};
        const int n = scanDev(ids, TESSIVAR_MAX_DEVICES);
        if (n < 0) throw Failure("scanning for meters failed: " + describeCode(n));
        return std::vector<int>(ids, ids + std::min(n, TESSIVAR_MAX_DEVICES));
    }
};

std::string joinIds(const std::vector<int>& ids) {
    std::string s;
    for (int id : ids) s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

// Scans and makes sure `id` is among the attached meters.
void requireAttached(LibrarySession& lib, int id) {
    const std::vector<int> ids = lib.scan();
    if (ids.empty()) throw Failure("No meter found.");
    if (std::find(ids.begin(), ids.end(), id) == ids.end())
        throw Failure("No meter with id " + std::to_string(id) + " is attached (attached: " +
                      joinIds(ids) + "; see 'tessivar scan').");
}

// An opened meter; closing (and stopping a running transfer) is guaranteed on every path.
class OpenMeter {
public:
    OpenMeter(int id, const CliEnvironment& env) : id_(id) {
        const int rc = openDev(id);
        if (rc == TESSIVAR_ERR_ARGUMENT)
            throw Failure("Cannot open " + meterName(id) +
                          " over USB (in use by another program, or no permission on its device "
                          "node: install the udev rule).");
        if (rc != TESSIVAR_OK) throw Failure("Cannot open " + meterName(id) + ": " + describeCode(rc));
        opened_ = true;
        waitReady(env);
    }
    ~OpenMeter() {
        if (streaming_) stopTransfer(id_);
        if (opened_) closeDev(id_);
    }
    OpenMeter(const OpenMeter&) = delete;
    OpenMeter& operator=(const OpenMeter&) = delete;

    int id() const { return id_; }

    void startStreaming() {
        // Records left over from earlier use are not part of this run.
        PowerData stale[64];
        while (getData(id_, stale, 64) > 0) {
        }
        const int rc = startTransfer(id_);
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot start the measurement on " + meterName(id_) + ": " + describeCode(rc));
        streaming_ = true;
    }
    void stopStreaming() {
        if (streaming_) stopTransfer(id_);
        streaming_ = false;
    }

private:
    void waitReady(const CliEnvironment& env) {
        const auto deadline = std::chrono::steady_clock::now() + env.readyTimeout;
        for (;;) {
            if (isInited(id_) == 1) {
                syncWithMeter();
                return;
            }
            if (isDevOpen(id_) != 1 || std::chrono::steady_clock::now() >= deadline)
                throw Failure("Meter " + std::to_string(id_) +
                              " is not answering (its calibration did not arrive).");
            pause(env, std::chrono::milliseconds(10));
        }
    }

    // The meter keeps its wavelength and its zero offset, but a fresh library session
    // starts from its own defaults (532 nm, no offset). Reading both from the meter makes
    // the library apply them; without it every reading would carry another wavelength's
    // spectral correction and a zero compensation would be lost when the command ends.
    void syncWithMeter() {
        int nm = 0;
        const int rc = getSampleWavelength(id_, &nm);
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot read the wavelength of " + meterName(id_) + ": " + describeCode(rc));
        double zero = 0.0;
        if (getZeroOffset(id_, &zero) != TESSIVAR_OK)
            throw Failure("Cannot read the zero offset of " + meterName(id_) + ": the meter did not reply.");
    }

    int id_;
    bool opened_ = false;
    bool streaming_ = false;
};

using TextReader = int (*)(int, char*, int);

std::optional<std::string> readText(TextReader reader, int id) {
    char buf[64];
    if (reader(id, buf, sizeof buf) != TESSIVAR_OK) return std::nullopt;
    return printableText(buf, sizeof buf);
}

std::string textOr(TextReader reader, int id, const char* fallback = "?") {
    auto t = readText(reader, id);
    return t ? *t : std::string(fallback);
}

std::pair<int, int> waveRange(int id) {
    int start = 0, end = 0;
    const int rc = getWaveRange(id, &start, &end);
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the wavelength range of " + meterName(id) + ": " + describeCode(rc));
    return {start, end};
}

void applySettings(const OpenMeter& meter, const Options& opt) {
    const int id = meter.id();
    if (opt.wavelengthNm) {
        const auto [start, end] = waveRange(id);
        if (*opt.wavelengthNm < start || *opt.wavelengthNm > end)
            throw Failure("Wavelength " + std::to_string(*opt.wavelengthNm) +
                          " nm is outside the probe's range (" + std::to_string(start) + " to " +
                          std::to_string(end) + " nm).");
        const int rc = setSampleWavelength(id, *opt.wavelengthNm);
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot set the wavelength of " + meterName(id) + ": " + describeCode(rc));
    }
    if (opt.average) {
        const int rc = setAverage(id, *opt.average);
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot set the averaging of " + meterName(id) + ": " + describeCode(rc));
    }
}

int currentWavelength(int id) {
    int nm = 0;
    const int rc = getSampleWavelength(id, &nm);
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the wavelength of " + meterName(id) + ": " + describeCode(rc));
    return nm;
}

int currentAverage(int id) {
    unsigned short count = 0;
    const int rc = getAverage(id, &count);
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the averaging of " + meterName(id) + ": " + describeCode(rc));
    return count;
}

// ---- streaming ------------------------------------------------------------------------

class LibrarySource : public SampleSource {
public:
    explicit LibrarySource(int id) : id_(id) {}
    int fetch(Sample* out, int capacity) override {
        PowerData records[401];
        const int n = getData(id_, records, std::min(capacity, 401));
        for (int i = 0; i < n; ++i) out[i] = Sample{records[i].time, records[i].power};
        return n;
    }
    LinkState checkLink() override {
        if (isDevOpen(id_) != 1) return LinkState::Closed;
        int state = 0;
        if (getDetectorState(id_, &state) != TESSIVAR_OK) return LinkState::NotAnswering;
        return state == kProbeAttached ? LinkState::Alive : LinkState::ProbeDetached;
    }

private:
    int id_;
};

// Formats records and writes them to a stream; flushes now and then so that a reader
// of the file or pipe sees the data while the stream runs.
class TextSink : public SampleSink {
public:
    using RowFn = std::string (*)(const Sample&);
    TextSink(std::ostream& os, RowFn row) : os_(os), row_(row) {}
    bool write(const Sample* samples, size_t count) override {
        std::string text;
        text.reserve(count * 64);
        for (size_t i = 0; i < count; ++i) text += row_(samples[i]);
        os_.write(text.data(), static_cast<std::streamsize>(text.size()));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFlush_ > std::chrono::milliseconds(200)) {
            os_.flush();
            lastFlush_ = now;
        }
        return os_.good();
    }
    bool flush() override {
        os_.flush();
        return os_.good();
    }

private:
    std::ostream& os_;
    RowFn row_;
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

std::string readingRow(const Sample& s) { return readingLine(s) + "\n"; }

// Explains how a stream ended; returns the exit status.
int reportStreamEnd(const StreamOutcome& o, LibrarySession& lib, int id, const std::string& target,
                    CliEnvironment& env) {
    const std::string after = " after " + std::to_string(o.written) + " samples.";
    int status = kExitOk;
    switch (o.end) {
    case StreamEnd::CountReached:
    case StreamEnd::DurationElapsed:
    case StreamEnd::Stopped:
        break;
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
        env.err << "tessivar: Reading from meter " << id << " failed (" << describeCode(o.sourceError)
                << ")" << after << "\n";
        status = kExitFailure;
        break;
    case StreamEnd::WriteFailed:
        env.err << "tessivar: Writing to " << target << " failed" << after << "\n";
        status = kExitFailure;
        break;
    }
    if (o.dropped > 0) {
        env.err << "tessivar: " << o.dropped
                << " samples were lost because the output could not keep up.\n";
        status = kExitFailure;
    }
    return status;
}

StreamOutcome streamInto(OpenMeter& meter, SampleSink& sink, const StreamConfig& config,
                         CliEnvironment& env, bool showProgress) {
    static const std::atomic<bool> never{false};
    const std::atomic<bool>& stop = env.stop ? *env.stop : never;
    LibrarySource source(meter.id());
    ProgressFn progress;
    if (showProgress && env.errIsTerminal) {
        progress = [&env](uint64_t n, double s, std::optional<double> last) {
            env.err << "\r" << progressLine(n, s, last) << "\x1b[K" << std::flush;
        };
    }
    meter.startStreaming();
    StreamOutcome outcome = runStream(source, sink, config, stop, progress);
    meter.stopStreaming();
    if (progress) env.err << "\r\x1b[K" << std::flush;
    return outcome;
}

// ---- commands ---------------------------------------------------------------------------

int cmdScan(LibrarySession& lib, CliEnvironment& env) {
    const std::vector<int> ids = lib.scan();
    if (ids.empty()) {
        env.err << "No meter found.\n";
        return kExitFailure;
    }
    // Open all at once so that their calibration reads overlap.
    std::vector<bool> opened(ids.size(), false);
    for (size_t i = 0; i < ids.size(); ++i) opened[i] = openDev(ids[i]) == TESSIVAR_OK;
    const auto deadline = std::chrono::steady_clock::now() + env.readyTimeout;
    std::vector<std::vector<std::string>> rows;
    try {
        for (;;) {
            bool waiting = false;
            for (size_t i = 0; i < ids.size(); ++i)
                if (opened[i] && isInited(ids[i]) != 1 && isDevOpen(ids[i]) == 1) waiting = true;
            if (!waiting || std::chrono::steady_clock::now() >= deadline) break;
            pause(env, std::chrono::milliseconds(10));
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            const int id = ids[i];
            if (!opened[i]) {
                rows.push_back({std::to_string(id), "(cannot open over USB)"});
            } else if (isInited(id) != 1) {
                rows.push_back({std::to_string(id), "(not answering)"});
            } else {
                rows.push_back({std::to_string(id), textOr(readDevName, id), textOr(readDevSerial, id),
                                textOr(readDetName, id), textOr(readDetSerial, id),
                                textOr(readVersion, id)});
            }
        }
    } catch (const Interrupted&) {
        for (size_t i = 0; i < ids.size(); ++i)
            if (opened[i]) closeDev(ids[i]);
        throw;
    }
    for (size_t i = 0; i < ids.size(); ++i)
        if (opened[i]) closeDev(ids[i]);
    env.out << formatTable({"ID", "Meter head", "Head serial", "Probe", "Probe serial", "Firmware"}, rows);
    return kExitOk;
}

int cmdInfo(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    requireAttached(lib, opt.id);
    OpenMeter meter(opt.id, env);
    const int id = opt.id;

    char date[TESSIVAR_CALIBRATION_DATE_SIZE] = {};
    getCalibrationDate(id, date);
    const auto [start, end] = waveRange(id);
    const int nm = currentWavelength(id);
    const int average = currentAverage(id);
    double zero = 0.0;
    if (getZeroOffset(id, &zero) != TESSIVAR_OK)
        throw Failure("Cannot read the zero offset of " + meterName(id) + ": the meter did not reply.");
    int state = 0;
    const int stateRc = getDetectorState(id, &state);
    std::string probeState;
    if (stateRc != TESSIVAR_OK) probeState = "unknown (" + describeCode(stateRc) + ")";
    else if (state == kProbeAttached) probeState = "attached";
    else probeState = "detached (state " + std::to_string(state) + ")";

    env.out << formatFields({
        {"Meter", std::to_string(id)},
        {"Meter head", textOr(readDevName, id) + " (serial " + textOr(readDevSerial, id) + ")"},
        {"Probe", textOr(readDetName, id) + " (serial " + textOr(readDetSerial, id) + ")"},
        {"Firmware", textOr(readVersion, id)},
        {"Calibration date", printableText(date, sizeof date)},
        {"Wavelength range", std::to_string(start) + " to " + std::to_string(end) + " nm"},
        {"Wavelength", std::to_string(nm) + " nm"},
        {"Averaging", std::to_string(average)},
        {"Zero offset", formatPowerSi(zero)},
        {"Probe state", probeState},
    });
    return kExitOk;
}

int cmdRead(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    requireAttached(lib, opt.id);
    OpenMeter meter(opt.id, env);
    applySettings(meter, opt);
    TextSink sink(env.out, &readingRow);
    StreamConfig config;
    config.count = opt.count;
    const StreamOutcome o = streamInto(meter, sink, config, env, false);
    return reportStreamEnd(o, lib, opt.id, "standard output", env);
}

int cmdStream(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    requireAttached(lib, opt.id);
    OpenMeter meter(opt.id, env);
    applySettings(meter, opt);

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
    if (csv) *os << csvHeader();
    TextSink sink(*os, csv ? &csvRow : &jsonlRow);
    StreamConfig config;
    config.count = opt.count;
    if (opt.durationS) config.duration = std::chrono::duration<double>(*opt.durationS);
    const StreamOutcome o = streamInto(meter, sink, config, env, file.is_open() || !env.outIsTerminal);
    int status = reportStreamEnd(o, lib, opt.id, target, env);
    if (file.is_open()) {
        file.close();
        if (file.fail() && status == kExitOk) {
            env.err << "tessivar: Writing to " << target << " failed.\n";
            status = kExitFailure;
        }
    }
    if (status == kExitOk && env.errIsTerminal)
        env.err << "Wrote " << o.written << " samples to " << target << ".\n";
    return status;
}

int cmdSet(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    requireAttached(lib, opt.id);
    OpenMeter meter(opt.id, env);
    applySettings(meter, opt);
    std::vector<std::pair<std::string, std::string>> fields;
    if (opt.wavelengthNm) fields.push_back({"Wavelength", std::to_string(currentWavelength(opt.id)) + " nm"});
    if (opt.average) fields.push_back({"Averaging", std::to_string(currentAverage(opt.id))});
    env.out << formatFields(fields);
    return kExitOk;
}

int cmdZero(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    requireAttached(lib, opt.id);
    OpenMeter meter(opt.id, env);
    const int id = opt.id;
    // The offset is taken from the latest sample, so fresh samples must be flowing:
    // without them the library would store a stale or zero value.
    meter.startStreaming();
    int fresh = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (fresh < 3) {
        PowerData rec[64];
        const int n = getData(id, rec, 64);
        if (n > 0) fresh += n;
        else if (std::chrono::steady_clock::now() >= deadline)
            throw Failure("Meter " + std::to_string(id) +
                          " delivers no readings; zero compensation needs a current reading.");
        else pause(env, std::chrono::milliseconds(10));
    }
    const int rc = resetZeroOffset(id);
    meter.stopStreaming();
    if (rc != TESSIVAR_OK)
        throw Failure("Zero compensation of " + meterName(id) + " failed: " + describeCode(rc));
    double zero = 0.0;
    if (getZeroOffset(id, &zero) != TESSIVAR_OK)
        throw Failure("Cannot read back the zero offset of " + meterName(id) + ".");
    env.out << formatFields({{"Zero offset", formatPowerSi(zero)}});
    return kExitOk;
}

}  // namespace

int runCli(const std::vector<std::string>& args, CliEnvironment& env) {
    const ParseResult parsed = parseArgs(args);
    if (!parsed.ok) {
        env.err << "tessivar: " << parsed.error << "\n";
        env.err << "Try 'tessivar " << (parsed.command ? std::string(commandName(*parsed.command)) + " " : "")
                << "--help'.\n";
        return kExitUsage;
    }
    const Options& opt = parsed.options;
    if (opt.command == Command::Help) {
        env.out << helpText(opt.helpTopic);
        return kExitOk;
    }
    if (opt.command == Command::Version) {
        env.out << "tessivar " << TESSIVAR_VERSION_STRING << "\n";
        return kExitOk;
    }

    // The library reports USB-level trouble (e.g. every failed read after an unplug) on
    // the framework's debug stream, which goes to stderr; the tool explains failures in
    // its own words instead. A user's own logging rules are left alone.
    if (!opt.verbose && !std::getenv("QT_LOGGING_RULES")) setenv("QT_LOGGING_RULES", "default.debug=false", 0);

    try {
        LibrarySession lib(opt.logDir);
        switch (opt.command) {
        case Command::Scan: return cmdScan(lib, env);
        case Command::Info: return cmdInfo(lib, opt, env);
        case Command::Read: return cmdRead(lib, opt, env);
        case Command::Stream: return cmdStream(lib, opt, env);
        case Command::Set: return cmdSet(lib, opt, env);
        case Command::Zero: return cmdZero(lib, opt, env);
        case Command::Help:
        case Command::Version: break;
        }
    } catch (const Failure& f) {
        env.err << "tessivar: " << f.what() << "\n";
        return kExitFailure;
    } catch (const Interrupted&) {
        env.err << "tessivar: Interrupted.\n";
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace tessivar::cli
