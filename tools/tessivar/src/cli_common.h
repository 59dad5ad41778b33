// What the commands of `tessivar` share: the failures they end with, the library session
// and its log, an opened meter, the meter queries and warnings, choosing the meter. One
// file per command group implements the commands declared at the end.
#pragma once

#include <tessivar/tessivar.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "args.h"
#include "cli.h"

namespace tessivar::cli::detail {

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
// The most records the library holds per meter, so the most one getData hands out.
constexpr int kLibraryQueueRecords = 401;

// What a failed command (0x.... with a reply expected to be empty) means.
std::string describeCommand(int code);
// What a failed query means (the library's -4 is a reply that did not come).
std::string describeQuery(int code);
bool timedOut(int code);
std::string meterName(int id);
bool stopRequested(const CliEnvironment& env);
// Waits in small steps so that Ctrl-C is noticed.
void pause(const CliEnvironment& env, std::chrono::milliseconds d);

// Runs a query until it does not time out, at most kQueryAttempts times.
template <typename F>
int retried(F&& query)
{
    int rc = query();
    for (int attempt = 1; attempt < kQueryAttempts && timedOut(rc); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rc = query();
    }
    return rc;
}

// The same for a command (a setting): only a missing reply (-2) is a time-out there.
template <typename F>
int retriedCommand(F&& command)
{
    int rc = command();
    for (int attempt = 1; attempt < kQueryAttempts && rc == TESSIVAR_ERR_NO_REPLY; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rc = command();
    }
    return rc;
}

void warn(CliEnvironment& env, const std::string& text);
// The reader of standard output went away (a closed pipe).
bool outputGone(const CliEnvironment& env);

// ---- the library's log --------------------------------------------------------------

// The library's log of one command: in --log-dir if given, else in a private temporary
// directory removed at the end. The tool reads it for what only the log knows: frames
// that arrived but were rejected (bad checksum or status), shown with --verbose.
class LogFile {
public:
    explicit LogFile(const std::string& logDir);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::string& dir() const { return dir_; }

    // Warning and error lines (of meter `id`, or of all meters for id 0), without the
    // line end. The library writes its log out when a meter is closed and at releaseDev.
    std::vector<std::string> troubleLines(int id = 0) const;
    // Lines of meter `id` that contain `needle`.
    int count(int id, const std::string& needle) const;
    // Replies of meter `id` that arrived and were rejected (checksum or status).
    int rejectedReplies(int id) const;

private:
    std::string dir_;
    bool owned_ = false;
};

// ---- meters -------------------------------------------------------------------------

// The library for the length of one command: its log, releaseDev at the end.
class LibrarySession {
public:
    explicit LibrarySession(const LogFile& log) : log_(log)
    {
        if (!log.dir().empty())
            openLog(log.dir().c_str());
    }
    ~LibrarySession() { releaseDev(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    const LogFile& log() const { return log_; }

    // The attached meters' ids, sorted.
    std::vector<int> scan()
    {
        int ids[TESSIVAR_MAX_DEVICES] = {};
        const int n = scanDev(ids, TESSIVAR_MAX_DEVICES);
        if (n < 0)
            throw Failure("scanning for meters failed: " + describeCommand(n));
        std::vector<int> out(ids, ids + std::min(n, TESSIVAR_MAX_DEVICES));
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    const LogFile& log_;
};

struct Identity {
    std::string headName, headSerial, probeName, probeSerial, firmware;
};

Identity readIdentity(int id);
// Why openDev refused meter `id` with -4: in use by another program, or (starting
// "no permission") a device node the user may not open.
std::string openRefusal(int id);
std::string jsonOrNull(const std::string& text);

// An opened meter; closing (and stopping a running transfer) is guaranteed on every path.
class OpenMeter {
public:
    // Opens meter `id` and waits until the library has initialised it (env.readyTimeout).
    OpenMeter(int id, LibrarySession& lib, const CliEnvironment& env);
    ~OpenMeter() { close(); }
    OpenMeter(const OpenMeter&) = delete;
    OpenMeter& operator=(const OpenMeter&) = delete;

    int id() const { return id_; }
    // Offset of local time from UTC when the library took its time base (at open).
    int utcOffset() const { return utcOffset_; }

    void startStreaming();
    void stopStreaming()
    {
        if (streaming_)
            stopTransfer(id_);
        streaming_ = false;
    }
    void close();

private:
    void waitReady(LibrarySession& lib, const CliEnvironment& env);
    void syncWithMeter();

    int id_;
    int utcOffset_ = 0;
    bool opened_ = false;
    bool streaming_ = false;
};

// The meter queries: each throws Failure when the meter does not answer.
std::pair<int, int> waveRange(int id);
int currentWavelength(int id);
int currentAverage(int id);
double currentZeroOffset(int id);
// Sets --wavelength (checked against the probe's range) and --average, if given.
void applySettings(const OpenMeter& meter, const Options& opt);

std::string calibrationDate(int id);
bool wholeDate(const std::string& date);
// Spectral table entries the library holds (0: none, readings uncorrected for wavelength).
int spectralEntries(int id);
// Nothing when the query timed out.
std::optional<int> probeState(int id);
// Warnings on stderr about readings that are less than measurements (uncorrected for the
// wavelength, damaged calibration date, detached probe); the exit status stays.
void flagCalibration(int id, CliEnvironment& env);
void flagProbe(int id, CliEnvironment& env);
// The meter's identity and settings, as the first line of a data file.
std::string metadataJson(int id, const OpenMeter& meter);

// ---- choosing the meter -------------------------------------------------------------

// Opens every meter at once (their calibration reads overlap), waits until each is ready
// or has given up, and reports per meter; closes them all again.
struct Survey {
    int id = 0;
    enum class State { Ready, InUse, NoPermission, NotAnswering, BadReplies } state = State::Ready;
    Identity identity;
};

std::vector<Survey> surveyMeters(LibrarySession& lib, const std::vector<int>& ids,
                                 CliEnvironment& env);
// The id of the meter the user named (id, head serial or port path), or of the only one.
int selectMeter(LibrarySession& lib, const Options& opt, CliEnvironment& env);

// ---- the commands: exit status, or Failure / Interrupted ------------------------------

int cmdScan(LibrarySession& lib, const Options& opt, CliEnvironment& env);
int cmdInfo(LibrarySession& lib, const Options& opt, CliEnvironment& env);
int cmdSet(LibrarySession& lib, const Options& opt, CliEnvironment& env);
int cmdZero(LibrarySession& lib, const Options& opt, CliEnvironment& env);
int cmdRead(LibrarySession& lib, const Options& opt, CliEnvironment& env);
int cmdStream(LibrarySession& lib, const Options& opt, CliEnvironment& env);

}  // namespace tessivar::cli::detail
