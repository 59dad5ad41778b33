// The USB transport against the virtual bus: enumeration, ids, endpoints, reads, stalls.
#include "meter_fixture.h"

#include "usb/usb_device.h"

#include <libusb.h>

using namespace e2e;

namespace {

class TransportTest : public MeterTest {
protected:
    void SetUp() override
    {
        MeterTest::SetUp();
        tessivar::SetMatchIds(0x4306, 0x5741);
    }
    QStringList Messages() { return messages_.Lines(); }
    CapturedMessages messages_;  // for the whole test, set-up and tear-down included
};

}  // namespace

TEST_F(TransportTest, EnumerationDerivesIdsFromPortChainsInListOrder)
{
    int ids[10] = {};
    EXPECT_EQ(tessivar::EnumerateDevices(ids, 10), 0);
    Meter a = Plug("1-3");
    Meter b = Plug("1-1.1");
    Meter c = Plug("1-1.4");
    Meter d = Plug("1-1.2.3.4.5");  // hubs at 1-1, 1-1.2, 1-1.2.3, 1-1.2.3.4
    ASSERT_EQ(tessivar::EnumerateDevices(ids, 10), 4);
    QList<int> found;
    for (int i = 0; i < 4; ++i)
        found << ids[i];
    EXPECT_TRUE(found.contains(3 << 24));
    EXPECT_TRUE(found.contains(12345));
    const int id111 = (1 << 24) + (1 << 16), id114 = (1 << 24) + (4 << 16);
    ASSERT_TRUE(found.contains(id111) && found.contains(id114));
    // The ids come in the order of libusb's own device list.
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    ASSERT_GT(count, 0);
    QList<int> listOrder;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        libusb_get_device_descriptor(list[i], &desc);
        if (desc.idVendor == 0x4306 && desc.idProduct == 0x5741)
            listOrder << tessivar::PortId(list[i]);
    }
    libusb_free_device_list(list, 1);
    EXPECT_EQ(found, listOrder);
    EXPECT_EQ(tessivar::EnumerateDevices(ids, 2), 2);  // stops once max slots are filled
}

TEST_F(TransportTest, OpenFindsTheBulkEndpointsAndReadsTimeOutQuietly)
{
    Meter meter = Plug("1-3");
    tessivar::UsbDevice usb(kId13);
    ASSERT_TRUE(usb.OpenById());
    EXPECT_TRUE(usb.InEndpoint() & 0x80);
    EXPECT_FALSE(usb.OutEndpoint() & 0x80);
    EXPECT_NE(usb.OutEndpoint(), 0);

    uint8_t buffer[4096];
    messages_.Clear();
    EXPECT_EQ(usb.Read(buffer, sizeof buffer, 10), 0);
    EXPECT_TRUE(Messages().isEmpty());

    // One request, its reply.
    const uint8_t readName[] = {0x55, 0xAA, 0x0D, 0x00, 0x00, 0x00, 0x58, 0xAA};
    ASSERT_EQ(usb.Write(readName, 8), 8);
    int got = 0;
    for (int i = 0; i < 20 && got == 0; ++i)
        got = usb.Read(buffer, sizeof buffer, 10);
    ASSERT_GE(got, 10);
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(buffer[2], 0x0D);

    // A stalled IN endpoint: -9 once, the halt is cleared, the next read works.
    simmeter::FaultConfig faults;
    faults.stallIn = true;
    meter->Model().SetFaults(faults);
    EXPECT_EQ(usb.Read(buffer, sizeof buffer, 10), -9);
    EXPECT_TRUE(Messages().contains("libusb error state : error pipe"));
    EXPECT_EQ(usb.Read(buffer, sizeof buffer, 10), 0);
    ASSERT_EQ(usb.Write(readName, 8), 8);
    got = 0;
    for (int i = 0; i < 20 && got == 0; ++i)
        got = usb.Read(buffer, sizeof buffer, 10);
    EXPECT_GE(got, 10);

    usb.Close();
    EXPECT_FALSE(usb.IsOpen());
    EXPECT_EQ(usb.Read(buffer, sizeof buffer, 10), -1);
    EXPECT_EQ(usb.Write(readName, 8), -1);
}

TEST_F(TransportTest, OpeningAMissingIdSaysSo)
{
    tessivar::UsbDevice usb(777);
    EXPECT_FALSE(usb.OpenById());
    EXPECT_TRUE(Messages().contains(QString::fromUtf8("设备列表中未找到设备 777")));
    EXPECT_EQ(openDev(777), -1);  // not registered at all
}
