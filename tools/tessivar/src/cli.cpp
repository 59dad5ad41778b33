#include "cli.h"

#include <stdlib.h>

#include <cstdlib>

#include "args.h"
#include "cli_common.h"

#ifndef TESSIVAR_VERSION_STRING
#define TESSIVAR_VERSION_STRING "unknown"
#endif

namespace tessivar::cli {
namespace detail {

static_assert(sizeof(PowerData) == 16, "PowerData is the library's 16-byte record");

// What a failed command (0x.... with a reply expected to be empty) means.
std::string describeCommand(int code)
{
    switch (code) {
    case TESSIVAR_ERR_NO_DEVICE: return "the meter is no longer known to the library";
    case TESSIVAR_ERR_NO_REPLY: return "timed out (no reply in time)";
    case TESSIVAR_ERR_NOT_INITED: return "the meter is not ready";
    case TESSIVAR_ERR_ARGUMENT: return "the meter refused the request";
    default: return "code " + std::to_string(code);
    }
}

// What a failed query means: the library reports a query without a reply in time, or
// with an empty one, as -4; at the user's end both are a reply that did not come.
std::string describeQuery(int code)
{
    if (code == TESSIVAR_ERR_ARGUMENT)
        return "timed out (no reply in time)";
    return describeCommand(code);
}

bool timedOut(int code) { return code == TESSIVAR_ERR_NO_REPLY || code == TESSIVAR_ERR_ARGUMENT; }

std::string meterName(int id) { return "meter " + std::to_string(id); }

bool stopRequested(const CliEnvironment& env) { return env.stop && env.stop->load(); }

// Waits in small steps so that Ctrl-C is noticed.
void pause(const CliEnvironment& env, std::chrono::milliseconds d)
{
    if (stopRequested(env))
        throw Interrupted{};
    std::this_thread::sleep_for(d);
}

void warn(CliEnvironment& env, const std::string& text)
{
    env.err << "tessivar: warning: " << text << "\n";
}

bool outputGone(const CliEnvironment& env) { return env.outputClosed && env.outputClosed(); }

}  // namespace detail

namespace {

using namespace detail;

int runCommand(LibrarySession& lib, const Options& opt, CliEnvironment& env)
{
    switch (opt.command) {
    case Command::Scan: return cmdScan(lib, opt, env);
    case Command::Info: return cmdInfo(lib, opt, env);
    case Command::Read: return cmdRead(lib, opt, env);
    case Command::Stream: return cmdStream(lib, opt, env);
    case Command::Set: return cmdSet(lib, opt, env);
    case Command::Zero: return cmdZero(lib, opt, env);
    case Command::Help:
    case Command::Version: break;
    }
    return kExitOk;
}

// Standard output is written out at the end; a failure there is a failure of the command,
// except when the reader closed the pipe.
int finishOutput(int status, CliEnvironment& env)
{
    env.out.flush();
    if (env.out.good() || outputGone(env))
        return status;
    env.err << "tessivar: Writing to standard output failed.\n";
    return kExitFailure;
}

}  // namespace

int runCli(const std::vector<std::string>& args, CliEnvironment& env)
{
    const ParseResult parsed = parseArgs(args);
    if (!parsed.ok) {
        env.err << "tessivar: " << parsed.error << "\n";
        env.err << "Try 'tessivar "
                << (parsed.command ? std::string(commandName(*parsed.command)) + " " : "")
                << "--help'.\n";
        return kExitUsage;
    }
    const Options& opt = parsed.options;
    if (opt.command == Command::Help) {
        env.out << helpText(opt.helpTopic);
        return finishOutput(kExitOk, env);
    }
    if (opt.command == Command::Version) {
        env.out << "tessivar " << TESSIVAR_VERSION_STRING << "\n";
        return finishOutput(kExitOk, env);
    }

    // The library reports USB-level trouble (e.g. every failed read after an unplug) on
    // the framework's debug stream, which goes to stderr; the tool explains failures in
    // its own words instead. A user's own logging rules are left alone.
    if (!opt.verbose && !std::getenv("QT_LOGGING_RULES"))
        setenv("QT_LOGGING_RULES", "default.debug=false", 0);

    int status = kExitOk;
    LogFile log(opt.logDir);
    try {
        LibrarySession lib(log);
        status = runCommand(lib, opt, env);
    } catch (const Failure& f) {
        env.err << "tessivar: " << f.what() << "\n";
        status = kExitFailure;
    } catch (const Interrupted&) {
        env.err << "tessivar: Interrupted.\n";
        status = kExitFailure;
    }
    // The library's log is complete once releaseDev has run (end of the session above).
    if (opt.verbose)
        for (const auto& line : log.troubleLines())
            env.err << "tessivar: library log: " << line << "\n";
    return finishOutput(status, env);
}

}  // namespace tessivar::cli
