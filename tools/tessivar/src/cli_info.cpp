// info, set and zero: a meter's identity, calibration and settings.
#include <cmath>
#include <iterator>

#include "cli_common.h"
#include "format.h"
#include "usb_ports.h"

namespace tessivar::cli::detail {
namespace {

// The most a covered probe can read: the power at the ADC low threshold of the most
// sensitive range. Below it a range shows only its floor and noise (a covered probe reads
// up to about a microwatt before zeroing with the usual calibration); above it, light
// reaches the probe. The spectral coefficient (at most 1) is left out, which only lowers
// the limit. Nothing when the calibration cannot be read.
std::optional<double> darkLimitNw(int id)
{
    // The base record's words: start nm, end nm, ADC low, ADC high. The range record:
    // a (k, b) pair of doubles per range.
    constexpr int kAdcLowWord = 2;
    constexpr int kRanges = TESSIVAR_LEV_PARAM_SIZE / (2 * sizeof(double));
    uint16_t base[TESSIVAR_BASE_PARAM_SIZE / sizeof(uint16_t)] = {};
    if (getBaseParam(id, base, TESSIVAR_BASE_PARAM_SIZE) != TESSIVAR_BASE_PARAM_SIZE)
        return std::nullopt;
    double level[TESSIVAR_LEV_PARAM_SIZE / sizeof(double)] = {};
    if (getLevParam(id, level, TESSIVAR_LEV_PARAM_SIZE) != TESSIVAR_LEV_PARAM_SIZE)
        return std::nullopt;
    const double adcLow = base[kAdcLowWord];
    std::optional<double> limit;
    double bestK = 0.0;
    for (int r = 0; r < kRanges; ++r) {
        const double k = level[2 * r], b = level[2 * r + 1];
        if (!std::isfinite(k) || !std::isfinite(b) || k <= bestK)
            continue;
        bestK = k;
        limit = (adcLow - b) / k;
    }
    return limit;
}

}  // namespace

int cmdInfo(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
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
                       {"probe_attached",
                        state ? (*state == kProbeAttached ? "true" : "false") : "null"},
                   })
                << "\n";
        return kExitOk;
    }
    std::string probeText;
    if (!state)
        probeText = "unknown (the query timed out)";
    else if (*state == kProbeAttached)
        probeText = "attached";
    else
        probeText = "detached (state " + std::to_string(*state) + ")";
    env.out << formatFields({
        {"Meter", std::to_string(id)},
        {"Port", port.empty() ? "?" : port},
        {"Meter head", ident.headName + " (serial " + ident.headSerial + ")"},
        {"Probe", ident.probeName + " (serial " + ident.probeSerial + ")"},
        {"Firmware", ident.firmware},
        {"Calibration date", wholeDate(date) ? date : date + " (incomplete)"},
        {"Wavelength range", std::to_string(start) + " to " + std::to_string(end) + " nm"},
        {"Spectral table", spectral
                               ? std::to_string(spectral) + (spectral == 1 ? " entry" : " entries")
                               : "none (readings are not corrected for the wavelength)"},
        {"Wavelength", std::to_string(nm) + " nm"},
        {"Averaging", std::to_string(average)},
        {"Zero offset", formatPowerSi(zero)},
        {"Probe state", probeText},
    });
    return kExitOk;
}

int cmdSet(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    applySettings(meter, opt);
    std::vector<std::pair<std::string, std::string>> fields;
    if (opt.wavelengthNm)
        fields.push_back({"Wavelength", std::to_string(currentWavelength(id)) + " nm"});
    if (opt.average)
        fields.push_back({"Averaging", std::to_string(currentAverage(id))});
    env.out << formatFields(fields);
    return kExitOk;
}

int cmdZero(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    const int id = selectMeter(lib, opt, env);
    OpenMeter meter(id, lib, env);
    flagCalibration(id, env);
    const double storedOffset = currentZeroOffset(id);
    // The offset is taken from the latest sample, so fresh samples must be flowing:
    // without them the library would store a stale or zero value.
    meter.startStreaming();
    // The zero is judged on up to kWanted fresh samples, or on at least kEnough of them
    // when no more come within kWait.
    constexpr size_t kWanted = 10, kEnough = 3;
    constexpr std::chrono::seconds kWait{2};
    std::vector<double> fresh;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (fresh.size() < kWanted) {
        PowerData rec[64];
        const int n = getData(id, rec, static_cast<int>(std::size(rec)));
        for (int i = 0; i < n; ++i)
            fresh.push_back(rec[i].power + storedOffset);
        if (n > 0)
            continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (fresh.size() >= kEnough)
                break;
            throw Failure("Meter " + std::to_string(id) +
                          " delivers no readings; zero compensation needs a current reading.");
        }
        pause(env, std::chrono::milliseconds(10));
    }
    // What the probe sees without any offset.
    double mean = 0.0;
    for (double v : fresh)
        mean += v;
    mean /= static_cast<double>(fresh.size());
    const auto limit = darkLimitNw(id);
    if (!opt.force && limit && mean > *limit) {
        meter.stopStreaming();
        throw Failure(
            "Meter " + std::to_string(id) + " reads " + formatPowerSi(mean) +
            ", far above the noise of a covered probe (at most " + formatPowerSi(*limit) +
            "). Is the probe covered? Cover it and run 'tessivar zero' again, or add --force to "
            "take this reading as the zero.");
    }
    const int rc = resetZeroOffset(id);
    meter.stopStreaming();
    if (rc != TESSIVAR_OK)
        throw Failure("Zero compensation of " + meterName(id) + " failed: " + describeCommand(rc) +
                      ".");
    const double zero = currentZeroOffset(id);
    env.out << formatFields({{"Zero offset", formatPowerSi(zero)}});
    return kExitOk;
}

}  // namespace tessivar::cli::detail
