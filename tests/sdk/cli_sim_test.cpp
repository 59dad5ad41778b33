// The tessivar tool, run in-process against simulated meters on the virtual USB bus:
// what each command prints, its exit status, and how it behaves when a meter is missing,
// silent, out of range or unplugged in the middle of a stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
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
#include "format.h"
#include "simmeter/testing.h"
#include "simmeter/virtual_bus.h"
#include "test_files.h"

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

// The device thread's last frame at its end is a stop request: seeing it last means the
// meter was closed, not merely abandoned.
bool endedWithStop(const simmeter::SimMeter& m)
{
    const auto frames = m.Received();
    return !m.IsStreaming() && !frames.empty() && frames.back().code == 0x0025;
}

class CliSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch_.ok());
        dir_ = scratch_.path();
    }
    void TearDown() override { simmeter::VirtualBus::Instance().UnplugAll(); }

    Meter plug(const std::string& port, double powerNw = 2500.0)
    {
        Meter m = simmeter::VirtualBus::Instance().Plug(port);
        simmeter::SignalConfig s = m->Signal();
        s.powerNw = powerNw;
        m->SetSignal(s);
        return m;
    }

    static void fault(const Meter& m, const std::function<void(simmeter::FaultConfig&)>& set)
    {
        simmeter::FaultConfig f;
        set(f);
        m->SetFaults(f);
    }

    CliRun run(std::vector<std::string> args)
    {
        std::ostringstream out, err;
        CliEnvironment env{out, err};
        env.stop = &stop_;
        const auto t0 = std::chrono::steady_clock::now();
        CliRun r;
        r.status = runCli(args, env);
        r.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - t0);
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    // The one policy for slow replies here. A text query waits about 30 ms for its reply;
    // on a loaded machine every attempt the tool makes can miss it, and the tool then shows
    // "?" (or "\"?\"" in JSON) for that field. A case that checks every field of a listing
    // asks again then, at most kListingRuns times in all.
    CliRun runAnswered(const std::vector<std::string>& args)
    {
        static const std::regex kUnanswered(R"re((^|\s)\?(\s|$)|"\?")re");
        constexpr int kListingRuns = 4;
        CliRun r;
        for (int i = 0; i < kListingRuns; ++i) {
            r = run(args);
            if (r.status != 0 || !std::regex_search(r.out, kUnanswered))
                break;
        }
        return r;
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::atomic<bool> stop_{false};
    ScratchDir scratch_{"tessivar-cli-test"};
    std::string dir_;
};

// Power column of a CSV data row, in nW.
double csvPowerNw(const std::string& row)
{
    auto cells = split(row, ',');
    EXPECT_EQ(cells.size(), 5u) << row;
    return cells.size() == 5 ? std::strtod(cells[3].c_str(), nullptr) * 1e9 : NAN;
}

// A CSV stream file: a metadata comment, the header, then the data rows.
constexpr size_t kCsvPreamble = 2;

int64_t unixNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// ---- scan ----------------------------------------------------------------------------------

TEST_F(CliSimTest, ScanListsEveryMeterSortedByIdWithItsIdentityAlsoAsJson)
{
    Meter m13 = plug("1-3");
    Meter m113 = plug("1-1.3");
    Meter m112 = plug("1-1.2");
    const std::pair<std::string, Meter> sorted[] = {{std::to_string(kId112) + "  1-1.2  ", m112},
                                                    {std::to_string(kId113) + "  1-1.3  ", m113},
                                                    {std::to_string(kId13) + "  1-3    ", m13}};
    CliRun r = runAnswered({"scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The three opens overlap: far less than three times the ready wait.
    EXPECT_LT(r.took, 6s);
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 5u) << r.out;  // header, rule, one row per meter
    EXPECT_EQ(rows[0].rfind("ID        Port   Meter head", 0), 0u) << rows[0];
    for (size_t i = 0; i < std::size(sorted); ++i) {
        const auto& [prefix, meter] = sorted[i];
        const std::string& row = rows[i + 2];
        EXPECT_EQ(row.rfind(prefix, 0), 0u) << r.out;
        const simmeter::MeterIdentity id = meter->Model().Identity();
        for (const std::string& text :
             {id.devName, id.devSerial, id.detName, id.detSerial, id.version})
            EXPECT_NE(row.find(text), std::string::npos) << text << " missing in: " << row;
        EXPECT_TRUE(endedWithStop(*meter)) << "scan closes what it opened: " << prefix;
    }

    CliRun j = runAnswered({"scan", "--format", "json"});
    ASSERT_EQ(j.status, 0) << j.err;
    const std::regex entry(
        R"re(\{"id":(\d+),"port":"([^"]+)","status":"ok","head_name":"[^"]+","head_serial":"([^"]+)")re");
    std::vector<std::string> seen;
    for (auto it = std::sregex_iterator(j.out.begin(), j.out.end(), entry);
         it != std::sregex_iterator(); ++it)
        seen.push_back((*it)[1].str() + "@" + (*it)[2].str());
    EXPECT_EQ(seen, (std::vector<std::string>{std::to_string(kId112) + "@1-1.2",
                                              std::to_string(kId113) + "@1-1.3",
                                              std::to_string(kId13) + "@1-3"}))
        << j.out;
    EXPECT_NE(j.out.find("\"head_serial\":\"" + m113->Model().Identity().devSerial + "\""),
              std::string::npos);
    EXPECT_EQ(j.out.front(), '[');
}

TEST_F(CliSimTest, ScanMarksASilentMeterAndStillListsTheOthers)
{
    plug("1-3");
    fault(plug("1-1.2"), [](auto& f) { f.silent = true; });
    CliRun r = run({"scan"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::to_string(kId112) + "  1-1.2  (not answering)"), std::string::npos)
        << r.out;
    EXPECT_EQ(lines(r.out).size(), 4u) << r.out;
}

// ---- info, set, zero -------------------------------------------------------------------

TEST_F(CliSimTest, InfoShowsIdentityCalibrationSettingsAndProbeState)
{
    Meter m = plug("1-3");
    const auto ident = m->Model().Identity();
    CliRun r = runAnswered({"info", std::to_string(kId13)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Meter:             " + std::to_string(kId13)), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(ident.devName + " (serial " + ident.devSerial + ")"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(ident.detName + " (serial " + ident.detSerial + ")"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Firmware:          " + ident.version), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Calibration date:  2026-01-15"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Wavelength range:  400 to 1100 nm"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("Wavelength:        " + std::to_string(m->Model().SampleWavelength()) + " nm"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Averaging:         " + std::to_string(m->Model().Average())),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Zero offset:"), std::string::npos);
    EXPECT_NE(r.out.find("Probe state:       attached"), std::string::npos) << r.out;

    fault(m, [](auto& f) { f.detectorState = 0; });
    CliRun detached = run({"info", std::to_string(kId13)});
    EXPECT_EQ(detached.status, 0) << detached.err;
    EXPECT_NE(detached.out.find("Probe state:       detached (state 0)"), std::string::npos)
        << detached.out;
}

TEST_F(CliSimTest, SetChangesTheMeterAndPrintsWhatItReadsBack)
{
    Meter m = plug("1-3");
    CliRun r = run({"set", std::to_string(kId13), "--wavelength", "980", "--average", "8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Wavelength:  980 nm\nAveraging:   8\n");
    EXPECT_EQ(m->Model().SampleWavelength(), 980);
    EXPECT_EQ(m->Model().Average(), 8);
}

TEST_F(CliSimTest, ZeroCompensationOfALitProbeIsRefusedUnlessForced)
{
    Meter m = plug("1-3", 50000.0);
    // 50 µW is light on the probe, far above the noise of a covered one (the ADC low
    // threshold of the most sensitive range: (2000 + 375.32) / 0.7218 nW = 3.2908 µW).
    CliRun refused = run({"zero"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(
        refused.err.find("far above the noise of a covered probe (at most 3.2908 µW). Is the probe "
                         "covered?"),
        std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(m->Model().ReceivedCount(0x0028), 0u) << "no zero offset was written";
    CliRun forced = run({"zero", "--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_GT(m->Model().ZeroOffset(), 10000.0);
}

TEST_F(CliSimTest, ReadingsAndZeroCompensationFollowTheWavelengthTheMeterKeeps)
{
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
        const std::string value = std::string(command) == "read" ? rows[0] : rows[kCsvPreamble];
        EXPECT_NE(value.find(std::string(command) == "read" ? "  2." : ",2."), std::string::npos)
            << command << " not at 2.5 µW: " << value;
    }

    // Zero compensation takes a fresh reading at that wavelength.
    CliRun z = run({"zero", std::to_string(kId13)});
    ASSERT_EQ(z.status, 0) << z.err;
    EXPECT_NEAR(m->Model().ZeroOffset(), 2500.0, 2500.0 * 0.02) << z.out;
    EXPECT_TRUE(std::regex_match(z.out, std::regex("Zero offset:  2\\.[45]\\d{3} µW\n"))) << z.out;
    // The stored offset applies to the next session: readings are now near zero.
    CliRun r = run({"read", std::to_string(kId13), "-n", "5"});
    ASSERT_EQ(r.status, 0) << r.err;
    // What is left is the noise (0.2 % of 2.5 µW): nanowatts, no longer microwatts.
    EXPECT_EQ(lines(r.out).size(), 5u);
    EXPECT_EQ(r.out.find(" µW "), std::string::npos) << "still microwatts after zeroing:\n"
                                                     << r.out;
}

// ---- read and stream ---------------------------------------------------------------------

TEST_F(CliSimTest, ReadPrintsTheRequestedNumberOfReadingsAtTheGivenWavelength)
{
    Meter m = plug("1-3", 2500.0);
    CliRun r = run({"read", std::to_string(kId13), "--wavelength", "850", "--count", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    const std::regex line(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  2\.\d{4} µW  -26\.\d{3} dBm$)");
    for (const auto& row : rows)
        EXPECT_TRUE(std::regex_match(row, line)) << row;
    EXPECT_EQ(m->Model().SampleWavelength(), 850);
    EXPECT_FALSE(m->IsStreaming()) << "read stops the transfer it started";
}

TEST_F(CliSimTest, StreamOfAFixedCountWritesExactlyThatManyRowsMatchingThePower)
{
    Meter m = plug("1-3", 2500.0);
    const std::string file = path("run.csv");
    CliRun r =
        run({"stream", std::to_string(kId13), "--count", "200", "-w", "850", "--output", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "data goes to the file only";
    auto rows = lines(readFile(file));
    ASSERT_EQ(rows.size(), 200u + kCsvPreamble);
    EXPECT_EQ(rows[0].rfind("# {\"metadata\":{\"meter\":50331648,", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1], "unix_ms,local_ms,time,power_w,power_dbm");
    // Noise is 0.2 % (one sigma); 2 % bounds every sample with a wide margin.
    int64_t previous = 0;
    for (size_t i = kCsvPreamble; i < rows.size(); ++i) {
        EXPECT_NEAR(csvPowerNw(rows[i]), 2500.0, 50.0) << rows[i];
        const int64_t t = std::stoll(split(rows[i], ',')[0]);
        if (i > kCsvPreamble) {
            EXPECT_GT(t, previous) << "time stamps advance: " << rows[i];
        }
        previous = t;
    }
    EXPECT_FALSE(m->IsStreaming());
    EXPECT_TRUE(endedWithStop(*m));
}

TEST_F(CliSimTest, StreamForADurationAtAHighRateLosesNothing)
{
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
    int64_t previous = std::stoll(split(rows[kCsvPreamble], ',')[0]);
    int gaps = 0;
    for (size_t i = kCsvPreamble + 1; i < rows.size(); ++i) {
        const int64_t t = std::stoll(split(rows[i], ',')[0]);
        if (t - previous > 5)
            ++gaps;
        previous = t;
    }
    EXPECT_EQ(gaps, 0);
}

TEST_F(CliSimTest, StreamEndsCleanlyOnStop)
{
    Meter m = plug("1-3");
    const std::string file = path("stopped.csv");
    std::thread interrupter([&] {
        simmeter::testing::WaitFor([&] { return m->Model().SamplesSent() >= 30; }, 5000ms);
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

TEST_F(CliSimTest, StreamSurvivesAnUnplugWithAClearMessage)
{
    Meter m = plug("1-3");
    const std::string file = path("unplugged.csv");
    std::thread unplugger([&] {
        simmeter::testing::WaitFor([&] { return m->Model().SamplesSent() >= 50; }, 5000ms);
        simmeter::VirtualBus::Instance().Unplug(m);
    });
    CliRun r = run({"stream", std::to_string(kId13), "-o", file});
    unplugger.join();
    EXPECT_EQ(r.status, 1);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        r.err, match, std::regex(R"(Meter 50331648 was disconnected after (\d+) samples\.)")))
        << r.err;
    const size_t reported = std::stoul(match[1]);
    auto rows = lines(readFile(file));
    EXPECT_EQ(rows.size(), reported + kCsvPreamble) << "the file holds every sample reported";
    EXPECT_GE(reported, 30u);
    EXPECT_LT(r.took, 15s);
}

// ---- errors ------------------------------------------------------------------------------

// A command that cannot do its work exits with 1 and a message that names the cause,
// before printing anything.
TEST_F(CliSimTest, FailuresExitWithOneAndNameTheCause)
{
    struct Case {
        std::vector<std::string> ports;  // meters plugged; the first gets `faults`
        std::function<void(simmeter::FaultConfig&)> faults;
        std::vector<std::string> args;
        std::string err;                         // the whole message, when not empty
        std::vector<std::string> parts, absent;  // pieces the message has and has not
    };
    const auto none = [](simmeter::FaultConfig&) {};
    const std::vector<std::string> two = {"1-3", "1-1.2"};
    const Case cases[] = {
        {{}, none, {"scan"}, "No meter found.\n", {}, {}},
        {{}, none, {"read", "12345"}, "tessivar: No meter found.\n", {}, {}},
        {{"1-3"},
         none,
         {"info", "12345"},
         "tessivar: No meter with id 12345 is attached (attached: 50331648; see 'tessivar scan').\n",
         {},
         {}},
        {two,
         none,
         {"read"},
         "tessivar: 2 meters are attached (16908288, 50331648): name one by its id, head serial "
         "or port, as 'tessivar scan' shows them.\n",
         {},
         {}},
        {two, none, {"info", "1-9"}, "", {"No meter is attached at port 1-9"}, {}},
        {two, none, {"info", "NOSUCH1"}, "", {"No meter with head serial NOSUCH1 is attached"}, {}},
        // The start-up reads still arrive; every later query is late thrice.
        {{"1-3"},
         [](auto& f) { f.replyDelayMs = 300; },
         {"read"},
         "",
         {"timed out (no reply in time)"},
         {"refused"}},
        // Only -v shows the protocol trouble from the library's log.
        {{"1-3"},
         [](auto& f) { f.badChecksum = true; },
         {"read"},
         "",
         {"Meter 50331648 sends bad replies ("},
         {"not answering", "library log"}},
        {{"1-3"},
         [](auto& f) { f.badStatus = 3; },
         {"read", "-v"},
         "",
         {"Meter 50331648 sends bad replies (", "tessivar: library log: ", "Analayze error"},
         {}},
        {{"1-3"},
         [](auto& f) { f.invalidSpecTable = true; },
         {"read"},
         "tessivar: Meter 50331648 sent an invalid spectral table: the library does not take a "
         "meter into use without it.\n",
         {},
         {}},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const auto& a : c.args)
            what += a + " ";
        SCOPED_TRACE(what + "with " + std::to_string(c.ports.size()) + " meters");
        simmeter::VirtualBus::Instance().UnplugAll();
        std::vector<Meter> plugged;
        for (const auto& port : c.ports)
            plugged.push_back(plug(port));
        if (!plugged.empty())
            fault(plugged[0], c.faults);
        CliRun r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
        for (const auto& part : c.parts)
            EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        for (const auto& part : c.absent)
            EXPECT_EQ(r.err.find(part), std::string::npos) << r.err;
    }
}

TEST_F(CliSimTest, WavelengthOutsideTheProbeRangeIsRefusedBeforeReachingTheMeter)
{
    Meter m = plug("1-3");
    const int before = m->Model().SampleWavelength();
    const std::string id = std::to_string(kId13);
    for (const auto& args :
         {std::vector<std::string>{"set", id, "--wavelength", "1550"},
          std::vector<std::string>{"read", id, "--wavelength", "1550"},
          std::vector<std::string>{"stream", id, "-n", "5", "--wavelength", "399"}}) {
        m->ClearReceived();
        CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        const std::string nm = args.back();
        EXPECT_NE(
            r.err.find("Wavelength " + nm + " nm is outside the probe's range (400 to 1100 nm)."),
            std::string::npos)
            << args[0] << ": " << r.err;
        EXPECT_EQ(m->Model().ReceivedCount(0x1017), 0u) << args[0] << " sent the wavelength anyway";
        EXPECT_FALSE(m->IsStreaming()) << args[0];
    }
    EXPECT_EQ(m->Model().SampleWavelength(), before);
}

TEST_F(CliSimTest, ASilentMeterIsReportedAsNotAnswering)
{
    Meter m = plug("1-3");
    fault(m, [](auto& f) { f.silent = true; });
    CliRun r = run({"read", std::to_string(kId13)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "tessivar: Meter 50331648 is not answering (its calibration did not arrive).\n");
    EXPECT_LT(r.took, 8s);
    EXPECT_TRUE(endedWithStop(*m));
}

TEST_F(CliSimTest, StopWhileWaitingForASilentMeterEndsAtOnce)
{
    fault(plug("1-3"), [](auto& f) { f.silent = true; });
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

TEST_F(CliSimTest, UsageErrorsAndHelpNeverTouchTheBus)
{
    Meter m = plug("1-3");
    m->ClearReceived();
    CliRun usage = run({"stream", std::to_string(kId13), "--count", "1", "--duration", "1"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Try 'tessivar stream --help'."), std::string::npos) << usage.err;
    CliRun help = run({"stream", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tessivar stream [METER]", 0), 0u);
    EXPECT_TRUE(m->Received().empty());
}

TEST_F(CliSimTest, LogDirectoryIsUsedOnlyWhenAsked)
{
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

// ---- choosing a meter --------------------------------------------------------------------

TEST_F(CliSimTest, AMeterIsChosenByIdHeadSerialOrPortOrIsTheOnlyOne)
{
    Meter a = plug("1-3");
    Meter b = plug("1-1.2");
    const std::string serialB = b->Model().Identity().devSerial;
    for (const std::string& name : {std::to_string(kId112), serialB, std::string("1-1.2")}) {
        CliRun r = run({"info", name});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_NE(r.out.find("Meter:             " + std::to_string(kId112)), std::string::npos)
            << name << r.out;
        EXPECT_NE(r.out.find("Port:              1-1.2"), std::string::npos) << r.out;
    }
    simmeter::VirtualBus::Instance().Unplug(a);
    CliRun only = run({"read", "-n", "2"});
    ASSERT_EQ(only.status, 0) << only.err;
    EXPECT_EQ(lines(only.out).size(), 2u);
}

// ---- time columns and metadata -------------------------------------------------------------

TEST_F(CliSimTest, StreamRowsCarryUnixTimeTheLibrarysLocalStampAndIsoTimeWithOffset)
{
    // A zone away from UTC, so that the library's local stamps and Unix time differ.
    const char* savedTz = std::getenv("TZ");
    const std::string before = savedTz ? savedTz : "";
    setenv("TZ", "UTC-05:30", 1);
    tzset();
    plug("1-3");
    const int64_t start = unixNowMs();
    CliRun r = run({"stream", "-n", "5", "-w", "850", "-a", "4"});
    const int64_t end = unixNowMs();
    if (savedTz)
        setenv("TZ", before.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_EQ(r.status, 0) << r.err;

    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 5u + kCsvPreamble) << r.out;
    for (const std::string& field :
         {std::string("\"wavelength_nm\":850"), std::string("\"average\":4"),
          std::string("\"port\":\"1-3\""), std::string("\"utc_offset\":\"+05:30\""),
          std::string("\"head_serial\":\"S110")})
        EXPECT_NE(rows[0].find(field), std::string::npos) << field << " missing in " << rows[0];
    EXPECT_EQ(rows[1], "unix_ms,local_ms,time,power_w,power_dbm");
    const std::regex watts(R"(\d\.\d{0,6}e-0\d)");
    for (size_t i = kCsvPreamble; i < rows.size(); ++i) {
        auto cells = split(rows[i], ',');
        ASSERT_EQ(cells.size(), 5u) << rows[i];
        const int64_t unixMs = std::stoll(cells[0]), localMs = std::stoll(cells[1]);
        EXPECT_GE(unixMs, start - 1000) << "unix_ms is true Unix time: " << rows[i];
        EXPECT_LE(unixMs, end + 1000) << rows[i];
        EXPECT_EQ(localMs - unixMs, 19800000) << "the library's stamp is local time, 5:30 ahead";
        EXPECT_EQ(cells[2], tessivar::cli::formatIsoTime(localMs, 19800))
            << "time is local_ms with its offset";
        EXPECT_TRUE(std::regex_match(cells[3], watts))
            << "7 significant digits at most: " << cells[3];
    }
}

TEST_F(CliSimTest, StreamAsJsonLinesInfoAndReadAsJsonStartWithTheirMetadata)
{
    plug("1-3");
    CliRun r = run({"stream", std::to_string(kId13), "-n", "3", "--format", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0].rfind("{\"metadata\":{\"meter\":50331648,\"port\":\"1-3\",", 0), 0u)
        << rows[0];
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].rfind("{\"unix_ms\":", 0), 0u) << rows[i];

    CliRun info = runAnswered({"info", "--format", "json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.rfind("{\"id\":50331648,\"port\":\"1-3\",\"head_name\":\"OPM-S110\",", 0),
              0u)
        << info.out;
    for (const char* field :
         {"\"wavelength_min_nm\":400,\"wavelength_max_nm\":1100", "\"spectral_entries\":701",
          "\"calibration_date\":\"2026-01-15\"", "\"probe_state\":2,\"probe_attached\":true"})
        EXPECT_NE(info.out.find(field), std::string::npos) << field << " missing in " << info.out;
    EXPECT_EQ(lines(info.out).size(), 1u);

    CliRun read = run({"read", "-n", "3", "-f", "json"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out.rfind("{\"metadata\":{\"meter\":50331648,", 0), 0u) << read.out;
    size_t readings = 0;
    for (size_t at = read.out.find("{\"unix_ms\":"); at != std::string::npos;
         at = read.out.find("{\"unix_ms\":", at + 1))
        ++readings;
    EXPECT_EQ(readings, 3u) << read.out;
    EXPECT_NE(read.out.find("},\"readings\":[{\"unix_ms\":"), std::string::npos) << read.out;
}

// ---- meter in use, messages ----------------------------------------------------------------

TEST_F(CliSimTest, AMeterHeldByAnotherProgramIsReportedAsInUse)
{
    Meter m = plug("1-3");
    simmeter::testing::OtherProgram other(*m);
    ASSERT_TRUE(other.Holds());
    m->ClearReceived();
    CliRun r = run({"read", std::to_string(kId13)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tessivar: Cannot open meter 50331648: meter in use by another program.\n");
    CliRun s = run({"scan"});
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_NE(s.out.find("50331648  1-3   (in use by another program)"), std::string::npos)
        << s.out;
    EXPECT_TRUE(m->Received().empty()) << "nothing reached the meter the other program holds";
}

TEST_F(CliSimTest, OneLateReplyAtOpenIsAskedAgain)
{
    Meter m = plug("1-3");
    // The first wavelength query gets no reply ...
    fault(m, [](auto& f) { f.ignoreCodes = {0x1018}; });
    std::thread healer([&] {
        simmeter::testing::WaitFor([&] { return m->Model().ReceivedCount(0x1018) >= 1; }, 5000ms);
        m->SetFaults(simmeter::FaultConfig{});  // ... the next one does
    });
    CliRun r = run({"read"});
    healer.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GE(m->Model().ReceivedCount(0x1018), 2u);
}

// ---- degraded measurements -----------------------------------------------------------------

TEST_F(CliSimTest, DegradedMeasurementsAreFlaggedWithoutChangingTheExitStatus)
{
    Meter m = plug("1-3");
    struct Case {
        std::function<void(simmeter::FaultConfig&)> fault;
        std::string warning;
    };
    const Case cases[] = {
        {[](simmeter::FaultConfig& f) { f.emptySpecTable = true; },
         "tessivar: warning: meter 50331648 has no usable spectral table: readings are not corrected for the "
         "wavelength.\n"},
        {[](simmeter::FaultConfig& f) { f.shortCalDate = true; },
         "tessivar: warning: the calibration date of meter 50331648 is incomplete ('2026-0'): its calibration "
         "record may be damaged.\n"},
        {[](simmeter::FaultConfig& f) { f.detectorState = 0; },
         "tessivar: warning: the probe of meter 50331648 is detached (state 0): readings are not measurements of "
         "light.\n"},
    };
    for (const auto& c : cases) {
        fault(m, c.fault);
        for (const char* command : {"read", "stream"}) {
            CliRun r = run({command, "-n", "3"});
            EXPECT_EQ(r.status, 0) << command << ": " << r.err;
            EXPECT_EQ(r.err, c.warning) << command;
            EXPECT_GE(lines(r.out).size(), 3u) << command;
        }
    }
}

TEST_F(CliSimTest, AProbeDetachedDuringAStreamIsFlaggedAndTheStreamGoesOn)
{
    Meter m = plug("1-3");
    const std::string file = path("detached.csv");
    std::thread detacher([&] {
        simmeter::testing::WaitFor([&] { return m->Model().SamplesSent() >= 30; }, 5000ms);
        fault(m, [](auto& f) { f.detectorState = 0; });
        std::this_thread::sleep_for(3000ms);  // the probe is asked every 2 s while data flows
        stop_.store(true);
    });
    CliRun r = run({"stream", "-o", file});
    detacher.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.err,
        "tessivar: warning: the probe of meter 50331648 was detached: readings are not measurements "
        "of light.\n");
    EXPECT_GT(lines(readFile(file)).size(), 300u) << "the stream went on";
}
