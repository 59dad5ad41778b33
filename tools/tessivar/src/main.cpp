// `tessivar`: command-line access to the optical power meters (see `tessivar --help`).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli.h"

namespace {

std::atomic<bool> g_stop{false};

// First Ctrl-C: ask the running command to stop and close the meter. A second one falls
// back to the default action, so a hung program can still be ended.
void onSignal(int sig) {
    g_stop.store(true);
    std::signal(sig, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
    static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler stores a flag");
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows up as a failed write instead

    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    tessivar::cli::CliEnvironment env{std::cout, std::cerr};
    env.stop = &g_stop;
    env.errIsTerminal = isatty(STDERR_FILENO) == 1;
    env.outIsTerminal = isatty(STDOUT_FILENO) == 1;
    const int status = tessivar::cli::runCli(args, env);
    std::cout.flush();
    return status;
}
