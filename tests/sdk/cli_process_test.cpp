// The tessivar executable as a user runs it: real exit statuses and standard streams,
// the machine's own (empty) USB, and Ctrl-C delivered to the whole process group inside
// the tessivar-sim launcher. What the commands print is tested in-process (cli_sim_test).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kCli = TESSIVAR_CLI_PATH;
constexpr const char* kSim = TESSIVAR_SIM_PATH;
const std::string kId13 = std::to_string(3 << 24);  // the launcher's meter on port "1-3"

size_t countLines(const std::string& text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

struct Child {
    pid_t pid = -1;
    std::string outPath, errPath;
};

struct Finished {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

class CliProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch_.ok());
        dir_ = scratch_.path();
    }

    // Starts argv in a process group of its own, standard output and error into files.
    Child start(const std::vector<std::string>& argv)
    {
        Child c;
        c.outPath = dir_ + "/out" + std::to_string(serial_);
        c.errPath = dir_ + "/err" + std::to_string(serial_++);
        c.pid = fork();
        if (c.pid == 0) {
            setpgid(0, 0);
            const int out = open(c.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(c.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        setpgid(c.pid, c.pid);
        return c;
    }

    // Waits at most `timeout`; a child still running then is killed (and the test fails).
    Finished finish(const Child& c, std::chrono::milliseconds timeout = 60s)
    {
        Finished f;
        const auto end = std::chrono::steady_clock::now() + timeout;
        int ws = 0;
        for (;;) {
            const pid_t r = waitpid(c.pid, &ws, WNOHANG);
            if (r == c.pid)
                break;
            if (std::chrono::steady_clock::now() >= end) {
                ADD_FAILURE() << "child did not end in time";
                kill(-c.pid, SIGKILL);
                waitpid(c.pid, &ws, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        f.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        f.out = readFile(c.outPath);
        f.err = readFile(c.errPath);
        return f;
    }

    Finished runOnSim(std::vector<std::string> simArgs, const std::vector<std::string>& cliArgs)
    {
        std::vector<std::string> argv{kSim};
        argv.insert(argv.end(), simArgs.begin(), simArgs.end());
        argv.push_back("--");
        argv.push_back(kCli);
        argv.insert(argv.end(), cliArgs.begin(), cliArgs.end());
        return finish(start(argv));
    }

    ScratchDir scratch_{"tessivar-cli-proc"};
    std::string dir_;
    int serial_ = 0;
};

}  // namespace

TEST_F(CliProcessTest, ExitStatusesForHelpUsageNoMeterAndUnknownId)
{
    // No virtual bus at all: the real, empty USB of this machine.
    Finished scan = finish(start({kCli, "scan"}));
    EXPECT_EQ(scan.status, 1);
    EXPECT_EQ(scan.err, "No meter found.\n");
    EXPECT_EQ(finish(start({kCli, "--help"})).status, 0);
    EXPECT_EQ(finish(start({kCli, "stream", "--help"})).status, 0);
    Finished usage = finish(start({kCli, "read", "--count", "0"}));
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("invalid count '0'"), std::string::npos) << usage.err;
    Finished none = finish(start({kCli, "read"}));  // the only meter, of none at all
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "tessivar: No meter found.\n");
    Finished unknown = runOnSim({"--meters", "1"}, {"info", "77"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("No meter with id 77 is attached"), std::string::npos)
        << unknown.err;
}

TEST_F(CliProcessTest, CtrlCEndsAStreamCleanly)
{
    const std::string file = dir_ + "/ctrl-c.csv";
    Child c =
        start({kSim, "--meters", "1", "--port", "1-3", "--", kCli, "stream", kId13, "-o", file});
    // Wait for data in the file, then Ctrl-C as a terminal sends it: to the whole group.
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (countLines(readFile(file)) < 30 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_GE(countLines(readFile(file)), 30u) << readFile(c.errPath);
    kill(-c.pid, SIGINT);
    Finished f = finish(c, 20s);
    EXPECT_EQ(f.status, 0) << f.err;
    const std::string csv = readFile(file);
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back(), '\n') << "the last row is complete";
    EXPECT_EQ(csv.rfind("# {\"metadata\":{\"meter\":50331648,", 0), 0u);
    EXPECT_NE(csv.find("\nunix_ms,local_ms,time,power_w,power_dbm\n"), std::string::npos);
}

TEST_F(CliProcessTest, AReaderClosingThePipeEndsTheStreamQuietly)
{
    const std::string script =
        std::string(kCli) + " stream | head -n 4; echo \"tessivar=${PIPESTATUS[0]}\" >&2";
    Finished f = finish(start({kSim, "--meters", "1", "--", "/bin/bash", "-c", script}), 30s);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(countLines(f.out), 4u) << f.out;
    EXPECT_EQ(f.out.rfind("# {\"metadata\":", 0), 0u) << f.out;
    EXPECT_EQ(f.err, "tessivar=0\n") << "no message, status 0";
}

TEST_F(CliProcessTest, AFailedWriteToStandardOutputFailsEveryCommand)
{
    for (const std::string command : {"scan", "info", "--help"}) {
        const std::string script = std::string(kCli) + " " + command + " > /dev/full";
        Finished f = finish(start({kSim, "--meters", "1", "--", "/bin/sh", "-c", script}), 30s);
        EXPECT_EQ(f.status, 1) << command;
        EXPECT_EQ(f.err, "tessivar: Writing to standard output failed.\n") << command;
    }
}

TEST_F(CliProcessTest, ASecondProgramIsToldTheMeterIsInUseAndTheFirstStreamGoesOn)
{
    const std::string file = dir_ + "/first.csv";
    const std::string cli = kCli;
    const std::string script = cli + " stream -n 400 -o " + file + " & first=$!; " + "until [ -f " +
                               file + " ] && [ \"$(wc -l < " + file +
                               ")\" -gt 20 ]; do sleep 0.05; done; " + cli +
                               " read; echo \"second=$?\" >&2; wait $first; echo \"first=$?\" >&2";
    Finished f = finish(start({kSim, "--meters", "1", "--", "/bin/bash", "-c", script}), 60s);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(
        f.err,
        "tessivar: Cannot open meter 16777216: meter in use by another program.\nsecond=1\nfirst=0\n");
    const std::string csv = readFile(file);
    EXPECT_EQ(countLines(csv), 402u) << "metadata, header and every sample of the first program";
    // Samples come every 10 ms: a gap would mean the second program disturbed the first.
    const std::vector<std::string> rows = lines(csv);
    long long previous = -1;
    int gaps = 0;
    for (size_t i = 2; i < rows.size(); ++i) {
        const long long t = std::stoll(split(rows[i], ',')[0]);
        if (previous >= 0 && t - previous > 30)
            ++gaps;
        previous = t;
    }
    EXPECT_EQ(gaps, 0);
}
