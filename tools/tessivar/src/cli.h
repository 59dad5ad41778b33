// Entry of the `tessivar` tool, callable in-process (tests drive it against the simulated
// meter). Everything that reaches the meter goes through the library's public exports.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tessivar::cli {

enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct CliEnvironment {
    CliEnvironment(std::ostream& o, std::ostream& e) : out(o), err(e) {}

    std::ostream& out;                        // results, data rows when no --output is given
    std::ostream& err;                        // errors, warnings and the progress line
    const std::atomic<bool>* stop = nullptr;  // set by Ctrl-C: ends waits and streams cleanly
    bool errIsTerminal = false;               // draw the progress line on `err` ...
    bool outIsTerminal = false;               // ... unless the data rows go to the same terminal
    std::chrono::milliseconds readyTimeout{3000};  // open until the meter is initialised
    // True when `out` failed because its reader went away (a closed pipe): the command
    // then ends quietly, as command-line tools do. Unset: never.
    std::function<bool()> outputClosed;
};

// args excludes the program name. Returns the exit status. Calls releaseDev before it
// returns, so each call starts from a fresh library state.
int runCli(const std::vector<std::string>& args, CliEnvironment& env);

}  // namespace tessivar::cli
