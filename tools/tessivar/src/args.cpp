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
};

constexpr CommandInfo kCommands[] = {
    {Command::Scan, "scan"},     {Command::Info, "info"}, {Command::Read, "read"},
    {Command::Stream, "stream"}, {Command::Set, "set"},   {Command::Zero, "zero"},
    {Command::Help, "help"},
};

const CommandInfo* findCommand(const std::string& name)
{
    for (const auto& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// An id, a head serial or a port path: letters, digits and a few separators, not
// starting with '-' (that would be an option or a negative number).
bool plausibleMeter(const std::string& text)
{
    if (text.empty() || text.size() > 64 || text[0] == '-')
        return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '.' && c != '_' && c != ':' && c != '/' &&
            c != '+')
            return false;
    return true;
}

bool parseWhole(const std::string& text, long long min, long long max, long long& out)
{
    if (text.empty() || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    if (v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parsePositiveReal(const std::string& text, double& out)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    if (!std::isfinite(v) || v <= 0.0)
        return false;
    out = v;
    return true;
}

// A usage error: ends the parse; parseArgs turns it into the failed ParseResult.
struct UsageError {
    std::string message;
};

// A command's own option: its long name and, for all but --force, its value.
struct CommandOption {
    std::string name;
    std::string value;
};

// The values of the options several commands share; a malformed one is a usage error.
int wavelengthValue(const std::string& value)
{
    long long whole = 0;
    if (!parseWhole(value, 1, 65535, whole))
        throw UsageError{"invalid wavelength '" + value +
                         "' (expected whole nanometres, 1 to 65535)"};
    return static_cast<int>(whole);
}

int averageValue(const std::string& value)
{
    long long whole = 0;
    if (!parseWhole(value, 1, 65535, whole))
        throw UsageError{"invalid averaging '" + value + "' (expected a whole number, 1 to 65535)"};
    return static_cast<int>(whole);
}

uint64_t countValue(const std::string& value)
{
    long long whole = 0;
    if (!parseWhole(value, 1, std::numeric_limits<long long>::max(), whole))
        throw UsageError{"invalid count '" + value + "' (expected a whole number of at least 1)"};
    return static_cast<uint64_t>(whole);
}

// scan, info and read print text or JSON.
OutputFormat textOrJson(const std::string& value)
{
    if (value == "text")
        return OutputFormat::Text;
    if (value == "json")
        return OutputFormat::Json;
    throw UsageError{"invalid format '" + value + "' (expected text or json)"};
}

// One pass over the arguments. The command word is the first plain argument; the common
// options (--help, --verbose, --log-dir) are taken wherever they stand, and plain
// arguments, before the command word as after it, are collected in `positional`.
class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    Options opt;
    const CommandInfo* cmd = nullptr;
    bool wantHelp = false;
    std::vector<std::string> positional;

    // The next option that is not a common one, its value already taken. Nothing at the
    // end of the arguments, at the command word (cmd is then set) and at --version before
    // the command word (opt.command is then Version).
    std::optional<CommandOption> nextOption()
    {
        for (; i_ < args_.size(); ++i_) {
            const std::string& arg = args_[i_];
            if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
                if (arg == "--") {
                    for (++i_; i_ < args_.size(); ++i_)
                        positional.push_back(args_[i_]);
                    return std::nullopt;
                }
                if (cmd) {
                    positional.push_back(arg);
                    continue;
                }
                cmd = findCommand(arg);
                if (!cmd)
                    throw UsageError{"unknown command '" + arg + "'"};
                ++i_;
                return std::nullopt;
            }
            // Negative numbers are values, not options ("-5" as an id is still rejected
            // later with a clear message rather than as an unknown option).
            if (std::isdigit(static_cast<unsigned char>(arg[1]))) {
                positional.push_back(arg);
                continue;
            }
            if (auto o = option(arg)) {
                ++i_;
                return o;
            }
            if (opt.command == Command::Version)
                return std::nullopt;
        }
        return std::nullopt;
    }

    // An option the command does not have (or, before the command word, any command option).
    [[noreturn]] void unknown(const CommandOption& o) const
    {
        if (!cmd)
            throw UsageError{"option '" + o.name + "' needs a command before it"};
        throw UsageError{"unknown option '" + o.name + "'" + where()};
    }

    // The meter, for the commands that take one.
    void takeMeter()
    {
        if (positional.empty())
            return;
        if (!plausibleMeter(positional[0]))
            throw UsageError{
                "invalid meter '" + positional[0] +
                "' (expected an id, a head serial or a USB port such as 1-1.2, as 'tessivar scan' shows)"};
        opt.meter = positional[0];
        positional.erase(positional.begin());
    }

    // The end of a command on one meter: METER, if given, and nothing after it. False when
    // --help asked for the command's page instead.
    bool takeOnlyMeter()
    {
        if (wantHelp)
            return false;
        takeMeter();
        noMoreArguments();
        return true;
    }

    void noMoreArguments() const
    {
        if (!positional.empty())
            throw UsageError{"unexpected argument '" + positional[0] + "'"};
    }

    ParseResult done()
    {
        ParseResult r;
        r.ok = true;
        r.options = opt;
        return r;
    }

    // COMMAND --help: the command's page.
    ParseResult helpPage()
    {
        opt.command = Command::Help;
        opt.helpTopic = cmd->command;
        return done();
    }

private:
    // Handles the common options itself and returns the others (nothing for a common one).
    std::optional<CommandOption> option(const std::string& arg)
    {
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
            if (inlineValue)
                throw UsageError{"option '--help' takes no value"};
            wantHelp = true;
            return std::nullopt;
        }
        if (name == "-v" || name == "--verbose") {
            if (inlineValue)
                throw UsageError{"option '--verbose' takes no value"};
            opt.verbose = true;
            return std::nullopt;
        }
        if (name == "--force") {
            if (inlineValue)
                throw UsageError{"option '--force' takes no value"};
            return CommandOption{name, std::string()};
        }
        if (name == "--version") {
            if (inlineValue)
                throw UsageError{"option '--version' takes no value"};
            if (!cmd) {
                opt.command = Command::Version;
                return std::nullopt;
            }
        }

        // Every other option takes a value.
        static const struct {
            const char* shortName;
            const char* longName;
        } kOptions[] = {{"-w", "--wavelength"}, {"-a", "--average"}, {"-n", "--count"},
                        {"-d", "--duration"},   {"-f", "--format"},  {"-o", "--output"},
                        {"-L", "--log-dir"}};
        std::string longName;
        for (const auto& o : kOptions)
            if (name == o.shortName || name == o.longName)
                longName = o.longName;
        if (longName.empty())
            throw UsageError{"unknown option '" + name + "'" + where()};

        std::string value;
        if (inlineValue)
            value = *inlineValue;
        else if (i_ + 1 < args_.size())
            value = args_[++i_];
        else
            throw UsageError{"option '" + longName + "' needs a value"};

        if (longName == "--log-dir") {
            if (value.empty())
                throw UsageError{"option '--log-dir' needs a directory"};
            opt.logDir = value;
            return std::nullopt;
        }
        return CommandOption{longName, value};
    }

    std::string where() const
    {
        return cmd ? std::string(" for '") + cmd->name + "'" : std::string();
    }

    const std::vector<std::string>& args_;
    size_t i_ = 0;
};

// ---- one function per command: its options, then its arguments ----------------------

// The value options several commands take, read the same way by each of them.
enum SharedOption : unsigned {
    kWavelengthOption = 1u << 0,
    kAverageOption = 1u << 1,
    kCountOption = 1u << 2,
    kTextOrJsonOption = 1u << 3,
};

// Reads a command's options: the shared ones in `shared`, then its own through `own`,
// which returns false for an option the command does not have.
template <typename Own>
void readOptions(Parser& p, unsigned shared, Own own)
{
    while (auto o = p.nextOption()) {
        const std::string& name = o->name;
        if ((shared & kWavelengthOption) && name == "--wavelength")
            p.opt.wavelengthNm = wavelengthValue(o->value);
        else if ((shared & kAverageOption) && name == "--average")
            p.opt.average = averageValue(o->value);
        else if ((shared & kCountOption) && name == "--count")
            p.opt.count = countValue(o->value);
        else if ((shared & kTextOrJsonOption) && name == "--format")
            p.opt.format = textOrJson(o->value);
        else if (!own(*o))
            p.unknown(*o);
    }
}

void readOptions(Parser& p, unsigned shared)
{
    readOptions(p, shared, [](const CommandOption&) { return false; });
}

ParseResult parseScan(Parser& p)
{
    readOptions(p, kTextOrJsonOption);
    if (p.wantHelp)
        return p.helpPage();
    p.noMoreArguments();
    return p.done();
}

ParseResult parseInfo(Parser& p)
{
    readOptions(p, kTextOrJsonOption);
    if (!p.takeOnlyMeter())
        return p.helpPage();
    return p.done();
}

ParseResult parseRead(Parser& p)
{
    readOptions(p, kWavelengthOption | kAverageOption | kCountOption | kTextOrJsonOption);
    if (!p.takeOnlyMeter())
        return p.helpPage();
    if (!p.opt.count)
        p.opt.count = 1;
    return p.done();
}

ParseResult parseStream(Parser& p)
{
    readOptions(p, kWavelengthOption | kAverageOption | kCountOption, [&p](const CommandOption& o) {
        const std::string& value = o.value;
        if (o.name == "--duration") {
            double seconds = 0;
            if (!parsePositiveReal(value, seconds))
                throw UsageError{"invalid duration '" + value +
                                 "' (expected seconds greater than 0)"};
            p.opt.durationS = seconds;
        } else if (o.name == "--format") {
            if (value == "csv")
                p.opt.format = OutputFormat::Csv;
            else if (value == "jsonl")
                p.opt.format = OutputFormat::Jsonl;
            else
                throw UsageError{"invalid format '" + value + "' (expected csv or jsonl)"};
        } else if (o.name == "--output") {
            if (value.empty())
                throw UsageError{"option '--output' needs a file name"};
            p.opt.outputPath = value;
        } else {
            return false;
        }
        return true;
    });
    if (!p.takeOnlyMeter())
        return p.helpPage();
    if (p.opt.count && p.opt.durationS)
        throw UsageError{"options '--count' and '--duration' exclude each other"};
    if (p.opt.format == OutputFormat::Text)
        p.opt.format = OutputFormat::Csv;
    return p.done();
}

ParseResult parseSet(Parser& p)
{
    readOptions(p, kWavelengthOption | kAverageOption);
    if (!p.takeOnlyMeter())
        return p.helpPage();
    if (!p.opt.wavelengthNm && !p.opt.average)
        throw UsageError{"'set' needs --wavelength or --average"};
    return p.done();
}

ParseResult parseZero(Parser& p)
{
    readOptions(p, 0, [&p](const CommandOption& o) {
        if (o.name != "--force")
            return false;
        p.opt.force = true;
        return true;
    });
    if (!p.takeOnlyMeter())
        return p.helpPage();
    return p.done();
}

// help [COMMAND]
ParseResult parseHelp(Parser& p)
{
    while (auto o = p.nextOption())
        p.unknown(*o);
    if (p.wantHelp)
        return p.helpPage();
    p.opt.command = Command::Help;
    if (p.positional.size() > 1)
        throw UsageError{"unexpected argument '" + p.positional[1] + "'"};
    if (!p.positional.empty()) {
        const CommandInfo* topic = findCommand(p.positional[0]);
        if (!topic)
            throw UsageError{"unknown command '" + p.positional[0] + "'"};
        p.opt.helpTopic = topic->command;
    }
    return p.done();
}

ParseResult parseCommand(Parser& p)
{
    // Up to the command word only the common options count.
    while (auto o = p.nextOption())
        p.unknown(*o);
    if (p.opt.command == Command::Version)
        return p.done();
    if (!p.cmd) {
        // "tessivar" alone or "tessivar --help": the overview.
        if (!p.wantHelp && !p.positional.empty())
            throw UsageError{"unknown command '" + p.positional[0] + "'"};
        p.opt.command = Command::Help;
        p.opt.helpTopic = Command::Help;
        return p.done();
    }
    p.opt.command = p.cmd->command;
    switch (p.cmd->command) {
    case Command::Scan: return parseScan(p);
    case Command::Info: return parseInfo(p);
    case Command::Read: return parseRead(p);
    case Command::Stream: return parseStream(p);
    case Command::Set: return parseSet(p);
    case Command::Zero: return parseZero(p);
    case Command::Help:
    case Command::Version: break;
    }
    return parseHelp(p);
}

}  // namespace

const char* commandName(Command c)
{
    for (const auto& info : kCommands)
        if (info.command == c)
            return info.name;
    return "help";
}

ParseResult parseArgs(const std::vector<std::string>& args)
{
    Parser p(args);
    try {
        return parseCommand(p);
    } catch (const UsageError& e) {
        ParseResult r;
        r.error = e.message;
        r.command = p.cmd ? std::optional<Command>(p.cmd->command) : std::nullopt;
        return r;
    }
}

std::string helpText(Command c)
{
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
        return std::string(
                   "Usage: tessivar info [METER] [--format text|json] [--log-dir DIR]\n"
                   "\n"
                   "Shows a meter's identity, USB port, firmware version, calibration date, the\n"
                   "probe's wavelength range, its spectral table, the current wavelength and\n"
                   "averaging, the stored zero offset and the probe state.\n"
                   "  -f, --format F       text (default) or json (one object)\n") +
               kMeter;
    case Command::Read:
        return std::string(
                   "Usage: tessivar read [METER] [--wavelength NM] [--average N] [--count N]\n"
                   "                     [--format text|json]\n"
                   "\n"
                   "Prints N readings (default 1), one per line: local time, power, dBm.\n"
                   "  -w, --wavelength NM  set the measuring wavelength first (whole nm)\n"
                   "  -a, --average N      set the meter's averaging first (1 to 65535)\n"
                   "  -n, --count N        number of readings (default 1)\n"
                   "  -f, --format F       text (default) or json: one object with the meter's\n"
                   "                       metadata and the readings (columns as for stream)\n") +
               kMeter +
               "Degraded measurements (probe detached, no usable spectral table, damaged\n"
               "calibration date) are flagged on stderr.\n";
    case Command::Stream:
        return std::string(
                   "Usage: tessivar stream [METER] [--duration S | --count N] [--format csv|jsonl]\n"
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
                   "  -a, --average N      set the meter's averaging first\n") +
               kMeter +
               "Degraded measurements (probe detached, no usable spectral table, damaged\n"
               "calibration date) are flagged on stderr.\n";
    case Command::Set:
        return std::string(
                   "Usage: tessivar set [METER] [--wavelength NM] [--average N]\n"
                   "\n"
                   "Sets the measuring wavelength (within the probe's range) and/or the meter's\n"
                   "averaging, then prints the values read back from the meter.\n") +
               kMeter;
    case Command::Zero:
        return std::string(
                   "Usage: tessivar zero [METER] [--force]\n"
                   "\n"
                   "Zero compensation: cover the probe, then run this. The current reading\n"
                   "becomes the zero offset, which the meter stores; every later reading, also\n"
                   "by later commands, is relative to it. A reading far above the noise of a\n"
                   "covered probe (above the ADC low threshold of the meter's most sensitive\n"
                   "range, a few microwatts) is refused: the probe is probably not covered.\n"
                   "      --force          take the current reading as the zero all the same\n") +
               kMeter;
    case Command::Help:
    case Command::Version: break;
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
