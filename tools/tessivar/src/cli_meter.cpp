#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "cli_common.h"
#include "format.h"
#include "usb_ports.h"

namespace tessivar::cli::detail {

// ---- the library's log --------------------------------------------------------------

LogFile::LogFile(const std::string& logDir)
{
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

LogFile::~LogFile()
{
    std::error_code ignored;
    if (owned_)
        std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> LogFile::troubleLines(int id) const
{
    std::vector<std::string> out;
    if (dir_.empty())
        return out;
    std::ifstream f(dir_ + "/vorixOptical.log", std::ios::binary);
    const std::string tag = id ? "<" + std::to_string(id) + "> " : std::string();
    for (std::string line; std::getline(f, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find("][warning] ") == std::string::npos &&
            line.find("][error] ") == std::string::npos)
            continue;
        if (!tag.empty() && line.find(tag) == std::string::npos)
            continue;
        out.push_back(line);
    }
    return out;
}

int LogFile::count(int id, const std::string& needle) const
{
    if (dir_.empty())
        return 0;
    std::ifstream f(dir_ + "/vorixOptical.log", std::ios::binary);
    const std::string tag = "<" + std::to_string(id) + "> ";
    int n = 0;
    for (std::string line; std::getline(f, line);)
        n += line.find(tag) != std::string::npos && line.find(needle) != std::string::npos;
    return n;
}

int LogFile::rejectedReplies(int id) const
{
    int n = 0;
    for (const auto& line : troubleLines(id))
        n += line.find("Analayze error") != std::string::npos;
    return n;
}

// ---- meters -------------------------------------------------------------------------

// Why openDev refused: the library says -4 both for a meter that another program holds
// and for a device node the user may not open; the node's permissions tell them apart.
std::string openRefusal(int id)
{
    const UsbLocation where = locateMeter(id);
    if (!where.deviceNode.empty() && access(where.deviceNode.c_str(), R_OK | W_OK) != 0 &&
        errno == EACCES)
        return "no permission on its device node " + where.deviceNode +
               " (install the udev rule, see README.md)";
    return "meter in use by another program";
}

namespace {

// Why a meter did not become ready after a successful openDev. Call after closeDev (the
// library writes its log out then).
std::string notReadyReason(const LibrarySession& lib, int id)
{
    // Calibration records that arrived but could not be used (the library's log lines,
    // which are in Chinese).
    static const struct {
        const char* logText;
        const char* record;
    } kRecords[] = {{"获取探头基础信息失败", "base record (wavelength range, ADC thresholds)"},
                    {"获取探头档位校准参数失败", "range calibration"},
                    {"获取探头光谱校准参数信息失败", "spectral table"}};
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

std::optional<std::string> readText(TextReader reader, int id)
{
    char buf[64];
    if (retried([&] { return reader(id, buf, sizeof buf); }) != TESSIVAR_OK)
        return std::nullopt;
    return printableText(buf, sizeof buf);
}

std::string textOr(TextReader reader, int id, const char* fallback = "?")
{
    auto t = readText(reader, id);
    return t ? *t : std::string(fallback);
}

}  // namespace

Identity readIdentity(int id)
{
    return {textOr(readDevName, id), textOr(readDevSerial, id), textOr(readDetName, id),
            textOr(readDetSerial, id), textOr(readVersion, id)};
}

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

OpenMeter::OpenMeter(int id, LibrarySession& lib, const CliEnvironment& env) : id_(id)
{
    const int rc = openDev(id);
    if (rc == TESSIVAR_ERR_ARGUMENT)
        throw Failure("Cannot open " + meterName(id) + ": " + openRefusal(id) + ".");
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot open " + meterName(id) + ": " + describeCommand(rc) + ".");
    opened_ = true;
    utcOffset_ = localUtcOffsetSeconds(static_cast<int64_t>(std::time(nullptr)));
    waitReady(lib, env);
}

void OpenMeter::startStreaming()
{
    // Records left over from earlier use are not part of this run.
    PowerData stale[64];
    while (getData(id_, stale, static_cast<int>(std::size(stale))) > 0) {
    }
    // A start whose acknowledgement is late under load is sent again (the meter
    // ignores a start while it streams).
    const int rc = retriedCommand([&] { return startTransfer(id_); });
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot start the measurement on " + meterName(id_) + ": " +
                      describeCommand(rc) + ".");
    streaming_ = true;
}

void OpenMeter::close()
{
    stopStreaming();
    if (opened_)
        closeDev(id_);
    opened_ = false;
}

void OpenMeter::waitReady(LibrarySession& lib, const CliEnvironment& env)
{
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
void OpenMeter::syncWithMeter()
{
    currentWavelength(id_);
    currentZeroOffset(id_);
}

namespace {

// A query of one meter setting, asked again after a time-out; naming `what` in the
// failure ("Cannot read the <what> of meter N: ...").
template <typename T, typename Query>
T queried(int id, const char* what, Query query)
{
    T value{};
    const int rc = retried([&] { return query(&value); });
    if (rc != TESSIVAR_OK)
        throw Failure(std::string("Cannot read the ") + what + " of " + meterName(id) + ": " +
                      describeQuery(rc) + ".");
    return value;
}

// A setting sent to a meter, sent again when its reply did not come.
template <typename Command>
void commanded(int id, const char* what, Command command)
{
    const int rc = retriedCommand(command);
    if (rc != TESSIVAR_OK)
        throw Failure(std::string("Cannot set the ") + what + " of " + meterName(id) + ": " +
                      describeCommand(rc) + ".");
}

}  // namespace

std::pair<int, int> waveRange(int id)
{
    int start = 0, end = 0;
    const int rc = getWaveRange(id, &start, &end);
    if (rc != TESSIVAR_OK)
        throw Failure("Cannot read the wavelength range of " + meterName(id) + ": " +
                      describeQuery(rc) + ".");
    return {start, end};
}

void applySettings(const OpenMeter& meter, const Options& opt)
{
    const int id = meter.id();
    if (opt.wavelengthNm) {
        const auto [start, end] = waveRange(id);
        if (*opt.wavelengthNm < start || *opt.wavelengthNm > end)
            throw Failure("Wavelength " + std::to_string(*opt.wavelengthNm) +
                          " nm is outside the probe's range (" + std::to_string(start) + " to " +
                          std::to_string(end) + " nm).");
        commanded(id, "wavelength", [&] { return setSampleWavelength(id, *opt.wavelengthNm); });
    }
    if (opt.average)
        commanded(id, "averaging", [&] { return setAverage(id, *opt.average); });
}

int currentWavelength(int id)
{
    return queried<int>(id, "wavelength", [id](int* nm) { return getSampleWavelength(id, nm); });
}

int currentAverage(int id)
{
    return queried<unsigned short>(id, "averaging",
                                   [id](unsigned short* n) { return getAverage(id, n); });
}

double currentZeroOffset(int id)
{
    return queried<double>(id, "zero offset",
                           [id](double* zero) { return getZeroOffset(id, zero); });
}

std::string calibrationDate(int id)
{
    char date[TESSIVAR_CALIBRATION_DATE_SIZE] = {};
    getCalibrationDate(id, date);
    return printableText(date, sizeof date);
}

bool wholeDate(const std::string& date)
{
    static const std::regex kDate(R"(\d{4}-\d{2}-\d{2})");
    return std::regex_match(date, kDate);
}

int spectralEntries(int id)
{
    const int bytes = getSpecParam(id, nullptr, 0);
    if (bytes == 0)
        return 0;
    if (bytes > 0)
        return bytes / TESSIVAR_SPEC_ENTRY_SIZE;
    // -4: a table is there (the null buffer was refused); its size is the size it needs.
    // Room for 1100 entries; a larger table counts as none.
    constexpr int kTableRoom = 1100;
    std::vector<unsigned char> buf(TESSIVAR_SPEC_ENTRY_SIZE * kTableRoom);
    const int got = getSpecParam(id, buf.data(), static_cast<int>(buf.size()));
    return got > 0 ? got / TESSIVAR_SPEC_ENTRY_SIZE : 0;
}

void flagCalibration(int id, CliEnvironment& env)
{
    if (spectralEntries(id) == 0)
        warn(env,
             meterName(id) +
                 " has no usable spectral table: readings are not corrected for the wavelength.");
    const std::string date = calibrationDate(id);
    if (!wholeDate(date))
        warn(env, "the calibration date of " + meterName(id) + " is incomplete ('" + date +
                      "'): its calibration record may be damaged.");
}

std::optional<int> probeState(int id)
{
    int state = 0;
    if (retried([&] { return getDetectorState(id, &state); }) != TESSIVAR_OK)
        return std::nullopt;
    return state;
}

void flagProbe(int id, CliEnvironment& env)
{
    const auto state = probeState(id);
    if (state && *state != kProbeAttached)
        warn(env, "the probe of " + meterName(id) + " is detached (state " +
                      std::to_string(*state) + "): readings are not measurements of light.");
}

// The meter's identity and settings, as the first line of a data file.
std::string metadataJson(int id, const OpenMeter& meter)
{
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

}  // namespace tessivar::cli::detail
