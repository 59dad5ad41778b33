// Return codes of the exports for unknown ids, closed meters, bad arguments and replies
// that do not come.
#include "meter_fixture.h"

#include <cstring>

using namespace e2e;

TEST_F(MeterTest, UnknownIdsAreRefusedWithoutTouchingAnything)
{
    const int id = 12345;
    char buf[8] = {1};
    int a = 7, b = 7;
    double d = 3;
    unsigned short avg = 9;
    PowerData data[2];
    EXPECT_EQ(openDev(id), -1);
    EXPECT_EQ(closeDev(id), -1);
    EXPECT_EQ(isDevOpen(id), -1);
    EXPECT_EQ(isInited(id), -1);
    EXPECT_EQ(startTransfer(id), -1);
    EXPECT_EQ(stopTransfer(id), -1);
    EXPECT_EQ(getData(id, data, 2), -1);
    EXPECT_EQ(readDevName(id, buf, 8), -1);
    EXPECT_EQ(writeDevName(id, "x", 1), -1);
    EXPECT_EQ(getAverage(id, &avg), -1);
    EXPECT_EQ(getSampleWavelength(id, &a), -1);
    EXPECT_EQ(getDetectorState(id, &a), -1);
    EXPECT_EQ(getZeroOffset(id, &d), -4);  // this one reports -4 for everything
    EXPECT_EQ(getWaveRange(id, &a, &b), -1);
    EXPECT_EQ(getCalibrationDate(id, buf), -1);
    EXPECT_EQ(saveDetParam(id), -1);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(avg, 9);
    EXPECT_EQ(CountLog("CMD, func:"), 0);  // nothing is logged for unknown ids
}

TEST_F(MeterTest, AClosedMeterReportsNotInitialised)
{
    Meter meter = Plug("1-3");
    ASSERT_EQ(Scan(), 1);
    char buf[33];
    int a = -1, b = -1;
    uint8_t base[8];
    EXPECT_EQ(startTransfer(kId13), -3);
    EXPECT_EQ(stopTransfer(kId13), -3);
    EXPECT_EQ(setAverage(kId13, 10), -3);
    EXPECT_EQ(writeDetSerial(kId13, "abc", 3), -3);
    EXPECT_EQ(getSpecParam(kId13, buf, 33), -3);
    EXPECT_EQ(getWaveRange(kId13, &a, &b), -3);
    EXPECT_EQ(getDetectorState(kId13, &a), -3);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(readDevName(kId13, buf, 33), -4);
    EXPECT_EQ(getBaseParam(kId13, base, 8), -4);
    EXPECT_EQ(getLevParam(kId13, buf, 33), -4);
    EXPECT_EQ(CountLog("CMD, func:000d, ret: -3"), 1);
    EXPECT_EQ(CountLog("CMD, func:101b, ret: -3"), 1);
    EXPECT_EQ(meter->Model().Received().size(), 0u);  // nothing reached the meter
}

TEST_F(MeterTest, QueriesCopyTextsAndHonourTheBufferLength)
{
    Meter meter = Plug("1-3");
    simmeter::MeterIdentity identity = meter->Model().Identity();
    identity.devName = "HEAD-7";
    identity.detSerial = "SER0123456789";
    meter->Model().SetIdentity(identity);
    OpenReady(kId13);

    char buf[33];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(Answered([&] { return readDevName(kId13, buf, 33); }), 0);
    EXPECT_STREQ(buf, "HEAD-7");
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(Answered([&] { return readDetSerial(kId13, buf, 5); }), 0);  // 4 bytes, terminator
    EXPECT_STREQ(buf, "SER0");
    EXPECT_EQ(buf[5], 'x');  // nothing written past len
    // len 1 asks for 0 bytes: refused before anything is sent.
    buf[0] = 'x';
    meter->Model().ClearReceived();
    const int logged = CountLog("CMD, func:000d, ret: ");
    EXPECT_EQ(readDevName(kId13, buf, 1), -4);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(CountLog("CMD, func:000d, ret: -3"), 1);
    EXPECT_EQ(CountLog("CMD, func:000d, ret: "), logged + 1);
    EXPECT_EQ(readDevName(kId13, nullptr, 33), -4);
    EXPECT_EQ(meter->Model().ReceivedCount(0x000D), 0u);
}

TEST_F(MeterTest, WritersCutTheirFieldAndRefuseBadLengths)
{
    Meter meter = OpenMeter();
    meter->Model().ClearReceived();
    const char text[] = "ABCDEFGHIJKLMNOPQRST";  // 20 bytes
    ASSERT_EQ(Answered([&] { return writeDetSerial(kId13, text, 20); }), 0);
    ASSERT_EQ(Answered([&] { return writeDevName(kId13, "NAME", 4); }), 0);
    // A reply missed on a loaded machine is asked for again: the first frame is the
    // serial's, the last the name's, whatever came between.
    const auto frames = meter->Model().Received();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames.front().code, 0x1000);
    EXPECT_EQ(std::string(frames.front().payload.begin(), frames.front().payload.end()),
              "ABCDEFGHIJKLMNOP");
    ASSERT_EQ(frames.back().payload.size(), 32u);
    EXPECT_EQ(std::memcmp(frames.back().payload.data(), "NAME\0\0\0", 7), 0);
    EXPECT_EQ(meter->Model().Identity().detSerial, "ABCDEFGHIJKLMNOP");

    EXPECT_EQ(writeDevName(kId13, text, -1), -4);
    EXPECT_EQ(writeDevName(kId13, nullptr, 4), -4);
    EXPECT_EQ(setBaseParam(kId13, text, -8), -4);
    EXPECT_EQ(updateDevTime(kId13, nullptr, 14), -4);
    EXPECT_EQ(meter->Model().Received().size(), frames.size());  // none of those was sent
}

TEST_F(MeterTest, NullOutputsAndBadCountsAreRefused)
{
    Meter meter = OpenMeter();
    int a;
    EXPECT_EQ(getData(kId13, nullptr, 5), -4);
    EXPECT_EQ(getData(kId13, nullptr, 0), 0);
    EXPECT_EQ(getSingleData(kId13, nullptr, &a), -4);
    EXPECT_EQ(getWaveRange(kId13, nullptr, &a), -4);
    EXPECT_EQ(getBaseParam(kId13, nullptr, 8), -4);
    EXPECT_EQ(getLevParam(kId13, nullptr, 128), -4);
    EXPECT_EQ(getSpecParam(kId13, nullptr, 6000), -4);
    EXPECT_EQ(getCalibrationDate(kId13, nullptr), -4);
    EXPECT_EQ(getAverage(kId13, nullptr), -4);
    EXPECT_EQ(getSampleWavelength(kId13, nullptr), -4);
    EXPECT_EQ(getDetectorState(kId13, nullptr), -4);
    EXPECT_EQ(getZeroOffset(kId13, nullptr), -4);
    // A scan with no room must not look like "no meter" and destroy the open device.
    int ids[1];
    EXPECT_EQ(scanDev(ids, 0), -4);
    EXPECT_EQ(scanDev(nullptr, 8), -4);
    EXPECT_EQ(isInited(kId13), 1);
}

TEST_F(MeterTest, MissingRepliesGiveNoReplyAndTheDetectorQueryAsksForRecovery)
{
    Meter meter = OpenMeter();
    SetFaults(meter, [](auto& f) { f.ignoreCodes = {0x101B, 0x1010, 0x0029}; });
    meter->Model().ClearReceived();
    int state = 5;
    EXPECT_EQ(getDetectorState(kId13, &state), -2);
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(WaitFor([&] { return meter->Model().ReceivedCount(0x0003) == 1; }, 500));
    EXPECT_EQ(CountLog("CMD, func:101b, ret: -2"), 1);
    EXPECT_EQ(setAverage(kId13, 10), -2);
    double offset = 1.5;
    EXPECT_EQ(getZeroOffset(kId13, &offset), -4);
    EXPECT_EQ(offset, 1.5);

    meter->Model().SetFaults({});
    ASSERT_EQ(Answered([&] { return getDetectorState(kId13, &state); }), 0);
    EXPECT_EQ(state, 2);
    ASSERT_EQ(Answered([&] { return setAverage(kId13, 10); }), 0);
    unsigned short avg = 0;
    ASSERT_EQ(Answered([&] { return getAverage(kId13, &avg); }), 0);
    EXPECT_EQ(avg, 10);
    ASSERT_EQ(Answered([&] { return setDevInDiskMode(kId13, 2); }), 0);
    EXPECT_TRUE(meter->Model().InDiskMode());
    ASSERT_EQ(Answered([&] { return setDevInDiskMode(kId13, 0); }), 0);
    EXPECT_FALSE(meter->Model().InDiskMode());
}
