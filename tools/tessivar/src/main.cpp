// `tessivar`: command-line access to the optical power meters (see `tessivar --help`).
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <iostream>

#include "cli.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int64_t> g_firstSignalMs{0};

int64_t monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);  // async-signal-safe
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// First Ctrl-C: ask the running command to stop and close the meter. Another one more
// than a second later ends the program at once, so a hung program can still be ended.
// Signals within that second are the same Ctrl-C arriving twice, as happens when a
// parent (a launcher, a shell script) forwards it to its process group as well.
void onSignal(int)
{
    const int64_t now = monotonicMs();
    int64_t expected = 0;
    if (g_firstSignalMs.compare_exchange_strong(expected, now)) {
        g_stop.store(true);
        return;
    }
    if (now - expected > 1000)
        _exit(130);
}

}  // namespace

int main(int argc, char** argv)
{
    static_assert(std::atomic<bool>::is_always_lock_free &&
                      std::atomic<int64_t>::is_always_lock_free,
                  "the signal handler uses these atomics");
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows up as a failed write instead

    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    tessivar::cli::CliEnvironment env{std::cout, std::cerr};
    env.stop = &g_stop;
    env.errIsTerminal = isatty(STDERR_FILENO) == 1;
    env.outIsTerminal = isatty(STDOUT_FILENO) == 1;
    // A pipe whose reader has gone reports POLLERR on its write end.
    env.outputClosed = [] {
        pollfd p{STDOUT_FILENO, POLLOUT, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
    };
    // runCli flushes standard output itself and reports a failed write.
    return tessivar::cli::runCli(args, env);
}
