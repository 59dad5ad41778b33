#include "args.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tessivar::cli {
namespace {

struct CommandInfo {
    Command command;
    const char* name;
    bool takesId;
};

constexpr CommandInfo kCommands[] = {
    {Command::Scan, "scan", false},  {Command::Info, "info", true},
    {Command::Read, "read", true},   {Command::Stream, "stream", true},
    {Command::Set, "set", true},     {Command::Zero, "zero", true},
    {Command::Help, "help", false},
};

const CommandInfo* findCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

// Which options a command accepts (beyond --help and --log-dir).
struct Allowed {
    bool wavelength = false, average = false, count = false, duration = false,
         format = false, output = false, force = false;
};

Allowed allowedFor(Command c) {
    Allowed a;
    switch (c) {
    case Command::Scan:
    case Command::Info: a.format = true; break;
    case Command::Read: a.wavelength = a.average = a.count = a.format = true; break;
    case Command::Stream:
        a.wavelength = a.average = a.count = a.duration = a.format = a.output = true;
        break;
    case Command::Set: a.wavelength = a.average = true; break;
    case Command::Zero: a.force = true; break;
    default: break;
    }
    return a;
}

// An id, a head serial or a port path: letters, digits and a few separators, not
// starting with '-' (that would be an option or a negative number).
bool plausibleMeter(const std::string& text) {
    if (text.empty() || text.size() > 64 || text[0] == '-') return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '.' && c != '_' && c != ':' && c != '/' && c != '+')
            return false;
    return true;
}

bool parseWhole(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty() || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (v < min || v > max) return false;
    out = v;
    return true;
}

bool parsePositiveReal(const std::string& text, double& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (!std::isfinite(v) || v <= 0.0) return false;
    out = v;
    return true;
}

ParseResult failFor(std::optional<Command> command, std::string message) {
    ParseResult r;
    r.ok = false;
    r.error = std::move(message);
    r.command = command;
    return r;
}

}  // namespace

const char* commandName(Command c) {
    for (const auto& info : kCommands)
        if (info.command == c) return info.name;
    return "help";
}

ParseResult parseArgs(const std::vector<std::string>& args) {
    Options opt;
    const CommandInfo* cmd = nullptr;
    bool wantHelp = false;
    std::vector<std::string> positional;
    auto fail = [&cmd](std::string message) {
        return failFor(cmd ? std::optional<Command>(cmd->command) : std::nullopt, std::move(message));
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
            if (arg == "--") {
                for (++i; i < args.size(); ++i) positional.push_back(args[i]);
                break;
            }
            positional.push_back(arg);
            if (!cmd) {
                cmd = findCommand(arg);
                if (!cmd) return fail("unknown command '" + arg + "'");
                positional.pop_back();
            }
            continue;
        }
        // Negative numbers are values, not options ("-5" as an id is still rejected
        // below with a clear message rather than as an unknown option).
        if (arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1]))) {
            positional.push_back(arg);
            continue;
        }

        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
            }
        }
        if (name == "-h" || name == "--help") {
            if (inlineValue) return fail("option '--help' takes no value");
            wantHelp = true;
            continue;
        }
        if (name == "-v" || name == "--verbose") {
            if (inlineValue) return fail("option '--verbose' takes no value");
            opt.verbose = true;
            continue;
        }
        if (name == "--force") {
            if (inlineValue) return fail("option '--force' takes no value");
            if (cmd && allowedFor(cmd->command).force) {
                opt.force = true;
                continue;
            }
            if (!cmd) return fail("option '--force' needs a command before it");
            return fail(std::string("unknown option '--force' for '") + cmd->name + "'");
        }
        if (name == "--version") {
            if (inlineValue) return fail("option '--version' takes no value");
            if (!cmd) {
                opt.command = Command::Version;
                ParseResult r;
                r.ok = true;
                r.options = opt;
                return r;
            }
        }

        // Every other option takes a value.
        auto takeValue = [&](std::string& value) -> bool {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        static const struct {
            const char* shortName;
            const char* longName;
        } kOptions[] = {{"-w", "--wavelength"}, {"-a", "--average"}, {"-n", "--count"},
                        {"-d", "--duration"},   {"-f", "--format"},  {"-o", "--output"},
                        {"-L", "--log-dir"}};
        std::string longName;
        for (const auto& o : kOptions)
            if (name == o.shortName || name == o.longName) longName = o.longName;
        const std::string where = cmd ? std::string(" for '") + cmd->name + "'" : std::string();
        if (longName.empty()) return fail("unknown option '" + name + "'" + where);

        std::string value;
        if (!takeValue(value)) return fail("option '" + longName + "' needs a value");

        if (longName == "--log-dir") {
            if (value.empty()) return fail("option '--log-dir' needs a directory");
            opt.logDir = value;
            continue;
        }
        const Allowed allowed = allowedFor(cmd ? cmd->command : Command::Help);
        long long whole = 0;
        if (longName == "--wavelength" && allowed.wavelength) {
            if (!parseWhole(value, 1, 65535, whole))
                return fail("invalid wavelength '" + value + "' (expected whole nanometres, 1 to 65535)");
            opt.wavelengthNm = static_cast<int>(whole);
        } else if (longName == "--average" && allowed.average) {
            if (!parseWhole(value, 1, 65535, whole))
                return fail("invalid averaging '" + value + "' (expected a whole number, 1 to 65535)");
            opt.average = static_cast<int>(whole);
        } else if (longName == "--count" && allowed.count) {
            if (!parseWhole(value, 1, std::numeric_limits<long long>::max(), whole))
                return fail("invalid count '" + value + "' (expected a whole number of at least 1)");
            opt.count = static_cast<uint64_t>(whole);
        } else if (longName == "--duration" && allowed.duration) {
            double seconds = 0;
            if (!parsePositiveReal(value, seconds))
                return fail("invalid duration '" + value + "' (expected seconds greater than 0)");
            opt.durationS = seconds;
        } else if (longName == "--format" && allowed.format) {
            if (cmd->command == Command::Stream) {
                if (value == "csv") opt.format = OutputFormat::Csv;
                else if (value == "jsonl") opt.format = OutputFormat::Jsonl;
                else return fail("invalid format '" + value + "' (expected csv or jsonl)");
            } else {
                if (value == "text") opt.format = OutputFormat::Text;
                else if (value == "json") opt.format = OutputFormat::Json;
                else return fail("invalid format '" + value + "' (expected text or json)");
            }
        } else if (longName == "--output" && allowed.output) {
            if (value.empty()) return fail("option '--output' needs a file name");
            opt.outputPath = value;
        } else {
            if (!cmd) return fail("option '" + longName + "' needs a command before it");
            return fail("unknown option '" + longName + "'" + where);
        }
    }

    if (!cmd) {
        // "tessivar" alone or "tessivar --help": the overview.
        opt.command = Command::Help;
        opt.helpTopic = Command::Help;
        if (!wantHelp && !positional.empty()) return fail("unknown command '" + positional[0] + "'");
        ParseResult r;
        r.ok = true;
        r.options = opt;
        return r;
    }

    if (wantHelp) {
        opt.command = Command::Help;
        opt.helpTopic = cmd->command;
        ParseResult r;
        r.ok = true;
        r.options = opt;
        return r;
    }

    if (cmd->command == Command::Help) {
        opt.command = Command::Help;
        if (positional.size() > 1) return fail("unexpected argument '" + positional[1] + "'");
        if (!positional.empty()) {
            const CommandInfo* topic = findCommand(positional[0]);
            if (!topic) return fail("unknown command '" + positional[0] + "'");
            opt.helpTopic = topic->command;
        }
        ParseResult r;
        r.ok = true;
        r.options = opt;
        return r;
    }

    opt.command = cmd->command;
    size_t next = 0;
    if (cmd->takesId && !positional.empty()) {
        if (!plausibleMeter(positional[0]))
            return fail("invalid meter '" + positional[0] +
                        "' (expected an id, a head serial or a USB port such as 1-1.2, as 'tessivar scan' shows)");
        opt.meter = positional[0];
        next = 1;
    }
    if (positional.size() > next) return fail("unexpected argument '" + positional[next] + "'");

    if (opt.command == Command::Stream && opt.count && opt.durationS)
        return fail("options '--count' and '--duration' exclude each other");
    if (opt.command == Command::Set && !opt.wavelengthNm && !opt.average)
        return fail("'set' needs --wavelength or --average");
    if (opt.command == Command::Read && !opt.count) opt.count = 1;
    if (opt.command == Command::Stream && opt.format == OutputFormat::Text) opt.format = OutputFormat::Csv;

    ParseResult r;
    r.ok = true;
    r.options = opt;
    return r;
}

std::string helpText(Command c) {
    static const char* const kMeter =
        "METER is the meter's id, its head serial or its USB port path (1-1.2), as\n"
        "'tessivar scan' shows them; with exactly one meter attached it may be left out.\n";
    switch (c) {
    case Command::Scan:
        return "Usage: tessivar scan [--format text|json] [--log-dir DIR]\n"
               "\n"
               "Lists the attached meters, sorted by id: id, USB port, meter head name and\n"
               "serial, probe name and serial, firmware version. Each meter is opened briefly\n"
               "to read its identity; one that another program holds is listed as in use.\n"
               "  -f, --format F       text (default) or json (an array of objects)\n"
               "Exit status 1 when no meter is found.\n";
    case Command::Info:
        return std::string("Usage: tessivar info [METER] [--format text|json] [--log-dir DIR]\n"
               "\n"
               "Shows a meter's identity, USB port, firmware version, calibration date, the\n"
               "probe's wavelength range, its spectral table, the current wavelength and\n"
               "averaging, the stored zero offset and the probe state.\n"
               "  -f, --format F       text (default) or json (one object)\n") + kMeter;
    case Command::Read:
        return std::string("Usage: tessivar read [METER] [--wavelength NM] [--average N] [--count N]\n"
               "                     [--format text|json]\n"
               "\n"
               "Prints N readings (default 1), one per line: local time, power, dBm.\n"
               "  -w, --wavelength NM  set the measuring wavelength first (whole nm)\n"
               "  -a, --average N      set the meter's averaging first (1 to 65535)\n"
               "  -n, --count N        number of readings (default 1)\n"
               "  -f, --format F       text (default) or json: one object with the meter's\n"
               "                       metadata and the readings (columns as for stream)\n") + kMeter +
               "Degraded measurements (probe detached, no usable spectral table, damaged\n"
               "calibration date) are flagged on stderr.\n";
    case Command::Stream:
        return std::string("Usage: tessivar stream [METER] [--duration S | --count N] [--format csv|jsonl]\n"
               "                       [--output FILE] [--wavelength NM] [--average N]\n"
               "\n"
               "Writes every sample the meter delivers. First comes the meter's metadata\n"
               "(identity, wavelength, averaging): a '# {...}' comment line in CSV, a\n"
               "{\"metadata\": {...}} object in JSON Lines. Then one row per sample:\n"
               "  unix_ms    Unix time in ms (UTC), for any tool that reads Unix time\n"
               "  local_ms   the library's stamp: local wall-clock ms counted from 1970-01-01\n"
               "             (Unix time plus the UTC offset; not Unix time)\n"
               "  time       ISO 8601 local time with its UTC offset, 2026-01-15T08:30:05.042+01:00\n"
               "  power_w    power in W, 7 significant digits\n"
               "  power_dbm  power in dBm; empty in CSV, null in JSON Lines, when the power is\n"
               "             not above zero (normal after a zero compensation)\n"
               "Without --duration or --count it runs until Ctrl-C, which ends the stream\n"
               "cleanly; a reader that closes the pipe (| head) ends it quietly too. On a\n"
               "terminal a progress line goes to stderr.\n"
               "  -d, --duration S     stop after S seconds\n"
               "  -n, --count N        stop after N samples\n"
               "  -f, --format F       csv (default) or jsonl\n"
               "  -o, --output FILE    write to FILE instead of standard output ('-': standard output)\n"
               "  -w, --wavelength NM  set the measuring wavelength first\n"
               "  -a, --average N      set the meter's averaging first\n") + kMeter +
               "Degraded measurements (probe detached, no usable spectral table, damaged\n"
               "calibration date) are flagged on stderr.\n";
    case Command::Set:
        return std::string("Usage: tessivar set [METER] [--wavelength NM] [--average N]\n"
               "\n"
               "Sets the measuring wavelength (within the probe's range) and/or the meter's\n"
               "averaging, then prints the values read back from the meter.\n") + kMeter;
    case Command::Zero:
        return std::string("Usage: tessivar zero [METER] [--force]\n"
               "\n"
               "Zero compensation: cover the probe, then run this. The current reading\n"
               "becomes the zero offset, which the meter stores; every later reading, also\n"
               "by later commands, is relative to it. A reading far above the noise of a\n"
               "covered probe (above the ADC low threshold of the meter's most sensitive\n"
               "range, a few microwatts) is refused: the probe is probably not covered.\n"
               "      --force          take the current reading as the zero all the same\n") + kMeter;
    case Command::Help:
    case Command::Version:
        break;
    }
    return "Usage: tessivar [--log-dir DIR] COMMAND [ARGS]\n"
           "\n"
           "Commands:\n"
           "  scan                 list attached meters\n"
           "  info [METER]         identity, calibration and settings of a meter\n"
           "  read [METER]         print readings\n"
           "  stream [METER]       write every sample to CSV or JSON Lines\n"
           "  set [METER]          set wavelength or averaging\n"
           "  zero [METER]         zero compensation\n"
           "  help [COMMAND]       show help (also: COMMAND --help)\n"
           "\n"
           "METER: an id, a head serial or a USB port path (1-1.2), as 'tessivar scan'\n"
           "shows them; with exactly one meter attached it may be left out.\n"
           "\n"
           "Options for every command:\n"
           "  -L, --log-dir DIR    write the library's log file into DIR\n"
           "  -v, --verbose        show the library's USB diagnostics and protocol trouble\n"
           "                       (bad checksums, bad statuses, framing) on stderr\n"
           "  -h, --help           show help\n"
           "      --version        show the program's version\n"
           "\n"
           "Exit status: 0 success, 1 failure, 2 usage error.\n";
}

}  // namespace tessivar::cli
