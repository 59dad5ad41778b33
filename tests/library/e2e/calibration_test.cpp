// Calibration read at open, the spectral coefficient, and power values end to end.
#include "meter_fixture.h"

#include <cmath>
#include <cstring>

using namespace e2e;

namespace {

simmeter::Calibration ThreePointProbe()
{
    simmeter::Calibration c = simmeter::DefaultCalibration();
    c.base.startNm = 400;
    c.base.endNm = 600;
    c.spectral.entries = {{400, 1.0f}, {500, 2.0f}, {600, 3.0f}};
    return c;
}

std::vector<PowerData> Collect(int id, std::size_t count, int timeoutMs)
{
    std::vector<PowerData> all;
    WaitFor(
        [&] {
            PowerData chunk[64];
            const int n = getData(id, chunk, 64);
            if (n > 0)
                all.insert(all.end(), chunk, chunk + n);
            return all.size() >= count;
        },
        timeoutMs);
    return all;
}

}  // namespace

TEST_F(MeterTest, TheCoefficientFollowsTheWavelengthInsideTheProbeRange)
{
    Meter meter = Plug("1-3");
    meter->Model().SetCalibration(ThreePointProbe());
    OpenReady(kId13);
    tessivar::DevThread* dev = Device(kId13);
    ASSERT_NE(dev, nullptr);
    EXPECT_FLOAT_EQ(dev->Wavelength(), 532.0f);
    EXPECT_FLOAT_EQ(dev->Coefficient(), 2.32f);

    ASSERT_EQ(Answered([&] { return setSampleWavelength(kId13, 450); }), 0);
    EXPECT_FLOAT_EQ(dev->Coefficient(), 1.5f);
    ASSERT_EQ(Answered([&] { return setSampleWavelength(kId13, 600); }), 0);
    EXPECT_FLOAT_EQ(dev->Coefficient(), 3.0f);
    // Outside the range: the meter still gets it, the coefficient stays.
    EXPECT_EQ(Answered([&] { return setSampleWavelength(kId13, 601); }), 0);
    EXPECT_EQ(meter->Model().SampleWavelength(), 601);
    EXPECT_FLOAT_EQ(dev->Coefficient(), 3.0f);
    EXPECT_EQ(dev->SetCoefWavelength(601.0f), -4);

    int nm = 0;
    ASSERT_EQ(Answered([&] { return getSampleWavelength(kId13, &nm); }), 0);
    EXPECT_EQ(nm, 601);
    int start = 0, end = 0;
    ASSERT_EQ(getWaveRange(kId13, &start, &end), 0);
    EXPECT_EQ(start, 400);
    EXPECT_EQ(end, 600);

    uint8_t spectral[32];
    EXPECT_EQ(getSpecParam(kId13, spectral, 17), -4);
    ASSERT_EQ(getSpecParam(kId13, spectral, 18), 18);
    uint16_t w[3];
    float c[3];
    std::memcpy(w, spectral, 6);
    std::memcpy(c, spectral + 6, 12);
    EXPECT_EQ(w[2], 600);
    EXPECT_FLOAT_EQ(c[1], 2.0f);

    uint8_t base[8];
    ASSERT_EQ(getBaseParam(kId13, base, 8), 8);
    EXPECT_EQ(base[0] | base[1] << 8, 400);
    uint8_t lev[128];
    EXPECT_EQ(getLevParam(kId13, lev, 127), -4);
    ASSERT_EQ(getLevParam(kId13, lev, 128), 128);
    double k8;
    std::memcpy(&k8, lev + 112, 8);
    EXPECT_DOUBLE_EQ(k8, meter->Model().GetCalibration().level.ranges[7].k);
    char date[10];
    ASSERT_EQ(getCalibrationDate(kId13, date), 0);
    EXPECT_EQ(std::string(date, 10), "2026-01-15");
}

TEST_F(MeterTest, StartingWavelengthIsClampedAndEmptyTablesGiveOne)
{
    Meter ir = Plug("1-3");
    simmeter::Calibration c = simmeter::DefaultCalibration();
    c.base.startNm = 800;
    c.base.endNm = 1700;
    c.spectral.entries = {{800, 0.5f}, {1700, 1.0f}};
    ir->Model().SetCalibration(c);
    Meter flat = Plug("1-1.2");
    simmeter::Calibration e = simmeter::DefaultCalibration();
    e.spectral.entries.clear();
    flat->Model().SetCalibration(e);

    ASSERT_EQ(Scan(), 2);
    ASSERT_EQ(openDev(kId13), 0);
    ASSERT_EQ(openDev(kId112), 0);
    ASSERT_TRUE(WaitFor([] { return isInited(kId13) == 1 && isInited(kId112) == 1; }, 3000));
    EXPECT_FLOAT_EQ(Device(kId13)->Wavelength(), 800.0f);
    EXPECT_FLOAT_EQ(Device(kId13)->Coefficient(), 0.5f);
    EXPECT_FLOAT_EQ(Device(kId112)->Coefficient(), 1.0f);
    EXPECT_EQ(Device(kId112)->SetCoefWavelength(5000.0f), 0);
    uint8_t spectral[8];
    EXPECT_EQ(getSpecParam(kId112, spectral, 0), 0);
}

TEST_F(MeterTest, RejectedCalibrationRepliesKeepTheMeterFromBecomingReady)
{
    Meter meter = Plug("1-3");
    SetFaults(meter, [](auto& f) { f.invalidSpecTable = true; });  // 2 entries in 12 bytes
    ASSERT_EQ(Scan(), 1);
    ASSERT_EQ(openDev(kId13), 0);
    ASSERT_TRUE(WaitFor([] { return isDevOpen(kId13) == 0; }, 4000));
    EXPECT_EQ(isInited(kId13), 0);
    EXPECT_EQ(CountLog(QString::fromUtf8("<50331648> 获取探头光谱校准参数信息失败")), 1);

    SetFaults(meter, [](auto& f) { f.shortBaseParam = true; });
    ASSERT_EQ(openDev(kId13), 0);
    ASSERT_TRUE(WaitFor([] { return isDevOpen(kId13) == 0; }, 4000));
    EXPECT_EQ(CountLog(QString::fromUtf8("获取探头基础信息失败")), 1);
}

TEST_F(MeterTest, ShortOffsetAndDateRepliesAreNotReadPastTheirEnd)
{
    Meter meter = Plug("1-3");
    SetFaults(meter, [](auto& f) { f.shortProbeOffset = f.shortCalDate = true; });
    OpenReady(kId13);  // the replies came, so the device is ready
    char date[10];
    ASSERT_EQ(getCalibrationDate(kId13, date), 0);
    EXPECT_EQ(std::string(date, 6), "2026-0");
    EXPECT_EQ(std::string(date + 6, 4), std::string(4, '\0'));
}

TEST_F(MeterTest, SamplesBecomePowerAtTheSetWavelengthAndZeroCompensationWorks)
{
    Meter meter = Plug("1-3");
    simmeter::SignalConfig signal;
    signal.powerNw = 12345.0;
    signal.noiseRel = 0;
    signal.sampleRateHz = 200;
    meter->Model().SetSignal(signal);
    OpenReady(kId13);
    ASSERT_EQ(Answered([&] { return setSampleWavelength(kId13, 850); }), 0);
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    auto samples = Collect(kId13, 40, 3000);
    ASSERT_GE(samples.size(), 40u);
    for (const PowerData& p : samples)
        EXPECT_NEAR(p.power, 12345.0, 12345.0 * 0.002);
    // Time stamps: the local wall clock once, then the meter's 5 ms tick.
    const int64_t wall = tessivar::LocalWallClockMs();
    EXPECT_LT(std::llabs(samples.front().time - wall), 5000);
    for (std::size_t i = 1; i < samples.size(); ++i)
        EXPECT_EQ(samples[i].time - samples[i - 1].time, 5);

    // Several powers across the ranges.
    for (double power : {2000.0, 75000.0, 2.5e6, 5.0e7}) {
        signal.powerNw = power;
        meter->Model().SetSignal(signal);
        QThread::msleep(60);
        PowerData drain[401];
        getData(kId13, drain, 401);
        auto fresh = Collect(kId13, 5, 2000);
        ASSERT_FALSE(fresh.empty());
        EXPECT_NEAR(fresh.back().power, power, power * 0.01 + 0.5) << power;
    }

    ASSERT_EQ(resetZeroOffset(kId13), 0);
    EXPECT_NEAR(meter->Model().ZeroOffset(), signal.powerNw, signal.powerNw * 0.01);
    PowerData drain[401];
    QThread::msleep(30);
    getData(kId13, drain, 401);
    auto zeroed = Collect(kId13, 5, 2000);
    ASSERT_FALSE(zeroed.empty());
    for (const PowerData& p : zeroed)
        EXPECT_DOUBLE_EQ(p.power, 0.0);
    double offset = 0;
    ASSERT_EQ(getZeroOffset(kId13, &offset), 0);
    EXPECT_DOUBLE_EQ(offset, Device(kId13)->ZeroOffset());
}

TEST_F(MeterTest, TheMetersTickWrapsWithoutAJumpInTime)
{
    Meter meter = Plug("1-3");
    // Wraps about 1.2 s after the meter was plugged, while it streams.
    meter->Model().SetTickOrigin(0xFFFFFFFFu - 1200);
    simmeter::SignalConfig signal;
    signal.sampleRateHz = 100;
    meter->Model().SetSignal(signal);
    OpenReady(kId13);
    ASSERT_EQ(Answered([&] { return startTransfer(kId13); }), 0);
    auto samples = Collect(kId13, 200, 4000);
    ASSERT_GE(samples.size(), 200u);
    for (std::size_t i = 1; i < samples.size(); ++i)
        EXPECT_EQ(samples[i].time - samples[i - 1].time, 10);
}
