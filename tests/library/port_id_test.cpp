#include "usb/port_id.h"

#include <gtest/gtest.h>

using tessivar::PortIdFromPorts;

TEST(PortId, UpToFourPortsArePackedMostSignificantFirst)
{
    uint8_t ports[10] = {3};
    EXPECT_EQ(PortIdFromPorts(ports, 1), 3 << 24);
    uint8_t hub[10] = {1, 2};
    EXPECT_EQ(PortIdFromPorts(hub, 2), (1 << 24) + (2 << 16));
    uint8_t four[10] = {1, 2, 3, 4};
    EXPECT_EQ(PortIdFromPorts(four, 4), 0x01020304);
    uint8_t none[10] = {};
    EXPECT_EQ(PortIdFromPorts(none, -5), 0);  // unreadable ports: id 0
    uint8_t high[10] = {0x80, 0, 0, 1};
    EXPECT_EQ(PortIdFromPorts(high, 4), 0x7FFFFFFF);  // |0x80000001 as int32|
}

TEST(PortId, FiveOrMorePortsAreReadAsDecimalDigits)
{
    uint8_t five[10] = {1, 2, 3, 4, 5};
    EXPECT_EQ(PortIdFromPorts(five, 5), 12345);
    uint8_t wide[10] = {1, 12, 3, 4, 15};
    EXPECT_EQ(PortIdFromPorts(wide, 5), 1123415);
    uint8_t tooLong[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(PortIdFromPorts(tooLong, 10), 0);  // does not fit an int
}
