#include "launcher_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "simmeter/usb_layout.h"

namespace simmeter {
namespace launcher {

namespace {

std::optional<double> ParseDouble(const std::string& s)
{
    if (s.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (errno || *end)
        return std::nullopt;
    return v;
}

std::optional<long> ParseInt(const std::string& s, long lo, long hi)
{
    if (s.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 0);
    if (errno || *end || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::optional<std::set<uint16_t>> ParseCodes(const std::string& s)
{
    std::set<uint16_t> codes;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string::npos)
            comma = s.size();
        auto c = ParseCode(s.substr(start, comma - start));
        if (!c)
            return std::nullopt;
        codes.insert(*c);
        start = comma + 1;
    }
    return codes;
}

// A per-meter setting: "M:value" selects meter M (1-based); plain "value" means all meters.
struct Setting {
    int meter = 0;  // 0: all
    std::string key, value;
};

bool SplitMeter(const std::string& v, int* meter, std::string* rest)
{
    const size_t colon = v.find(':');
    if (colon != std::string::npos && colon > 0) {
        auto m = ParseInt(v.substr(0, colon), 1, 1000);
        if (m) {
            *meter = static_cast<int>(*m);
            *rest = v.substr(colon + 1);
            return true;
        }
    }
    *meter = 0;
    *rest = v;
    return true;
}

bool ApplySetting(const Setting& s, MeterPlan* p, std::string* error)
{
    auto bad = [&] {
        *error = "bad value for --" + s.key + ": " + s.value;
        return false;
    };
    if (s.key == "fault") {
        if (!ApplyFault(s.value, &p->faults)) {
            *error = "unknown fault: " + s.value;
            return false;
        }
        return true;
    }
    if (s.key == "unplug-after") {
        auto v = ParseInt(s.value, 0, 86400000);
        if (!v)
            return bad();
        p->unplugAfterMs = static_cast<int>(*v);
        return true;
    }
    auto v = ParseDouble(s.value);
    if (!v)
        return bad();
    if (s.key == "power") {
        p->signal.powerNw = *v;
    } else if (s.key == "noise") {
        if (*v < 0)
            return bad();
        p->signal.noiseRel = *v;
    } else if (s.key == "drift") {
        p->signal.driftNwPerS = *v;
    } else if (s.key == "rate") {
        if (!(*v > 0) || *v > kMaxSampleRateHz)
            return bad();
        p->signal.sampleRateHz = *v;
    } else {
        return bad();
    }
    return true;
}

}  // namespace

std::optional<uint16_t> ParseCode(const std::string& s)
{
    auto v = ParseInt(s, 0, 0xFFFF);
    if (!v)
        return std::nullopt;
    return static_cast<uint16_t>(*v);
}

bool ApplyFault(const std::string& fault, FaultConfig* f)
{
    const size_t eq = fault.find('=');
    const std::string name = fault.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : fault.substr(eq + 1);
    const bool hasValue = eq != std::string::npos;
    static const std::map<std::string, bool FaultConfig::*> flags = {
        {"silent", &FaultConfig::silent},
        {"checksum", &FaultConfig::badChecksum},
        {"split", &FaultConfig::splitFrames},
        {"oversize", &FaultConfig::oversizeLength},
        {"short-base", &FaultConfig::shortBaseParam},
        {"short-lev", &FaultConfig::shortLevParam},
        {"invalid-spectral", &FaultConfig::invalidSpecTable},
        {"empty-spectral", &FaultConfig::emptySpecTable},
        {"short-offset", &FaultConfig::shortProbeOffset},
        {"short-date", &FaultConfig::shortCalDate},
        {"stall", &FaultConfig::stallIn},
    };
    auto flag = flags.find(name);
    if (flag != flags.end()) {
        if (hasValue)
            return false;
        f->*(flag->second) = true;
        return true;
    }
    if (name == "none" && !hasValue) {
        *f = FaultConfig{};
        return true;
    }
    if (!hasValue)
        return false;
    if (name == "ignore") {
        auto codes = ParseCodes(value);
        if (!codes)
            return false;
        f->ignoreCodes.insert(codes->begin(), codes->end());
        return true;
    }
    if (name == "delay") {
        auto v = ParseInt(value, 0, 600000);
        if (!v)
            return false;
        f->replyDelayMs = static_cast<int>(*v);
        return true;
    }
    if (name == "garbage") {
        auto v = ParseInt(value, 0, 4096);
        if (!v)
            return false;
        f->garbageBytes = static_cast<int>(*v);
        return true;
    }
    if (name == "detector") {
        auto v = ParseCode(value);
        if (!v)
            return false;
        f->detectorState = *v;
        return true;
    }
    if (name == "status") {
        const size_t at = value.find('@');
        auto st = ParseCode(value.substr(0, at));
        if (!st || *st == 0)
            return false;
        std::set<uint16_t> codes;
        if (at != std::string::npos) {
            auto c = ParseCodes(value.substr(at + 1));
            if (!c)
                return false;
            codes = *c;
        }
        f->badStatus = *st;
        f->badStatusCodes = codes;
        return true;
    }
    return false;
}

std::optional<Options> Parse(const std::vector<std::string>& args, std::string* error)
{
    Options o;
    long meters = -1;
    std::vector<std::string> ports;
    std::vector<Setting> settings;
    static const std::set<std::string> perMeter = {"power", "noise", "drift",
                                                   "rate",  "fault", "unplug-after"};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (a == "--") {
            o.program.assign(args.begin() + static_cast<std::ptrdiff_t>(i + 1), args.end());
            break;
        }
        if (a == "-h" || a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "-v" || a == "--verbose") {
            o.verbose = true;
            continue;
        }
        if (a == "--demo") {
            o.demo = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) {
            *error = "unexpected argument \"" + a + "\" (put the program after --)";
            return std::nullopt;
        }
        std::string key = a.substr(2), value;
        const size_t eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else {
            if (i + 1 >= args.size()) {
                *error = "--" + key + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (key == "meters") {
            auto v = ParseInt(value, 0, 31);
            if (!v) {
                *error = "--meters takes 0..31";
                return std::nullopt;
            }
            meters = *v;
        } else if (key == "port") {
            if (!ParsePortChain(value)) {
                *error = "bad port chain \"" + value + "\" (e.g. 1-3 or 1-1.2)";
                return std::nullopt;
            }
            ports.push_back(value);
        } else if (key == "save-delay") {
            auto v = ParseInt(value, 0, 60000);
            if (!v) {
                *error = "bad value for --save-delay: " + value;
                return std::nullopt;
            }
            o.saveDelayMs = static_cast<int>(*v);
        } else if (key == "control") {
            o.controlPath = value;
        } else if (perMeter.count(key)) {
            Setting s;
            s.key = key;
            SplitMeter(value, &s.meter, &s.value);
            settings.push_back(s);
        } else {
            *error = "unknown option --" + key;
            return std::nullopt;
        }
    }
    if (o.help)
        return o;

    const size_t count = meters < 0 ? std::max<size_t>(1, ports.size())
                                    : std::max<size_t>(static_cast<size_t>(meters), ports.size());
    std::set<std::string> taken(ports.begin(), ports.end());
    int nextRootPort = 1;
    for (size_t i = 0; i < count; ++i) {
        MeterPlan p;
        if (i < ports.size()) {
            p.port = ports[i];
        } else {
            while (taken.count("1-" + std::to_string(nextRootPort)))
                ++nextRootPort;
            p.port = "1-" + std::to_string(nextRootPort++);
            taken.insert(p.port);
        }
        if (o.demo)
            p.signal = DemoSignal(static_cast<int>(i + 1));
        o.meters.push_back(p);
    }
    if (taken.size() != count) {
        *error = "the same port is given twice";
        return std::nullopt;
    }
    // Settings for all meters first, then those for one meter, each group in command-line order.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& s : settings) {
            if ((pass == 0) != (s.meter == 0))
                continue;
            if (s.meter > static_cast<int>(o.meters.size())) {
                *error = "--" + s.key + " names meter " + std::to_string(s.meter) + " of " +
                         std::to_string(o.meters.size());
                return std::nullopt;
            }
            for (size_t i = 0; i < o.meters.size(); ++i) {
                if (s.meter != 0 && static_cast<size_t>(s.meter) != i + 1)
                    continue;
                if (!ApplySetting(s, &o.meters[i], error))
                    return std::nullopt;
            }
        }
    }
    return o;
}

std::string Usage()
{
    return R"(Usage: tessivar-sim [options] [-- program [args...]]

Starts simulated optical power meters on a virtual USB bus and runs the program on that bus
(under the umockdev preload), unchanged. Exits with the program's exit status. Without a
program the bus is held until SIGINT or SIGTERM.

Options (those marked [M:] apply to all meters, or to meter M only, counted from 1):
  --meters N             number of meters (default 1, at least the number of --port)
  --port CHAIN           port chain of the next meter, repeatable: 1-3, 1-1.2, 1-1.2.3.4.5
                         (hubs are created as needed; default 1-1, 1-2, ...)
  --power [M:]NW         optical power seen by the probe, in nW (default 1000)
  --noise [M:]REL        gaussian noise relative to the power (default 0.002)
  --drift [M:]NW_PER_S   linear power drift (default 0)
  --rate [M:]HZ          samples per second while streaming (default 100, at most 20000)
  --demo                 a living laser signal on every meter instead of a flat one: its
                         own power level, noise of 0.5 to 1 % and a slow swing of a few %
                         (periods of 20 s to several minutes); --power, --noise, --drift
                         and --rate still apply on top
  --fault [M:]FAULT      switch on a fault, repeatable; FAULT is one of
                           silent            answer nothing, stream nothing
                           ignore=CODES      do not answer these codes (e.g. 0x1009,0x101D)
                           delay=MS          every reply MS later
                           status=N[@CODES]  replies (to CODES only) carry status N
                           checksum          replies carry a wrong checksum
                           garbage=N         N noise bytes before each reply
                           split             each reply split over two IN transfers
                           oversize          the first reply carries length 0xFFFF
                           short-base short-lev short-offset short-date
                           invalid-spectral empty-spectral
                                             malformed calibration replies
                           detector=N        probe state N (2 = attached)
                           stall             the first IN transfer stalls until CLEAR_HALT
  --unplug-after [M:]MS  unplug the meter MS after the program started
  --save-delay MS        time the probe parameter save takes (default 300)
  --control PATH         create a FIFO at PATH that takes one command per line:
                           unplug M | replug M | power M NW | noise M REL | rate M HZ
                           fault M FAULT | faults M none
  -v, --verbose          tell what is plugged where
  -h, --help             this text
)";
}

}  // namespace launcher
}  // namespace simmeter
