#include "cli.h"

#include <tessivar/tessivar.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "args.h"
#include "format.h"
#include "stream_engine.h"
#include "usb_ports.h"

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
// A query that times out once under load is asked again this often before it fails.
constexpr int kQueryAttempts = 3;

// What a failed command (0x.... with a reply expected to be empty) means.
std::string describeCommand(int code) {
    switch (code) {
    case TESSIVAR_ERR_NO_DEVICE: return "the meter is no longer known to the library";
    case TESSIVAR_ERR_NO_REPLY: return "timed out (no reply in time)";
    case TESSIVAR_ERR_NOT_INITED: return "the meter is not ready";
    case TESSIVAR_ERR_ARGUMENT: return "the meter refused the request";
    default: return "code " + std::to_string(code);
    }
}

// What a failed query means: the library reports a query without a reply in time, or
// with an empty one, as -4; at the user's end both are a reply that did not come.
std::string describeQuery(int code) {
    if (code == TESSIVAR_ERR_ARGUMENT) return "timed out (no reply in time)";
    return describeCommand(code);
}

bool timedOut(int code) { return code == TESSIVAR_ERR_NO_REPLY || code == TESSIVAR_ERR_ARGUMENT; }

std::string meterName(int id) { return "meter " + std::to_string(id); }

bool stopRequested(const CliEnvironment& env) { return env.stop && env.stop->load(); }

// Waits in small steps so that Ctrl-C is noticed.
void pause(const CliEnvironment& env, std::chrono::milliseconds d) {
    if (stopRequested(env)) throw Interrupted{};
    std::this_thread::sleep_for(d);
}

// Runs a query until it does not time out, at most kQueryAttempts times.
template <typename F>
int retried(F&& query) {
    int rc = query();
    for (int attempt = 1; attempt < kQueryAttempts && timedOut(rc); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rc = query();
    }
    return rc;
}

// The same for a command (a setting): only a missing reply (-2) is a time-out there.
template <typename F>
int retriedCommand(F&& command) {
    int rc = command();
    for (int attempt = 1; attempt < kQueryAttempts && rc == TESSIVAR_ERR_NO_REPLY; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rc = command();
    }
    return rc;
}

void warn(CliEnvironment& env, const std::string& text) { env.err << "tessivar: warning: " << text << "\n"; }

// ---- the library's log --------------------------------------------------------------

// The library's log of one command: in --log-dir if given, else in a private temporary
// directory removed at the end. The tool reads it for what only the log knows: frames
// that arrived but were rejected (bad checksum or status), shown with --verbose.
class LogFile {
public:
    explicit LogFile(const std::string& logDir) {
        if (!logDir.empty()) {
            dir_ = logDir;
            return;
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessivar-log.XXXXXX";
        if (mkdtemp(tmpl.data())) {
            dir_ = tmpl;
            owned_ = true;
        }
    }
    ~LogFile() {
        std::error_code ignored;
        if (owned_) std::filesystem::remove_all(dir_, ignored);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::string& dir() const { return dir_; }

    // Warning and error lines (of meter `id`, or of all meters for id 0), without the
    // line end. The library writes its log out when a meter is closed and at releaseDev.
    std::vector<std::string> troubleLines(int id = 0) const {
        std::vector<std::string> out;
        if (dir_.empty()) return out;
        std::ifstream f(dir_ + "/vorixOptical.log", std::ios::binary);
        const std::string tag = id ? "<" + std::to_string(id) + "> " : std::string();
        for (std::string line; std::getline(f, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find("][warning] ") == std::string::npos && line.find("][error] ") == std::string::npos)
                continue;
            if (!tag.empty() && line.find(tag) == std::string::npos) continue;
            out.push_back(line);
        }
        return out;
    }

    // Lines of meter `id` that contain `needle`.
    int count(int id, const std::string& needle) const {
        if (dir_.empty()) return 0;
        std::ifstream f(dir_ + "/vorixOptical.log", std::ios::binary);
        const std::string tag = "<" + std::to_string(id) + "> ";
        int n = 0;
        for (std::string line; std::getline(f, line);)
            n += line.find(tag) != std::string::npos && line.find(needle) != std::string::npos;
        return n;
    }

    // Replies of meter `id` that arrived and were rejected (checksum or status).
    int rejectedReplies(int id) const {
        int n = 0;
        for (const auto& line : troubleLines(id)) n += line.find("Analayze error") != std::string::npos;
        return n;
    }

private:
    std::string dir_;
    bool owned_ = false;
};

// ---- meters -------------------------------------------------------------------------

// The library for the length of one command: its log, releaseDev at the end.
class LibrarySession {
public:
    explicit LibrarySession(const LogFile& log) : log_(log) {
        if (!log.dir().empty()) openLog(log.dir().c_str());
    }
    ~LibrarySession() { releaseDev(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    const LogFile& log() const { return log_; }

    // The attached meters' ids, sorted.
    std::vector<int> scan() {
        int ids[TESSIVAR_MAX_DEVICES] = {};
        const int n = scanDev(ids, TESSIVAR_MAX_DEVICES);
        if (n < 0) throw Failure("scanning for meters failed: " + describeCommand(n));
        std::vector<int> out(ids, ids + std::min(n, TESSIVAR_MAX_DEVICES));
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    const LogFile& log_;
};

std::string joinIds(const std::vector<int>& ids) {
    std::string s;
    for (int id : ids) s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

// Why openDev refused: the library says -4 both for a meter that another program holds
// and for a device node the user may not open; the node's permissions tell them apart.
std::string openRefusal(int id) {
    const UsbLocation where = locateMeter(id);
    if (!where.deviceNode.empty() && access(where.deviceNode.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return "no permission on its device node " + where.deviceNode + " (install the udev rule, see README.md)";
    return "meter in use by another program";
}

// Why a meter did not become ready after a successful openDev. Call after closeDev (the
// library writes its log out then).
std::string notReadyReason(const LibrarySession& lib, int id) {
    // Calibration records that arrived but could not be used (the library's log lines,
    // which are in Chinese).
    static const struct {
        const char* logText;
        const char* record;
    } kRecords[] = {{"获取探头基础信息失败",
                     "base record (wavelength range, ADC thresholds)"},
                    {"获取探头档位校准参数失败",
                     "range calibration"},
                    {"获取探头光谱校准参数信息失败",
                     "spectral table"}};
    for (const auto& r : kRecords)
        if (lib.log().count(id, r.logText) > 0)
            return std::string("sent an invalid ") + r.record +
                   ": the library does not take a meter into use without it";
    const int rejected = lib.log().rejectedReplies(id);
    if (rejected > 0)
        return "sends bad replies (" + plural(static_cast<uint64_t>(rejected), "frame") +
               " with a wrong checksum or status; its calibration could not be read; -v shows them)";
    return "is not answering (its calibration did not arrive)";
}

using TextReader = int (*)(int, char*, int);

std::optional<std::string> readText(TextReader reader, int id) {
    char buf[64];
    if (retried([&] { return reader(id, buf, sizeof buf); }) != TESSIVAR_OK) return std::nullopt;
    return printableText(buf, sizeof buf);
}

std::string textOr(TextReader reader, int id, const char* fallback = "?") {
    auto t = readText(reader, id);
    return t ? *t : std::string(fallback);
}

struct Identity {
    std::string headName, headSerial, probeName, probeSerial, firmware;
};

Identity readIdentity(int id) {
    return {textOr(readDevName, id), textOr(readDevSerial, id), textOr(readDetName, id),
            textOr(readDetSerial, id), textOr(readVersion, id)};
}

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

// An opened meter; closing (and stopping a running transfer) is guaranteed on every path.
class OpenMeter {
public:
    OpenMeter(int id, LibrarySession& lib, const CliEnvironment& env) : id_(id) {
        const int rc = openDev(id);
        if (rc == TESSIVAR_ERR_ARGUMENT) throw Failure("Cannot open " + meterName(id) + ": " + openRefusal(id) + ".");
        if (rc != TESSIVAR_OK) throw Failure("Cannot open " + meterName(id) + ": " + describeCommand(rc) + ".");
        opened_ = true;
        utcOffset_ = localUtcOffsetSeconds(static_cast<int64_t>(std::time(nullptr)));
        waitReady(lib, env);
    }
    ~OpenMeter() { close(); }
    OpenMeter(const OpenMeter&) = delete;
    OpenMeter& operator=(const OpenMeter&) = delete;

    int id() const { return id_; }
    // Offset of local time from UTC when the library took its time base (at open).
    int utcOffset() const { return utcOffset_; }

    void startStreaming() {
        // Records left over from earlier use are not part of this run.
        PowerData stale[64];
        while (getData(id_, stale, 64) > 0) {
        }
        // A start whose acknowledgement is late under load is sent again (the meter
        // ignores a start while it streams).
        const int rc = retriedCommand([&] { return startTransfer(id_); });
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot start the measurement on " + meterName(id_) + ": " + describeCommand(rc) + ".");
        streaming_ = true;
    }
    void stopStreaming() {
        if (streaming_) stopTransfer(id_);
        streaming_ = false;
    }
    void close() {
        stopStreaming();
        if (opened_) closeDev(id_);
        opened_ = false;
    }

private:
    void waitReady(LibrarySession& lib, const CliEnvironment& env) {
        const auto deadline = std::chrono::steady_clock::now() + env.readyTimeout;
        for (;;) {
            if (isInited(id_) == 1) {
                syncWithMeter();
                return;
            }
            if (isDevOpen(id_) != 1 || std::chrono::steady_clock::now() >= deadline) {
                close();
                throw Failure("Meter " + std::to_string(id_) + " " + notReadyReason(lib, id_) + ".");
            }
            pause(env, std::chrono::milliseconds(10));
        }
    }

    // The meter keeps its wavelength and its zero offset, but a fresh library session
    // starts from its own defaults (532 nm, no offset). Reading both from the meter makes
    // the library apply them; without it every reading would carry another wavelength's
    // spectral correction and a zero compensation would be lost when the command ends.
    // Either read may time out once under load: it is asked again before the open fails.
    void syncWithMeter() {
        int nm = 0;
        int rc = retried([&] { return getSampleWavelength(id_, &nm); });
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot read the wavelength of " + meterName(id_) + ": " + describeQuery(rc) + ".");
        double zero = 0.0;
        rc = retried([&] { return getZeroOffset(id_, &zero); });
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot read the zero offset of " + meterName(id_) + ": " + describeQuery(rc) + ".");
    }

    int id_;
    int utcOffset_ = 0;
    bool opened_ = false;
    bool streaming_ = false;
};

std::pair<int, int> waveRange(int id) {
    int start = 0, end = 0;
    const int rc = getWaveRange(id, &start, &end);
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the wavelength range of " + meterName(id) + ": " + describeQuery(rc) + ".");
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
        const int rc = retriedCommand([&] { return setSampleWavelength(id, *opt.wavelengthNm); });
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot set the wavelength of " + meterName(id) + ": " + describeCommand(rc) + ".");
    }
    if (opt.average) {
        const int rc = retriedCommand([&] { return setAverage(id, *opt.average); });
        if (rc != TESSIVAR_OK)
            throw Failure("Cannot set the averaging of " + meterName(id) + ": " + describeCommand(rc) + ".");
    }
}

int currentWavelength(int id) {
    int nm = 0;
    const int rc = retried([&] { return getSampleWavelength(id, &nm); });
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the wavelength of " + meterName(id) + ": " + describeQuery(rc) + ".");
    return nm;
}

int currentAverage(int id) {
    unsigned short count = 0;
    const int rc = retried([&] { return getAverage(id, &count); });
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the averaging of " + meterName(id) + ": " + describeQuery(rc) + ".");
    return count;
}

double currentZeroOffset(int id) {
    double zero = 0.0;
    const int rc = retried([&] { return getZeroOffset(id, &zero); });
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the zero offset of " + meterName(id) + ": " + describeQuery(rc) + ".");
    return zero;
}

std::string calibrationDate(int id) {
    char date[TESSIVAR_CALIBRATION_DATE_SIZE] = {};
    getCalibrationDate(id, date);
    return printableText(date, sizeof date);
}

bool wholeDate(const std::string& date) {
    static const std::regex kDate(R"(\d{4}-\d{2}-\d{2})");
    return std::regex_match(date, kDate);
}

// Spectral table entries the library holds (0: none, readings uncorrected for wavelength).
int spectralEntries(int id) {
    const int bytes = getSpecParam(id, nullptr, 0);
    if (bytes == 0) return 0;
    if (bytes > 0) return bytes / TESSIVAR_SPEC_ENTRY_SIZE;
    // -4: a table is there (the null buffer was refused); its size is the size it needs.
    std::vector<unsigned char> buf(6 * 1100);
    const int got = getSpecParam(id, buf.data(), static_cast<int>(buf.size()));
    return got > 0 ? got / TESSIVAR_SPEC_ENTRY_SIZE : 0;
}

// Flags on stderr what makes readings of this meter less than measurements: the exit
// status is not changed by it.
void flagCalibration(int id, CliEnvironment& env) {
    if (spectralEntries(id) == 0)
        warn(env, meterName(id) + " has no usable spectral table: readings are not corrected for the wavelength.");
    const std::string date = calibrationDate(id);
    if (!wholeDate(date))
        warn(env, "the calibration date of " + meterName(id) + " is incomplete ('" + date +
                      "'): its calibration record may be damaged.");
}

std::optional<int> probeState(int id) {
    int state = 0;
    if (retried([&] { return getDetectorState(id, &state); }) != TESSIVAR_OK) return std::nullopt;
    return state;
}

void flagProbe(int id, CliEnvironment& env) {
    const auto state = probeState(id);
    if (state && *state != kProbeAttached)
        warn(env, "the probe of " + meterName(id) + " is detached (state " + std::to_string(*state) +
                      "): readings are not measurements of light.");
}

// The meter's identity and settings, as the first line of a data file.
std::string metadataJson(int id, const OpenMeter& meter) {
    const Identity ident = readIdentity(id);
    const UsbLocation where = locateMeter(id);
    return jsonObject({
        {"meter", std::to_string(id)},
        {"port", jsonOrNull(where.portPath)},
        {"head_name", jsonString(ident.headName)},
        {"head_serial", jsonString(ident.headSerial)},
        {"probe_name", jsonString(ident.probeName)},
        {"probe_serial", jsonString(ident.probeSerial)},
        {"firmware", jsonString(ident.firmware)},
        {"calibration_date", jsonString(calibrationDate(id))},
        {"wavelength_nm", std::to_string(currentWavelength(id))},
        {"average", std::to_string(currentAverage(id))},
        {"utc_offset", jsonString(formatUtcOffset(meter.utcOffset()))},
    });
}

// ---- choosing the meter -------------------------------------------------------------

// Opens every meter at once (their calibration reads overlap), waits until each is ready
// or has given up, and reports per meter; closes them all again.
struct Survey {
    int id = 0;
    enum class State { Ready, InUse, NoPermission, NotAnswering, BadReplies } state = State::Ready;
    Identity identity;
};

std::vector<Survey> surveyMeters(LibrarySession& lib, const std::vector<int>& ids, CliEnvironment& env) {
    std::vector<Survey> out(ids.size());
    std::vector<bool> opened(ids.size(), false);
    for (size_t i = 0; i < ids.size(); ++i) {
        out[i].id = ids[i];
        const int rc = openDev(ids[i]);
        opened[i] = rc == TESSIVAR_OK;
        if (!opened[i])
            out[i].state = openRefusal(ids[i]).rfind("no permission", 0) == 0 ? Survey::State::NoPermission
                                                                              : Survey::State::InUse;
    }
    auto closeAll = [&] {
        for (size_t i = 0; i < ids.size(); ++i)
            if (opened[i]) closeDev(ids[i]);
    };
    try {
        const auto deadline = std::chrono::steady_clock::now() + env.readyTimeout;
        for (;;) {
            bool waiting = false;
            for (size_t i = 0; i < ids.size(); ++i)
                if (opened[i] && isInited(ids[i]) != 1 && isDevOpen(ids[i]) == 1) waiting = true;
            if (!waiting || std::chrono::steady_clock::now() >= deadline) break;
            pause(env, std::chrono::milliseconds(10));
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            if (!opened[i]) continue;
            if (isInited(ids[i]) == 1) out[i].identity = readIdentity(ids[i]);
            else out[i].state = Survey::State::NotAnswering;
        }
    } catch (const Interrupted&) {
        closeAll();
        throw;
    }
    closeAll();
    for (auto& s : out)
        if (s.state == Survey::State::NotAnswering && lib.log().rejectedReplies(s.id) > 0)
            s.state = Survey::State::BadReplies;
    return out;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The id of the meter the user named (id, head serial or port path), or of the only one.
int selectMeter(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const std::vector<int> ids = lib.scan();
    if (ids.empty()) throw Failure("No meter found.");
    const std::string& m = opt.meter;
    const std::string attached = " (attached: " + joinIds(ids) + "; see 'tessivar scan').";
    if (m.empty()) {
        if (ids.size() == 1) return ids[0];
        throw Failure(std::to_string(ids.size()) + " meters are attached (" + joinIds(ids) +
                      "): name one by its id, head serial or port, as 'tessivar scan' shows them.");
    }
    if (allDigits(m) && m.size() <= 10) {
        const long long id = std::stoll(m);
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) return static_cast<int>(id);
    }
    if (auto path = parsePortPath(m)) {
        const auto id = idOfPorts(path->ports);
        if (id && std::find(ids.begin(), ids.end(), *id) != ids.end()) return *id;
        throw Failure("No meter is attached at port " + m + attached);
    }
    // A head serial: only the meters themselves know theirs.
    for (const Survey& s : surveyMeters(lib, ids, env))
        if (s.state == Survey::State::Ready && s.identity.headSerial == m) return s.id;
    if (allDigits(m)) throw Failure("No meter with id " + m + " is attached" + attached);
    throw Failure("No meter with head serial " + m + " is attached" + attached);
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
    using RowFn = std::string (*)(const Sample&, int);
    TextSink(std::ostream& os, RowFn row, int utcOffset) : os_(os), row_(row), utcOffset_(utcOffset) {}
    bool write(const Sample* samples, size_t count) override {
        std::string text;
        text.reserve(count * 96);
        for (size_t i = 0; i < count; ++i) text += row_(samples[i], utcOffset_);
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
    int utcOffset_;
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

// Keeps the samples for output after the run (read --format json).
class CollectingSink : public SampleSink {
public:
    bool write(const Sample* samples, size_t count) override {
        samples_.insert(samples_.end(), samples, samples + count);
        return true;
    }
    bool flush() override { return true; }
    const std::vector<Sample>& samples() const { return samples_; }

private:
    std::vector<Sample> samples_;
};

std::string readingRow(const Sample& s, int) { return readingLine(s) + "\n"; }

bool outputGone(const CliEnvironment& env) { return env.outputClosed && env.outputClosed(); }

// Explains how a stream ended; returns the exit status.
int reportStreamEnd(const StreamOutcome& o, LibrarySession& lib, int id, const std::string& target,
                    bool toStandardOutput, CliEnvironment& env) {
    const std::string after = " after " + plural(o.written, "sample") + ".";
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
        env.err << "tessivar: Reading from meter " << id << " failed (" << describeQuery(o.sourceError)
                << ")" << after << "\n";
        status = kExitFailure;
        break;
    case StreamEnd::WriteFailed:
        // The reader closed the pipe (| head): it has what it wanted.
        if (toStandardOutput && outputGone(env)) return kExitOk;
        env.err << "tessivar: Writing to " << target << " failed" << after << "\n";
        status = kExitFailure;
        break;
    }
    if (o.dropped > 0) {
        env.err << "tessivar: " << plural(o.dropped, "sample")
                << (o.dropped == 1 ? " was" : " were") << " lost because the output could not keep up.\n";
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
    const int id = meter.id();
    ProbeFn probe = [&env, id, &progress](bool detached) {
        if (progress) env.err << "\r\x1b[K";
        if (detached)
            warn(env, "the probe of " + meterName(id) + " was detached: readings are not measurements of light.");
        else
            warn(env, "the probe of " + meterName(id) + " is attached again.");
    };
    StreamConfig withProbe = config;
    withProbe.probeCheckInterval = std::chrono::milliseconds(2000);
    meter.startStreaming();
    StreamOutcome outcome = runStream(source, sink, withProbe, stop, progress, probe);
    meter.stopStreaming();
    if (progress) env.err << "\r\x1b[K" << std::flush;
    return outcome;
}

// ---- commands ---------------------------------------------------------------------------

int cmdScan(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const std::vector<int> ids = lib.scan();
    if (ids.empty()) {
        env.err << "No meter found.\n";
        return kExitFailure;
    }
    const std::vector<Survey> meters = surveyMeters(lib, ids, env);
    auto stateText = [](Survey::State s) -> std::string {
        switch (s) {
        case Survey::State::Ready: return "ok";
        case Survey::State::InUse: return "in use by another program";
        case Survey::State::NoPermission: return "no permission";
        case Survey::State::NotAnswering: return "not answering";
        case Survey::State::BadReplies: return "bad replies";
        }
        return "?";
    };
    if (opt.format == OutputFormat::Json) {
        std::string out = "[";
        for (size_t i = 0; i < meters.size(); ++i) {
            const Survey& s = meters[i];
            const bool ready = s.state == Survey::State::Ready;
            auto field = [&](const std::string& v) { return ready ? jsonString(v) : std::string("null"); };
            out += std::string(i ? ",\n " : "") +
                   jsonObject({{"id", std::to_string(s.id)},
                               {"port", jsonOrNull(locateMeter(s.id).portPath)},
                               {"status", jsonString(stateText(s.state))},
                               {"head_name", field(s.identity.headName)},
                               {"head_serial", field(s.identity.headSerial)},
                               {"probe_name", field(s.identity.probeName)},
                               {"probe_serial", field(s.identity.probeSerial)},
                               {"firmware", field(s.identity.firmware)}});
        }
        env.out << out << "]\n";
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const Survey& s : meters) {
        std::string port = locateMeter(s.id).portPath;
        if (port.empty()) port = "?";
        if (s.state == Survey::State::Ready)
            rows.push_back({std::to_string(s.id), port, s.identity.headName, s.identity.headSerial,
                            s.identity.probeName, s.identity.probeSerial, s.identity.firmware});
        else
            rows.push_back({std::to_string(s.id), port, "(" + stateText(s.state) + ")"});
    }
    env.out << formatTable({"ID", "Port", "Meter head", "Head serial", "Probe", "Probe serial", "Firmware"}, rows);
    return kExitOk;
}

int cmdInfo(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);

    const std::string date = calibrationDate(id);
    const auto [start, end] = waveRange(id);
    const int nm = currentWavelength(id);
    const int average = currentAverage(id);
    const double zero = currentZeroOffset(id);
    const int spectral = spectralEntries(id);
    const auto state = probeState(id);
    const Identity ident = readIdentity(id);
    const std::string port = locateMeter(id).portPath;
    flagCalibration(id, env);

    if (opt.format == OutputFormat::Json) {
        env.out << jsonObject({
                       {"id", std::to_string(id)},
                       {"port", jsonOrNull(port)},
                       {"head_name", jsonString(ident.headName)},
                       {"head_serial", jsonString(ident.headSerial)},
                       {"probe_name", jsonString(ident.probeName)},
                       {"probe_serial", jsonString(ident.probeSerial)},
                       {"firmware", jsonString(ident.firmware)},
                       {"calibration_date", jsonString(date)},
                       {"wavelength_min_nm", std::to_string(start)},
                       {"wavelength_max_nm", std::to_string(end)},
                       {"spectral_entries", std::to_string(spectral)},
                       {"wavelength_nm", std::to_string(nm)},
                       {"average", std::to_string(average)},
                       {"zero_offset_w", formatWatts(zero)},
                       {"probe_state", state ? std::to_string(*state) : "null"},
                       {"probe_attached", state ? (*state == kProbeAttached ? "true" : "false") : "null"},
                   })
                << "\n";
        return kExitOk;
    }
    std::string probeText;
    if (!state) probeText = "unknown (the query timed out)";
    else if (*state == kProbeAttached) probeText = "attached";
    else probeText = "detached (state " + std::to_string(*state) + ")";
    env.out << formatFields({
        {"Meter", std::to_string(id)},
        {"Port", port.empty() ? "?" : port},
        {"Meter head", ident.headName + " (serial " + ident.headSerial + ")"},
        {"Probe", ident.probeName + " (serial " + ident.probeSerial + ")"},
        {"Firmware", ident.firmware},
        {"Calibration date", wholeDate(date) ? date : date + " (incomplete)"},
        {"Wavelength range", std::to_string(start) + " to " + std::to_string(end) + " nm"},
        {"Spectral table", spectral ? std::to_string(spectral) + (spectral == 1 ? " entry" : " entries")
                                    : "none (readings are not corrected for the wavelength)"},
        {"Wavelength", std::to_string(nm) + " nm"},
        {"Averaging", std::to_string(average)},
        {"Zero offset", formatPowerSi(zero)},
        {"Probe state", probeText},
    });
    return kExitOk;
}

int cmdRead(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    applySettings(meter, opt);
    flagCalibration(id, env);
    flagProbe(id, env);
    StreamConfig config;
    config.count = opt.count;
    if (opt.format == OutputFormat::Json) {
        const std::string metadata = metadataJson(id, meter);
        CollectingSink sink;
        const StreamOutcome o = streamInto(meter, sink, config, env, false);
        std::string readings = "[";
        for (size_t i = 0; i < sink.samples().size(); ++i)
            readings += (i ? "," : "") + jsonReading(sink.samples()[i], meter.utcOffset());
        env.out << jsonObject({{"metadata", metadata}, {"readings", readings + "]"}}) << "\n";
        return reportStreamEnd(o, lib, id, "standard output", true, env);
    }
    TextSink sink(env.out, &readingRow, meter.utcOffset());
    const StreamOutcome o = streamInto(meter, sink, config, env, false);
    return reportStreamEnd(o, lib, id, "standard output", true, env);
}

int cmdStream(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    applySettings(meter, opt);
    flagCalibration(id, env);
    flagProbe(id, env);

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
    if (csv) *os << "# " << jsonObject({{"metadata", metadata}}) << "\n" << csvHeader();
    else *os << jsonObject({{"metadata", metadata}}) << "\n";
    TextSink sink(*os, csv ? &csvRow : &jsonlRow, meter.utcOffset());
    StreamConfig config;
    config.count = opt.count;
    if (opt.durationS) config.duration = std::chrono::duration<double>(*opt.durationS);
    const StreamOutcome o = streamInto(meter, sink, config, env, file.is_open() || !env.outIsTerminal);
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

int cmdSet(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    applySettings(meter, opt);
    std::vector<std::pair<std::string, std::string>> fields;
    if (opt.wavelengthNm) fields.push_back({"Wavelength", std::to_string(currentWavelength(id)) + " nm"});
    if (opt.average) fields.push_back({"Averaging", std::to_string(currentAverage(id))});
    env.out << formatFields(fields);
    return kExitOk;
}

// The most a covered probe can read: the power at the ADC low threshold of the most
// sensitive range. Below it a range shows only its floor and noise (a covered probe reads
// up to about a microwatt before zeroing with the usual calibration); above it, light
// reaches the probe. The spectral coefficient (at most 1) is left out, which only lowers
// the limit. Nothing when the calibration cannot be read.
std::optional<double> darkLimitNw(int id) {
    uint16_t base[TESSIVAR_BASE_PARAM_SIZE / 2] = {};
    if (getBaseParam(id, base, TESSIVAR_BASE_PARAM_SIZE) != TESSIVAR_BASE_PARAM_SIZE) return std::nullopt;
    double level[TESSIVAR_LEV_PARAM_SIZE / 8] = {};
    if (getLevParam(id, level, TESSIVAR_LEV_PARAM_SIZE) != TESSIVAR_LEV_PARAM_SIZE) return std::nullopt;
    const double adcLow = base[2];
    std::optional<double> limit;
    double bestK = 0.0;
    for (int r = 0; r < TESSIVAR_LEV_PARAM_SIZE / 16; ++r) {
        const double k = level[2 * r], b = level[2 * r + 1];
        if (!std::isfinite(k) || !std::isfinite(b) || k <= bestK) continue;
        bestK = k;
        limit = (adcLow - b) / k;
    }
    return limit;
}

int cmdZero(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    flagCalibration(id, env);
    const double storedOffset = currentZeroOffset(id);
    // The offset is taken from the latest sample, so fresh samples must be flowing:
    // without them the library would store a stale or zero value.
    meter.startStreaming();
    std::vector<double> fresh;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (fresh.size() < 10) {
        PowerData rec[64];
        const int n = getData(id, rec, 64);
        for (int i = 0; i < n; ++i) fresh.push_back(rec[i].power + storedOffset);
        if (n > 0) continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (fresh.size() >= 3) break;
            throw Failure("Meter " + std::to_string(id) +
                          " delivers no readings; zero compensation needs a current reading.");
        }
        pause(env, std::chrono::milliseconds(10));
    }
    // What the probe sees without any offset.
    double mean = 0.0;
    for (double v : fresh) mean += v;
    mean /= static_cast<double>(fresh.size());
    const auto limit = darkLimitNw(id);
    if (!opt.force && limit && mean > *limit) {
        meter.stopStreaming();
        throw Failure("Meter " + std::to_string(id) + " reads " + formatPowerSi(mean) +
                      ", far above the noise of a covered probe (at most " + formatPowerSi(*limit) +
                      "). Is the probe covered? Cover it and run 'tessivar zero' again, or add --force to "
                      "take this reading as the zero.");
    }
    const int rc = resetZeroOffset(id);
    meter.stopStreaming();
    if (rc != TESSIVAR_OK)
        throw Failure("Zero compensation of " + meterName(id) + " failed: " + describeCommand(rc) + ".");
    const double zero = currentZeroOffset(id);
    env.out << formatFields({{"Zero offset", formatPowerSi(zero)}});
    return kExitOk;
}

int runCommand(LibrarySession& lib, const Options& opt, CliEnvironment& env) {
    switch (opt.command) {
    case Command::Scan: return cmdScan(lib, opt, env);
    case Command::Info: return cmdInfo(lib, opt, env);
    case Command::Read: return cmdRead(lib, opt, env);
    case Command::Stream: return cmdStream(lib, opt, env);
    case Command::Set: return cmdSet(lib, opt, env);
    case Command::Zero: return cmdZero(lib, opt, env);
    case Command::Help:
    case Command::Version: break;
    }
    return kExitOk;
}

// Standard output is written out at the end; a failure there is a failure of the command,
// except when the reader closed the pipe.
int finishOutput(int status, CliEnvironment& env) {
    env.out.flush();
    if (env.out.good() || outputGone(env)) return status;
    env.err << "tessivar: Writing to standard output failed.\n";
    return kExitFailure;
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
        return finishOutput(kExitOk, env);
    }
    if (opt.command == Command::Version) {
        env.out << "tessivar " << TESSIVAR_VERSION_STRING << "\n";
        return finishOutput(kExitOk, env);
    }

    // The library reports USB-level trouble (e.g. every failed read after an unplug) on
    // the framework's debug stream, which goes to stderr; the tool explains failures in
    // its own words instead. A user's own logging rules are left alone.
    if (!opt.verbose && !std::getenv("QT_LOGGING_RULES")) setenv("QT_LOGGING_RULES", "default.debug=false", 0);

    int status = kExitOk;
    LogFile log(opt.logDir);
    try {
        LibrarySession lib(log);
        status = runCommand(lib, opt, env);
    } catch (const Failure& f) {
        env.err << "tessivar: " << f.what() << "\n";
        status = kExitFailure;
    } catch (const Interrupted&) {
        env.err << "tessivar: Interrupted.\n";
        status = kExitFailure;
    }
    // The library's log is complete once releaseDev has run (end of the session above).
    if (opt.verbose)
        for (const auto& line : log.troubleLines()) env.err << "tessivar: library log: " << line << "\n";
    return finishOutput(status, env);
}

}  // namespace tessivar::cli
