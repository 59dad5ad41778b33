// tessivar-sim: simulated meters on a virtual USB bus, with any program running on it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "launcher_options.h"
#include "simmeter/preload.h"
#include "simmeter/virtual_bus.h"

using namespace simmeter;

namespace {

std::atomic<pid_t> g_child{0};
std::atomic<int> g_signal{0};

void OnSignal(int sig)
{
    g_signal = sig;
    const pid_t c = g_child;
    if (c > 0)
        kill(c, sig);
}

void InstallSignalHandlers()
{
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
}

struct Fleet {
    std::vector<std::shared_ptr<SimMeter>> meters;  // meter M is meters[M - 1]
    std::mutex mu;                                  // serialises commands on the fleet

    std::shared_ptr<SimMeter> At(int m)
    {
        if (m < 1 || m > static_cast<int>(meters.size()))
            return nullptr;
        return meters[static_cast<size_t>(m - 1)];
    }
};

// One line of the control FIFO; returns a message for stderr.
std::string RunCommand(Fleet& fleet, const std::string& line)
{
    std::istringstream in(line);
    std::string verb, arg;
    int m = 0;
    in >> verb >> m;
    std::getline(in >> std::ws, arg);
    if (verb.empty())
        return "";
    std::lock_guard<std::mutex> lock(fleet.mu);
    auto meter = fleet.At(m);
    if (!meter)
        return "no meter " + std::to_string(m);
    auto& bus = VirtualBus::Instance();
    try {
        if (verb == "unplug") {
            bus.Unplug(meter);
        } else if (verb == "replug") {
            bus.Replug(meter);
        } else if (verb == "power" || verb == "noise" || verb == "rate") {
            SignalConfig s = meter->Signal();
            const double v = std::stod(arg);
            if (verb == "power")
                s.powerNw = v;
            if (verb == "noise")
                s.noiseRel = v;
            if (verb == "rate")
                s.sampleRateHz = v;
            meter->SetSignal(s);
        } else if (verb == "fault" || verb == "faults") {
            FaultConfig f = meter->Faults();
            if (!launcher::ApplyFault(arg, &f))
                return "unknown fault: " + arg;
            meter->SetFaults(f);
        } else {
            return "unknown command: " + verb;
        }
    } catch (const std::exception& e) {
        return e.what();
    }
    return verb + " " + std::to_string(m) + " done";
}

class ControlChannel {
public:
    ControlChannel(Fleet& fleet, std::string path, bool verbose)
        : fleet_(fleet), path_(std::move(path)), verbose_(verbose)
    {
        unlink(path_.c_str());
        if (mkfifo(path_.c_str(), 0600) != 0) {
            throw std::runtime_error("cannot create the control FIFO " + path_ + ": " +
                                     std::strerror(errno));
        }
        // Opened for writing too, so that a writer closing it is not an end of file.
        fd_ = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path_);
        thread_ = std::thread([this] { Loop(); });
    }
    ~ControlChannel()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
        unlink(path_.c_str());
    }

private:
    void Loop()
    {
        std::string pending;
        while (!stop_) {
            struct pollfd p {
                fd_, POLLIN, 0
            };
            if (poll(&p, 1, 200) <= 0)
                continue;
            char buf[512];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0)
                continue;
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string msg = RunCommand(fleet_, pending.substr(0, nl));
                pending.erase(0, nl + 1);
                if (verbose_ && !msg.empty())
                    std::cerr << "tessivar-sim: " << msg << "\n";
            }
        }
    }

    Fleet& fleet_;
    std::string path_;
    bool verbose_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Unplugs meters at their --unplug-after times.
class UnplugTimer {
public:
    UnplugTimer(Fleet& fleet, const std::vector<launcher::MeterPlan>& plans) : fleet_(fleet)
    {
        const auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < plans.size(); ++i) {
            if (plans[i].unplugAfterMs >= 0) {
                due_.push_back({start + std::chrono::milliseconds(plans[i].unplugAfterMs),
                                static_cast<int>(i + 1)});
            }
        }
        if (!due_.empty())
            thread_ = std::thread([this] { Loop(); });
    }
    ~UnplugTimer()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void Loop()
    {
        std::unique_lock<std::mutex> lock(mu_);
        for (const auto& [at, m] : due_) {
            if (cv_.wait_until(lock, at, [this] { return stop_; }))
                return;
            lock.unlock();
            RunCommand(fleet_, "unplug " + std::to_string(m));
            lock.lock();
        }
    }

    Fleet& fleet_;
    std::vector<std::pair<std::chrono::steady_clock::time_point, int>> due_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread thread_;
};

int RunProgram(const std::vector<std::string>& program)
{
    std::vector<char*> argv;
    for (const auto& a : program)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("tessivar-sim: fork");
        return 127;
    }
    if (pid == 0) {
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "tessivar-sim: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    g_child = pid;
    if (g_signal)
        kill(pid, g_signal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 127;
    }
    g_child = 0;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 127;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto opts = launcher::Parse(args, &error);
    if (!opts) {
        std::cerr << "tessivar-sim: " << error << "\n(see tessivar-sim --help)\n";
        return 2;
    }
    if (opts->help) {
        std::cout << launcher::Usage();
        return 0;
    }
    try {
        EnsureUnderPreload(argv);
    } catch (const std::exception& e) {
        std::cerr << "tessivar-sim: " << e.what() << "\n";
        return 2;
    }
    TightenTimerSlack();
    InstallSignalHandlers();

    int rc = 0;
    try {
        auto& bus = VirtualBus::Instance();
        Fleet fleet;
        for (size_t i = 0; i < opts->meters.size(); ++i) {
            const auto& plan = opts->meters[i];
            MeterConfig cfg;
            cfg.index = static_cast<int>(i + 1);
            cfg.signal = plan.signal;
            cfg.faults = plan.faults;
            cfg.saveDelayMs = opts->saveDelayMs;
            auto m = bus.Plug(plan.port, cfg);
            if (opts->verbose) {
                std::fprintf(stderr,
                             "tessivar-sim: meter %zu at %s (bus %03d device %03d, serial %s)\n",
                             i + 1, m->PortName().c_str(), m->BusNumber(), m->DeviceNumber(),
                             m->Model().Identity().devSerial.c_str());
            }
            fleet.meters.push_back(std::move(m));
        }
        std::unique_ptr<ControlChannel> control;
        if (!opts->controlPath.empty()) {
            control = std::make_unique<ControlChannel>(fleet, opts->controlPath, opts->verbose);
        }
        UnplugTimer timer(fleet, opts->meters);
        if (opts->program.empty()) {
            std::fprintf(stderr,
                         "tessivar-sim: bus ready; run programs with\n  UMOCKDEV_DIR=%s "
                         "LD_PRELOAD=%s\n(SIGINT or SIGTERM ends it)\n",
                         bus.RootDir().c_str(), kPreloadLibrary);
            while (!g_signal)
                pause();
        } else {
            rc = RunProgram(opts->program);
        }
        control.reset();
        bus.UnplugAll();
    } catch (const std::exception& e) {
        std::cerr << "tessivar-sim: " << e.what() << "\n";
        return 2;
    }
    return rc;
}
