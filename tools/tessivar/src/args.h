// Command-line grammar of `tessivar`. Pure: turns the argument list into Options or a
// usage error text; nothing here touches a meter, a file or the terminal.
//
//   tessivar [--log-dir DIR] COMMAND [ARGS] [--help]
//   COMMAND: scan | info [METER] | read [METER] | stream [METER] | set [METER] |
//            zero [METER] | help [COMMAND]
//   METER: an id, a head serial or a USB port path (1-1.2); left out, the only attached
//   meter (which meter that is, is only known at run time).
//
// Options take their value as the next argument or after '=' (--count=5). Common options
// (--log-dir, --verbose, --help) are accepted anywhere. Numeric values are validated here, so a
// malformed or impossible value is a usage error (exit status 2) and never reaches the
// meter; whether a wavelength lies in the probe's range is only known at run time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessivar::cli {

enum class Command { Help, Version, Scan, Info, Read, Stream, Set, Zero };
// Text/Json for scan, info and read; Csv/Jsonl for stream.
enum class OutputFormat { Text, Json, Csv, Jsonl };

struct Options {
    Command command = Command::Help;
    // Help: the command whose help was asked for (Command::Help for the overview).
    Command helpTopic = Command::Help;
    std::string meter;                // the meter as given (id, serial, port); empty: the only one
    std::optional<int> wavelengthNm;  // 1..65535 (the meter stores a uint16)
    std::optional<int> average;       // 1..65535
    std::optional<uint64_t> count;    // >= 1; read defaults to 1
    std::optional<double> durationS;  // > 0, finite
    OutputFormat format = OutputFormat::Text;  // stream: Csv unless --format jsonl
    std::string outputPath;                    // empty: standard output
    std::string logDir;                        // empty: no library log
    bool verbose = false;  // show the library's USB diagnostics and protocol trouble
    bool force = false;    // zero: even when the probe does not look covered
};

struct ParseResult {
    bool ok = false;
    Options options;
    std::string error;  // set when !ok: one line, without program name
    // The command named before the error, if any (so help can point at its page).
    std::optional<Command> command;
};

// args excludes the program name.
ParseResult parseArgs(const std::vector<std::string>& args);

// Name of a command as typed ("scan", "stream", ...; "help" for Help/Version).
const char* commandName(Command c);

// Full help text for a command (Command::Help: the overview of all commands).
std::string helpText(Command c);

}  // namespace tessivar::cli
