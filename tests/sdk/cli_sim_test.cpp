// The tessivar tool, run in-process against simulated meters on the virtual USB bus:
// what each command prints, its exit status, and how it behaves when a meter is missing,
// silent, out of range or unplugged in the middle of a stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "cli.h"
#include "scratch_dir.h"
#include "simmeter/virtual_bus.h"

using namespace std::chrono_literals;
using tessivar::cli::CliEnvironment;
using tessivar::cli::runCli;

namespace {

using Meter = std::shared_ptr<simmeter::SimMeter>;

// Ids the library derives from these port chains (port numbers as the bytes of an int).
constexpr int kId13 = 3 << 24;                 // "1-3"
constexpr int kId112 = (1 << 24) + (2 << 16);  // "1-1.2"
constexpr int kId113 = (1 << 24) + (3 << 16);  // "1-1.3"

struct CliRun {
    int status = -1;
    std::string out, err;
    std::chrono::milliseconds took{0};
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, sep)) cells.push_back(cell);
    if (!line.empty() && line.back() == sep) cells.push_back("");
    return cells;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

// The device thread's last frame at its end is a stop request: seeing it last means the
// meter was closed, not merely abandoned.
bool endedWithStop(const simmeter::SimMeter& m) {
    const auto frames = m.Received();
    return !m.IsStreaming() && !frames.empty() && frames.back().code == 0x0025;
}

class CliSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.ok());
        dir_ = scratch_.path();
    }
    void TearDown() override { simmeter::VirtualBus::Instance().UnplugAll(); }

    Meter plug(const std::string& port, double powerNw = 2500.0) {
        Meter m = simmeter::VirtualBus::Instance().Plug(port);
        simmeter::SignalConfig s = m->Signal();
        s.powerNw = powerNw;
        m->SetSignal(s);
        return m;
    }

    CliRun run(std::vector<std::string> args) {
        std::ostringstream out, err;
        CliEnvironment env{out, err};
        env.stop = &stop_;
        const auto t0 = std::chrono::steady_clock::now();
        CliRun r;
        r.status = runCli(args, env);
        r.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::atomic<bool> stop_{false};
    ScratchDir scratch_{"tessivar-cli-test"};
    std::string dir_;
};

// Power column of a CSV data row, in nW.
double csvPowerNw(const std::string& row) {
    auto cells = split(row, ',');
    EXPECT_EQ(cells.size(), 4u) << row;
    return cells.size() == 4 ? std::strtod(cells[2].c_str(), nullptr) * 1e9 : NAN;
}

}  // namespace

// ---- scan ----------------------------------------------------------------------------------

TEST_F(CliSimTest, ScanWithoutMetersSaysSoAndFails) {
    CliRun r = run({"scan"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No meter found.\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliSimTest, ScanListsOneMeterWithItsIdentity) {
    Meter m = plug("1-3");
    const simmeter::MeterIdentity id = m->Model().Identity();
    CliRun r = run({"scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;  // header, rule, one meter
    EXPECT_NE(rows[0].find("Meter head"), std::string::npos);
    EXPECT_EQ(rows[2].rfind(std::to_string(kId13) + "  ", 0), 0u) << rows[2];
    for (const std::string& text : {id.devName, id.devSerial, id.detName, id.detSerial, id.version})
        EXPECT_NE(rows[2].find(text), std::string::npos) << text << " missing in: " << rows[2];
    EXPECT_TRUE(endedWithStop(*m)) << "scan closes what it opened";
}

TEST_F(CliSimTest, ScanListsThreeMetersEachWithItsOwnIdentity) {
    std::vector<std::pair<int, Meter>> meters = {
        {kId13, plug("1-3")}, {kId112, plug("1-1.2")}, {kId113, plug("1-1.3")}};
    CliRun r = run({"scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 5u) << r.out;
    for (const auto& [id, meter] : meters) {
        const auto ident = meter->Model().Identity();
        int found = 0;
        for (size_t i = 2; i < rows.size(); ++i) {
            if (rows[i].rfind(std::to_string(id) + "  ", 0) != 0) continue;
            ++found;
            EXPECT_NE(rows[i].find(ident.devSerial), std::string::npos) << rows[i];
            EXPECT_NE(rows[i].find(ident.detSerial), std::string::npos) << rows[i];
        }
        EXPECT_EQ(found, 1) << "meter " << id << " in:\n" << r.out;
    }
    // The three opens overlap: far less than three times the ready wait.
    EXPECT_LT(r.took, 6s);
}

TEST_F(CliSimTest, ScanMarksASilentMeterAndStillListsTheOthers) {
    plug("1-3");
    Meter silent = plug("1-1.2");
    simmeter::FaultConfig f;
    f.silent = true;
    silent->SetFaults(f);
    CliRun r = run({"scan"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::to_string(kId112) + "  (not answering)"), std::string::npos) << r.out;
    EXPECT_EQ(lines(r.out).size(), 4u) << r.out;
}

// ---- info, set, zero -------------------------------------------------------------------

TEST_F(CliSimTest, InfoShowsIdentityCalibrationAndSettings) {
    Meter m = plug("1-3");
    const auto ident = m->Model().Identity();
    CliRun r = run({"info", std::to_string(kId13)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Meter:             " + std::to_string(kId13)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(ident.devName + " (serial " + ident.devSerial + ")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(ident.detName + " (serial " + ident.detSerial + ")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware:          " + ident.version), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Calibration date:  2026-01-15"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Wavelength range:  400 to 1100 nm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Wavelength:        " + std::to_string(m->Model().SampleWavelength()) + " nm"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Averaging:         " + std::to_string(m->Model().Average())), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Zero offset:"), std::string::npos);
    EXPECT_NE(r.out.find("Probe state:       attached"), std::string::npos) << r.out;
}

TEST_F(CliSimTest, InfoReportsADetachedProbe) {
    Meter m = plug("1-3");
    simmeter::FaultConfig f;
    f.detectorState = 0;
    m->SetFaults(f);
    CliRun r = run({"info", std::to_string(kId13)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Probe state:       detached (state 0)"), std::string::npos) << r.out;
}

TEST_F(CliSimTest, SetChangesTheMeterAndPrintsWhatItReadsBack) {
    Meter m = plug("1-3");
    CliRun r = run({"set", std::to_string(kId13), "--wavelength", "980", "--average", "8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Wavelength:  980 nm\nAveraging:   8\n");
    EXPECT_EQ(m->Model().SampleWavelength(), 980);
    EXPECT_EQ(m->Model().Average(), 8);
}

TEST_F(CliSimTest, ZeroCompensationUsesAFreshReading) {
    Meter m = plug("1-3", 2500.0);
    ASSERT_EQ(run({"set", std::to_string(kId13), "-w", "850"}).status, 0);
    CliRun z = run({"zero", std::to_string(kId13)});
    ASSERT_EQ(z.status, 0) << z.err;
    EXPECT_NEAR(m->Model().ZeroOffset(), 2500.0, 2500.0 * 0.02) << z.out;
    EXPECT_NE(z.out.find("Zero offset:  2.5"), std::string::npos) << z.out;
    // The stored offset applies to the next session: readings are now near zero.
    CliRun r = run({"read", std::to_string(kId13), "-n", "5"});
    ASSERT_EQ(r.status, 0) << r.err;
    // What is left is the noise (0.2 % of 2.5 µW): nanowatts, no longer microwatts.
    EXPECT_EQ(lines(r.out).size(), 5u);
    EXPECT_EQ(r.out.find(" µW "), std::string::npos) << "still microwatts after zeroing:\n" << r.out;
}

// ---- read and stream ---------------------------------------------------------------------

TEST_F(CliSimTest, ReadingsFollowTheWavelengthTheMeterKeepsBetweenSessions) {
    // The meter remembers its wavelength; a new session of the library starts without
    // it and must fetch it, or the spectral correction of another wavelength is applied
    // (here 850 nm against 532 nm: 65 % too high).
    Meter m = plug("1-3", 2500.0);
    ASSERT_EQ(run({"set", std::to_string(kId13), "--wavelength", "850"}).status, 0);
    for (const char* command : {"read", "stream"}) {
        CliRun r = run({command, std::to_string(kId13), "-n", "5"});
        ASSERT_EQ(r.status, 0) << r.err;
        auto rows = lines(r.out);
        ASSERT_GE(rows.size(), 5u);
        const std::string value = std::string(command) == "read" ? rows[0] : rows[1];
        EXPECT_NE(value.find(std::string(command) == "read" ? "  2." : ",2."), std::string::npos)
            << command << " not at 2.5 µW: " << value;
    }
}

TEST_F(CliSimTest, ReadPrintsTheRequestedNumberOfReadingsAtTheGivenWavelength) {
    Meter m = plug("1-3", 2500.0);
    CliRun r = run({"read", std::to_string(kId13), "--wavelength", "850", "--count", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    const std::regex line(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  2\.\d{4} µW  -26\.\d{3} dBm$)");
    for (const auto& row : rows) EXPECT_TRUE(std::regex_match(row, line)) << row;
    EXPECT_EQ(m->Model().SampleWavelength(), 850);
    EXPECT_FALSE(m->IsStreaming()) << "read stops the transfer it started";
}

TEST_F(CliSimTest, StreamOfAFixedCountWritesExactlyThatManyRowsMatchingThePower) {
    Meter m = plug("1-3", 2500.0);
    const std::string file = path("run.csv");
    CliRun r = run({"stream", std::to_string(kId13), "--count", "200", "-w", "850", "--output", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "data goes to the file only";
    auto rows = lines(readFile(file));
    ASSERT_EQ(rows.size(), 201u);
    EXPECT_EQ(rows[0], "time_ms,time,power_w,power_dbm");
    // Noise is 0.2 % (one sigma); 2 % bounds every sample with a wide margin.
    int64_t previous = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_NEAR(csvPowerNw(rows[i]), 2500.0, 50.0) << rows[i];
        const int64_t t = std::stoll(split(rows[i], ',')[0]);
        if (i > 1) {
            EXPECT_GT(t, previous) << "time stamps advance: " << rows[i];
        }
        previous = t;
    }
    EXPECT_FALSE(m->IsStreaming());
    EXPECT_TRUE(endedWithStop(*m));
}

TEST_F(CliSimTest, StreamForADurationAtAHighRateLosesNothing) {
    Meter m = plug("1-3", 2500.0);
    simmeter::SignalConfig s = m->Signal();
    s.sampleRateHz = 2000;  // the library's 401-record queue fills in 0.2 s
    m->SetSignal(s);
    const std::string file = path("fast.csv");
    CliRun r = run({"stream", std::to_string(kId13), "--duration", "1.5", "-o", file});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(readFile(file));
    ASSERT_GT(rows.size(), 1000u) << "about 3000 samples expected";
    // Two samples per millisecond of the meter's tick: any step of more than a few ms
    // means samples were dropped on the way.
    int64_t previous = std::stoll(split(rows[1], ',')[0]);
    int gaps = 0;
    for (size_t i = 2; i < rows.size(); ++i) {
        const int64_t t = std::stoll(split(rows[i], ',')[0]);
        if (t - previous > 5) ++gaps;
        previous = t;
    }
    EXPECT_EQ(gaps, 0);
}

TEST_F(CliSimTest, StreamEndsCleanlyOnStop) {
    Meter m = plug("1-3");
    const std::string file = path("stopped.csv");
    std::thread interrupter([&] {
        waitFor([&] { return m->Model().SamplesSent() >= 30; }, 5000ms);
        stop_.store(true);
    });
    CliRun r = run({"stream", std::to_string(kId13), "-o", file});
    interrupter.join();
    EXPECT_EQ(r.status, 0) << r.err;
    auto rows = lines(readFile(file));
    EXPECT_GE(rows.size(), 21u);
    EXPECT_FALSE(m->IsStreaming()) << "the transfer is stopped";
    EXPECT_TRUE(endedWithStop(*m)) << "the meter is closed";
}

TEST_F(CliSimTest, StreamSurvivesAnUnplugWithAClearMessage) {
    Meter m = plug("1-3");
    const std::string file = path("unplugged.csv");
    std::thread unplugger([&] {
        waitFor([&] { return m->Model().SamplesSent() >= 50; }, 5000ms);
        simmeter::VirtualBus::Instance().Unplug(m);
    });
    CliRun r = run({"stream", std::to_string(kId13), "-o", file});
    unplugger.join();
    EXPECT_EQ(r.status, 1);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(r.err, match, std::regex(R"(Meter 50331648 was disconnected after (\d+) samples\.)")))
        << r.err;
    const size_t reported = std::stoul(match[1]);
    auto rows = lines(readFile(file));
    EXPECT_EQ(rows.size(), reported + 1) << "the file holds every sample reported";
    EXPECT_GE(reported, 30u);
    EXPECT_LT(r.took, 15s);
}

// ---- errors ------------------------------------------------------------------------------

TEST_F(CliSimTest, UnknownIdNamesTheAttachedOnes) {
    plug("1-3");
    CliRun r = run({"info", "12345"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tessivar: No meter with id 12345 is attached (attached: 50331648; see 'tessivar scan').\n");
    EXPECT_EQ(r.out, "");

    simmeter::VirtualBus::Instance().UnplugAll();
    CliRun none = run({"read", "12345"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "tessivar: No meter found.\n");
}

TEST_F(CliSimTest, WavelengthOutsideTheProbeRangeIsRefusedBeforeReachingTheMeter) {
    Meter m = plug("1-3");
    const int before = m->Model().SampleWavelength();
    const std::string id = std::to_string(kId13);
    for (const auto& args : {std::vector<std::string>{"set", id, "--wavelength", "1550"},
                             std::vector<std::string>{"read", id, "--wavelength", "1550"},
                             std::vector<std::string>{"stream", id, "-n", "5", "--wavelength", "399"}}) {
        m->ClearReceived();
        CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        const std::string nm = args.back();
        EXPECT_NE(r.err.find("Wavelength " + nm + " nm is outside the probe's range (400 to 1100 nm)."),
                  std::string::npos) << args[0] << ": " << r.err;
        EXPECT_EQ(m->Model().ReceivedCount(0x1017), 0u) << args[0] << " sent the wavelength anyway";
        EXPECT_FALSE(m->IsStreaming()) << args[0];
    }
    EXPECT_EQ(m->Model().SampleWavelength(), before);
}

TEST_F(CliSimTest, ASilentMeterIsReportedAsNotAnswering) {
    Meter m = plug("1-3");
    simmeter::FaultConfig f;
    f.silent = true;
    m->SetFaults(f);
    CliRun r = run({"read", std::to_string(kId13)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tessivar: Meter 50331648 is not answering (its calibration did not arrive).\n");
    EXPECT_LT(r.took, 8s);
    EXPECT_TRUE(endedWithStop(*m));
}

TEST_F(CliSimTest, StopWhileWaitingForASilentMeterEndsAtOnce) {
    Meter m = plug("1-3");
    simmeter::FaultConfig f;
    f.silent = true;
    m->SetFaults(f);
    std::thread interrupter([&] {
        std::this_thread::sleep_for(300ms);
        stop_.store(true);
    });
    CliRun r = run({"info", std::to_string(kId13)});
    interrupter.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tessivar: Interrupted.\n");
    EXPECT_LT(r.took, 1800ms) << "the library gives up on its own after 2 s; Ctrl-C must be faster";
}

TEST_F(CliSimTest, UsageErrorsAndHelpNeverTouchTheBus) {
    Meter m = plug("1-3");
    m->ClearReceived();
    CliRun usage = run({"stream", std::to_string(kId13), "--count", "1", "--duration", "1"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Try 'tessivar stream --help'."), std::string::npos) << usage.err;
    CliRun help = run({"stream", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tessivar stream ID", 0), 0u);
    EXPECT_TRUE(m->Received().empty());
}

TEST_F(CliSimTest, LogDirectoryIsUsedOnlyWhenAsked) {
    plug("1-3");
    const std::string logDir = path("logs");
    ASSERT_EQ(run({"scan", "--log-dir", logDir}).status, 0);
    EXPECT_NE(readFile(logDir + "/vorixOptical.log").find("start optical power meter log system"),
              std::string::npos);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    const int status = run({"scan"}).status;
    std::ifstream cwdLog(path("vorixOptical.log"));
    const bool logged = cwdLog.good();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(logged) << "no log in the working directory without --log-dir";
}
