// Command line of tessivar-sim, parsed without side effects.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "simmeter/meter_model.h"

namespace simmeter {
namespace launcher {

struct MeterPlan {
    std::string port;
    SignalConfig signal;
    FaultConfig faults;
    int unplugAfterMs = -1;  // unplug this long after the program started; -1: never
};

struct Options {
    bool help = false;
    bool verbose = false;
    bool demo = false;  // every meter starts from DemoSignal(its number); settings apply on top
    int saveDelayMs = 300;
    std::string controlPath;  // FIFO for run-time commands; empty: none
    std::vector<MeterPlan> meters;
    std::vector<std::string> program;  // after "--"; empty: hold the bus until a signal
};

// Parses argv[1..]. On failure returns nullopt and sets *error.
std::optional<Options> Parse(const std::vector<std::string>& args, std::string* error);

// Applies one fault, `name` or `name=value` (see Usage), to `f`; false for an unknown
// name or a malformed value.
bool ApplyFault(const std::string& fault, FaultConfig* f);

// Parses a command code: decimal or 0x-hex, 0..0xFFFF.
std::optional<uint16_t> ParseCode(const std::string& s);

std::string Usage();

}  // namespace launcher
}  // namespace simmeter
