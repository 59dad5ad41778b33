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
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kCli = TESSIVAR_CLI_PATH;
constexpr const char* kSim = TESSIVAR_SIM_PATH;
const std::string kId13 = std::to_string(3 << 24);  // the launcher's meter on port "1-3"

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

size_t countLines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
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
    void SetUp() override {
        ASSERT_TRUE(scratch_.ok());
        dir_ = scratch_.path();
    }

    // Starts argv in a process group of its own, standard output and error into files.
    Child start(const std::vector<std::string>& argv) {
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
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        setpgid(c.pid, c.pid);
        return c;
    }

    // Waits at most `timeout`; a child still running then is killed (and the test fails).
    Finished finish(const Child& c, std::chrono::milliseconds timeout = 60s) {
        Finished f;
        const auto end = std::chrono::steady_clock::now() + timeout;
        int ws = 0;
        for (;;) {
            const pid_t r = waitpid(c.pid, &ws, WNOHANG);
            if (r == c.pid) break;
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

    Finished runOnSim(std::vector<std::string> simArgs, const std::vector<std::string>& cliArgs) {
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

TEST_F(CliProcessTest, ScanWithoutAnyMeterExitsWithOne) {
    // No virtual bus at all: the real, empty USB of this machine.
    Finished f = finish(start({kCli, "scan"}));
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.err, "No meter found.\n");
}

TEST_F(CliProcessTest, ExitStatusesForHelpUsageAndUnknownId) {
    EXPECT_EQ(finish(start({kCli, "--help"})).status, 0);
    EXPECT_EQ(finish(start({kCli, "stream", "--help"})).status, 0);
    Finished usage = finish(start({kCli, "read"}));
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("missing meter id"), std::string::npos) << usage.err;
    Finished unknown = runOnSim({"--meters", "1"}, {"info", "77"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("No meter with id 77 is attached"), std::string::npos) << unknown.err;
}

TEST_F(CliProcessTest, CtrlCEndsAStreamCleanly) {
    const std::string file = dir_ + "/ctrl-c.csv";
    Child c = start({kSim, "--meters", "1", "--port", "1-3", "--", kCli, "stream", kId13, "-o", file});
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
    EXPECT_EQ(csv.rfind("time_ms,time,power_w,power_dbm\n", 0), 0u);
}
