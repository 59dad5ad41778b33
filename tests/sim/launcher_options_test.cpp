// Command line of tessivar-sim.
#include <gtest/gtest.h>

#include "launcher_options.h"

namespace simmeter {
namespace launcher {
namespace {

std::optional<Options> P(std::vector<std::string> a, std::string* err = nullptr)
{
    std::string e;
    auto o = Parse(a, &e);
    if (err)
        *err = e;
    return o;
}

TEST(LauncherOptions, MetersPortsAndProgram)
{
    auto o = P({"--meters", "3", "--port", "1-1.2", "--", "lsusb", "-t"});
    ASSERT_TRUE(o);
    ASSERT_EQ(o->meters.size(), 3u);
    EXPECT_EQ(o->meters[0].port, "1-1.2");
    EXPECT_EQ(o->meters[1].port, "1-1");
    EXPECT_EQ(o->meters[2].port, "1-2");
    EXPECT_EQ(o->program, (std::vector<std::string>{"lsusb", "-t"}));
    // Options after "--" belong to the program.
    o = P({"--", "prog", "--meters", "9"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->meters.size(), 1u);
    EXPECT_EQ(o->program.size(), 3u);
    // More ports than --meters: every port gets a meter; auto ports avoid given ones.
    o = P({"--meters=1", "--port", "1-2", "--port=1-1"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->meters.size(), 2u);
    o = P({"--meters", "3", "--port", "1-2"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->meters[1].port, "1-1");
    EXPECT_EQ(o->meters[2].port, "1-3");
}

TEST(LauncherOptions, SignalSettingsForAllOrOneMeter)
{
    auto o = P({"--meters", "2", "--power", "5000", "--power", "2:12.5", "--noise", "0", "--rate",
                "1:4000", "--drift", "-3"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->meters[0].signal.powerNw, 5000);
    EXPECT_EQ(o->meters[1].signal.powerNw, 12.5);  // the one-meter setting wins, wherever given
    EXPECT_EQ(o->meters[0].signal.sampleRateHz, 4000);
    EXPECT_EQ(o->meters[1].signal.sampleRateHz, 100);
    EXPECT_EQ(o->meters[1].signal.noiseRel, 0);
    EXPECT_EQ(o->meters[1].signal.driftNwPerS, -3);
}

TEST(LauncherOptions, DemoGivesEachMeterItsOwnLivingSignalUnderTheSettings)
{
    auto o = P({"--meters", "3", "--demo", "--power", "3:5e4", "--", "prog", "--demo"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->demo);
    EXPECT_EQ(o->program, (std::vector<std::string>{"prog", "--demo"}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(o->meters[i].signal.powerNw, DemoSignal(i + 1).powerNw);
        EXPECT_EQ(o->meters[i].signal.noiseRel, DemoSignal(i + 1).noiseRel);
        EXPECT_FALSE(o->meters[i].signal.swings.empty());
    }
    EXPECT_NE(o->meters[0].signal.powerNw, o->meters[1].signal.powerNw);
    EXPECT_EQ(o->meters[2].signal.powerNw, 5e4);  // an explicit setting still wins...
    EXPECT_EQ(o->meters[2].signal.swings.size(), DemoSignal(3).swings.size());  // ...over it
    // --demo takes no value: what follows is the next option. Without it, signals stay flat.
    o = P({"--demo", "--meters", "1"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->meters.size(), 1u);
    o = P({"--meters", "2"});
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->demo);
    EXPECT_TRUE(o->meters[1].signal.swings.empty());
    EXPECT_NE(Usage().find("--demo"), std::string::npos);
}

TEST(LauncherOptions, FaultSpecs)
{
    auto o = P({"--meters", "2", "--fault", "2:ignore=0x1009,4125", "--fault", "delay=20",
                "--fault", "status=3@0x101D", "--fault", "2:detector=1", "--fault", "split",
                "--fault", "1:short-base", "--unplug-after", "2:1500"});
    ASSERT_TRUE(o);
    const FaultConfig& a = o->meters[0].faults;
    const FaultConfig& b = o->meters[1].faults;
    EXPECT_TRUE(a.ignoreCodes.empty());
    EXPECT_EQ(b.ignoreCodes, (std::set<uint16_t>{0x1009, 4125}));
    EXPECT_EQ(a.replyDelayMs, 20);
    EXPECT_EQ(b.badStatus, 3);
    EXPECT_EQ(b.badStatusCodes, (std::set<uint16_t>{0x101D}));
    EXPECT_EQ(b.detectorState, 1);
    EXPECT_EQ(a.detectorState, 2);
    EXPECT_TRUE(a.splitFrames && b.splitFrames);
    EXPECT_TRUE(a.shortBaseParam);
    EXPECT_FALSE(b.shortBaseParam);
    EXPECT_EQ(o->meters[1].unplugAfterMs, 1500);
    EXPECT_EQ(o->meters[0].unplugAfterMs, -1);

    FaultConfig f;
    for (const char* s : {"silent", "checksum", "garbage=5", "oversize", "invalid-spectral",
                          "empty-spectral", "short-lev", "short-offset", "short-date", "stall"}) {
        EXPECT_TRUE(ApplyFault(s, &f)) << s;
    }
    EXPECT_TRUE(f.silent && f.badChecksum && f.stallIn && f.shortCalDate);
    EXPECT_EQ(f.garbageBytes, 5);
    EXPECT_TRUE(ApplyFault("none", &f));
    EXPECT_FALSE(f.silent);
    for (const char* s : {"", "loud", "silent=1", "delay", "delay=x", "status=0",
                          "ignore=", "ignore=0x10000", "garbage=-1"}) {
        EXPECT_FALSE(ApplyFault(s, &f)) << s;
    }
}

TEST(LauncherOptions, RejectsWhatItCannotDo)
{
    std::string err;
    EXPECT_FALSE(P({"--port", "1-1", "--port", "1-1"}, &err));
    EXPECT_FALSE(P({"--port", "one"}, &err));
    EXPECT_NE(err.find("one"), std::string::npos);
    EXPECT_FALSE(P({"--meters", "2", "--power", "3:10"}, &err));  // no meter 3
    EXPECT_FALSE(P({"--rate", "0"}, &err));
    EXPECT_FALSE(P({"--frobnicate", "1"}, &err));
    EXPECT_FALSE(P({"--power"}, &err));
    EXPECT_FALSE(P({"lsusb"}, &err));  // programs go after --
    auto help = P({"--help", "--frob=1"});
    EXPECT_FALSE(help);  // unknown options are reported even with --help
    help = P({"-h"});
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->help);
    EXPECT_NE(Usage().find("--meters"), std::string::npos);
}

}  // namespace
}  // namespace launcher
}  // namespace simmeter
