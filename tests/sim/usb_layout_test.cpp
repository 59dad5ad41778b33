// Port chains, descriptors and endpoint 0 of the virtual bus, without a testbed.
#include <gtest/gtest.h>

#include "simmeter/usb_layout.h"

namespace simmeter {
namespace {

TEST(PortChains, ParseTheSysfsNotation)
{
    auto a = ParsePortChain("1-3");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->bus, 1);
    EXPECT_EQ(a->ports, (std::vector<int>{3}));
    EXPECT_EQ(a->ParentName(), "usb1");
    auto b = ParsePortChain("2-1.2.3.4.5");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->ports, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(b->Name(), "2-1.2.3.4.5");
    EXPECT_EQ(b->ParentName(), "2-1.2.3.4");
    EXPECT_EQ(b->DevPath(), "1.2.3.4.5");
    for (const char* bad : {"", "1", "1-", "-1", "1-0", "0-1", "1-1.", "1-1..2", "1-32", "128-1",
                            "1-1.2.3.4.5.6.7.8", " 1-1", "1-1 ", "a-1", "1-1a"}) {
        EXPECT_FALSE(ParsePortChain(bad)) << '"' << bad << '"';
    }
}

TEST(Descriptors, MeterHasOneInterfaceWithBulkInAndOut)
{
    const DescriptorSet d = MeterDescriptors({"M", "P", "S1"}, true);
    ASSERT_EQ(d.device.size(), 18u);
    EXPECT_EQ(wire::GetU16(&d.device[8]), 0x4306);
    EXPECT_EQ(wire::GetU16(&d.device[10]), 0x5741);
    EXPECT_EQ(wire::GetU16(&d.config[2]), d.config.size());
    EXPECT_EQ(d.config[4], 1);  // one interface
    // Walk the configuration: the two endpoints of interface 0, alternate 0.
    std::vector<std::pair<uint8_t, uint8_t>> eps;
    for (size_t i = 0; i < d.config.size(); i += d.config[i]) {
        ASSERT_GT(d.config[i], 0);
        if (d.config[i + 1] == 0x05)
            eps.push_back({d.config[i + 2], d.config[i + 3]});
    }
    EXPECT_EQ(eps, (std::vector<std::pair<uint8_t, uint8_t>>{{0x81, 2}, {0x01, 2}}));
    EXPECT_EQ(d.SysfsDescriptors().size(), 18 + d.config.size());
}

TEST(Descriptors, EndpointZeroServesDescriptorsAndStallsTheRest)
{
    const DescriptorSet d = MeterDescriptors({"Maker", "Meter", "SN7"}, true);
    const uint8_t getDevice[8] = {0x80, 0x06, 0x00, 0x01, 0, 0, 18, 0};
    EXPECT_EQ(StandardControl(d, getDevice), d.device);
    const uint8_t getConfigShort[8] = {0x80, 0x06, 0x00, 0x02, 0, 0, 9, 0};
    EXPECT_EQ(StandardControl(d, getConfigShort)->size(), 9u);
    const uint8_t langs[8] = {0x80, 0x06, 0x00, 0x03, 0, 0, 255, 0};
    EXPECT_EQ(StandardControl(d, langs), (Bytes{4, 3, 0x09, 0x04}));
    const uint8_t serial[8] = {0x80, 0x06, 0x03, 0x03, 0x09, 0x04, 255, 0};
    EXPECT_EQ(StandardControl(d, serial), (Bytes{8, 3, 'S', 0, 'N', 0, '7', 0}));
    const uint8_t noString[8] = {0x80, 0x06, 0x09, 0x03, 0x09, 0x04, 255, 0};
    EXPECT_FALSE(StandardControl(d, noString));
    const uint8_t vendor[8] = {0xC0, 0x01, 0, 0, 0, 0, 4, 0};
    EXPECT_FALSE(StandardControl(d, vendor));
    const uint8_t setConfig[8] = {0x00, 0x09, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(StandardControl(d, setConfig), Bytes{});
}

TEST(Descriptors, HubsAreHubs)
{
    const DescriptorSet root = HubDescriptors(true, 1), hub = HubDescriptors(false, 1);
    EXPECT_EQ(root.device[4], 0x09);
    EXPECT_EQ(hub.device[4], 0x09);
    EXPECT_NE(wire::GetU16(&hub.device[10]), kMeterProductId);
}

}  // namespace
}  // namespace simmeter
