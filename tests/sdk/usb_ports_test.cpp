// USB port paths: the same id rule as the library (port numbers as the bytes of the id),
// and the way back from an id to the kernel's name of the port through sysfs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_files.h"
#include "usb_ports.h"

using namespace tessivar::cli;

TEST(UsbPorts, PathsAndIdsFollowTheLibrarysRule)
{
    auto p = parsePortPath("1-1.2");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->bus, 1);
    EXPECT_EQ(p->ports, (std::vector<int>{1, 2}));
    EXPECT_EQ(idOfPorts({3}), 3 << 24);
    EXPECT_EQ(idOfPorts({1, 2}), (1 << 24) + (2 << 16));
    EXPECT_EQ(idOfPorts({1, 2, 3, 4, 5}), 12345) << "five ports and more: their digits";
    EXPECT_EQ(idOfPorts({200}), 0x38000000) << "a first port of 128 or more: the absolute value";
    EXPECT_EQ(portsOfId((1 << 24) + (2 << 16)), (std::vector<int>{1, 2}));
    EXPECT_EQ(portsOfId(3 << 24), (std::vector<int>{3}));
    EXPECT_TRUE(portsOfId(0).empty());
    for (const char* bad :
         {"1", "1-", "-1", "1-0", "1-256", "a-1", "1-1..2", "1-1.2x", "S110260101"})
        EXPECT_FALSE(parsePortPath(bad).has_value()) << bad;
}

TEST(UsbPorts, AMeterIsFoundInSysfsByItsId)
{
    ScratchDir dir("tessivar-sysfs");
    ASSERT_TRUE(dir.ok());
    auto device = [&](const std::string& name, const std::string& vid, const std::string& pid,
                      int dev) {
        const std::filesystem::path d = dir.path() + "/" + name;
        std::filesystem::create_directories(d);
        std::ofstream(d / "idVendor") << vid << "\n";
        std::ofstream(d / "idProduct") << pid << "\n";
        std::ofstream(d / "busnum") << "2\n";
        std::ofstream(d / "devnum") << dev << "\n";
    };
    device("usb2", "1d6b", "0002", 1);
    device("2-1", "05e3", "0608", 2);        // a hub
    device("2-1.4", "4306", "5741", 7);      // the meter
    device("2-1.4:1.0", "4306", "5741", 7);  // its interface: not a port path
    const UsbLocation where = locateMeter((1 << 24) + (4 << 16), dir.path());
    EXPECT_EQ(where.portPath, "2-1.4");
    EXPECT_EQ(where.deviceNode, "/dev/bus/usb/002/007");
    EXPECT_TRUE(locateMeter(1 << 24, dir.path()).portPath.empty()) << "the hub is not a meter";
    EXPECT_TRUE(locateMeter(5 << 24, dir.path()).portPath.empty());
}
