// The meter model on a hand-stepped clock: its answers, its state, the sample stream and the
// injected faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "simmeter/meter_model.h"

namespace simmeter {
namespace {

using namespace std::chrono_literals;
using wire::EncodeRequest;

class ManualClock {
public:
    Clock AsClock()
    {
        return [t = t_] { return *t; };
    }
    void Advance(std::chrono::microseconds d) { *t_ += d; }

private:
    std::shared_ptr<SteadyTime> t_ = std::make_shared<SteadyTime>(std::chrono::hours(1000));
};

Bytes U16(std::initializer_list<uint16_t> words)
{
    Bytes b;
    for (uint16_t v : words)
        wire::PutU16(b, v);
    return b;
}

Bytes F64(double v)
{
    Bytes b;
    wire::PutF64(b, v);
    return b;
}

// A text field of `size` bytes, zero-padded.
Bytes Field(const std::string& text, size_t size)
{
    Bytes b(text.begin(), text.end());
    b.resize(size, 0);
    return b;
}

// One spectral write in chunk layout: the table's total count, the index of its first entry.
Bytes SpecChunk(uint16_t total, uint16_t first, const std::vector<SpectralEntry>& entries)
{
    Bytes c = U16({total, first});
    for (const auto& e : entries) {
        wire::PutU16(c, e.nm);
        wire::PutF32(c, e.coef);
    }
    return c;
}

class ModelTest : public ::testing::Test {
protected:
    ModelTest() : m(3, clock.AsClock())
    {
        SignalConfig s;
        s.noiseRel = 0;
        m.SetSignal(s);
    }

    std::vector<wire::Reply> Send(uint16_t code, const Bytes& payload = {})
    {
        m.HostWrite(EncodeRequest(code, payload));
        return wire::DecodeReplies(m.TakeOutputBytes());
    }
    // The one reply to a request, or a failed expectation.
    wire::Reply Ask(uint16_t code, const Bytes& payload = {})
    {
        auto r = Send(code, payload);
        EXPECT_EQ(r.size(), 1u) << std::hex << code;
        if (r.empty())
            return {};
        EXPECT_EQ(r[0].code, code);
        EXPECT_TRUE(r[0].checksumOk);
        return r[0];
    }
    std::string Text(uint16_t code)
    {
        auto r = Ask(code);
        return std::string(r.payload.begin(), r.payload.end()).c_str();
    }
    uint16_t AskU16(uint16_t code) { return wire::GetU16(Ask(code).payload.data()); }
    // Saves the calibration and lets the flash write finish.
    void Save()
    {
        m.HostWrite(EncodeRequest(cmd::kSaveDetParam));
        EXPECT_EQ(RunFor(300ms).size(), 1u);
    }
    std::vector<wire::Reply> RunFor(std::chrono::microseconds d)
    {
        clock.Advance(d);
        return wire::DecodeReplies(m.TakeOutputBytes());
    }

    ManualClock clock;
    MeterModel m;
};

TEST_F(ModelTest, AnswersEveryReadWithStatusZeroAndTheDocumentedSizes)
{
    const std::pair<uint16_t, size_t> reads[] = {{cmd::kGetBaseParam, 10},
                                                 {cmd::kGetLevParam, 128},
                                                 {cmd::kGetSpecParam, 2 + 6 * 701},
                                                 {cmd::kGetProbeOffset, 8},
                                                 {cmd::kGetCalibrationDate, 10},
                                                 {cmd::kGetZeroOffset, 8},
                                                 {cmd::kGetAverage, 2},
                                                 {cmd::kGetSampleWavelength, 2},
                                                 {cmd::kGetDetectorState, 2}};
    for (const auto& [code, size] : reads) {
        auto r = Ask(code);
        EXPECT_EQ(r.status, 0) << std::hex << code;
        EXPECT_EQ(r.payload.size(), size) << std::hex << code;
        EXPECT_EQ(r.lengthField, size) << std::hex << code;
    }
    EXPECT_EQ(AskU16(cmd::kGetDetectorState), 2);
    const auto date = Ask(cmd::kGetCalibrationDate).payload;
    EXPECT_EQ(std::string(date.begin(), date.end()), "2026-01-15");
    const MeterIdentity id = DefaultIdentity(3);
    EXPECT_EQ(Text(cmd::kReadDevName), id.devName);
    EXPECT_EQ(Text(cmd::kReadDevSerial), id.devSerial);
    EXPECT_EQ(Text(cmd::kReadDetName), id.detName);
    EXPECT_EQ(Text(cmd::kReadDetSerial), id.detSerial);
    EXPECT_EQ(Text(cmd::kReadVersion), id.version);
    EXPECT_NE(DefaultIdentity(4).devSerial, id.devSerial);
    EXPECT_LE(id.detSerial.size(), 16u);
}

TEST_F(ModelTest, HousekeepingCommandsAreAnsweredAsAHeadWould)
{
    EXPECT_EQ(Ask(cmd::kInit).status, 0);
    EXPECT_TRUE(Send(cmd::kHeartbeat).empty());
    EXPECT_TRUE(Send(cmd::kRecover).empty());
    EXPECT_EQ(Ask(cmd::kStopTransfer).status, 0);
    EXPECT_EQ(Ask(0x7777).status, status::kUnknownCommand);
}

TEST_F(ModelTest, WritesChangeWhatLaterReadsReturn)
{
    EXPECT_EQ(Ask(cmd::kWriteDevName, Field("Bench head", 32)).status, 0);
    EXPECT_EQ(Text(cmd::kReadDevName), "Bench head");
    Ask(cmd::kWriteDetSerial, Field("P-42", 16));
    EXPECT_EQ(Text(cmd::kReadDetSerial), "P-42");
    Ask(cmd::kWriteDevSerial, Bytes(32, 0));
    EXPECT_EQ(Text(cmd::kReadDevSerial), "");

    Ask(cmd::kSetAverage, U16({25}));
    EXPECT_EQ(AskU16(cmd::kGetAverage), 25);
    Ask(cmd::kSetSampleWavelength, U16({1310}));  // out of the probe's range: the head keeps it
    EXPECT_EQ(AskU16(cmd::kGetSampleWavelength), 1310);
    Ask(cmd::kSetZeroOffset, F64(-12.5));
    EXPECT_EQ(wire::GetF64(Ask(cmd::kGetZeroOffset).payload.data()), -12.5);

    Ask(cmd::kSetBaseParam, U16({800, 1700, 1000, 50000}));
    const auto b = Ask(cmd::kGetBaseParam).payload;
    ASSERT_EQ(b.size(), 10u);
    EXPECT_EQ(wire::GetU16(&b[0]), 800);
    EXPECT_EQ(wire::GetU16(&b[6]), 50000);
    EXPECT_EQ(wire::GetU16(&b[8]), BaseRecord{}.detectorType);  // 8-byte write keeps the type

    LevelRecord lev = DefaultLevelRecord();
    lev.ranges[7] = {0.5, -100};
    Ask(cmd::kSetLevParam, lev.Encode());
    EXPECT_EQ(Ask(cmd::kGetLevParam).payload, lev.Encode());

    Ask(cmd::kSetTime, U16({26, 3, 14, 6, 9, 26, 53}));
    ASSERT_TRUE(m.LastSetTime());
    EXPECT_EQ(m.LastSetTime()->day, 14);
    EXPECT_EQ(m.LastSetTime()->second, 53);

    Ask(cmd::kDiskMode);
    EXPECT_TRUE(m.InDiskMode());
    Ask(cmd::kNonDiskMode);
    EXPECT_FALSE(m.InDiskMode());
}

TEST_F(ModelTest, MalformedWritesAreRefusedAndChangeNothing)
{
    const Calibration before = m.GetCalibration();
    EXPECT_EQ(Ask(cmd::kSetLevParam, Bytes(120, 1)).status, status::kBadParameter);
    EXPECT_EQ(Ask(cmd::kSetBaseParam, Bytes(6, 1)).status, status::kBadParameter);
    EXPECT_EQ(Ask(cmd::kSetSpecParam, Bytes(7, 1)).status, status::kBadParameter);
    const Bytes tooFar = SpecChunk(2, 1, {{}, {}});  // reaches past its announced total
    EXPECT_EQ(Ask(cmd::kSetSpecParam, tooFar).status, status::kBadParameter);
    EXPECT_EQ(Ask(cmd::kSetTime, Bytes(12, 0)).status, status::kBadParameter);
    EXPECT_EQ(Ask(cmd::kWriteDetSerial, Bytes(20, 'x')).status, status::kBadParameter);
    EXPECT_EQ(m.GetCalibration(), before);
    EXPECT_FALSE(m.LastSetTime());
}

TEST_F(ModelTest, ChunkedSpectralWriteReplacesTheTableWhenComplete)
{
    SpectralTable t = DefaultSpectralTable();
    for (auto& e : t.entries)
        e.coef *= 0.5f;
    const size_t total = t.entries.size();
    size_t chunks = 0;
    for (size_t first = 0; first < total; first += kSpectralChunkEntries) {
        if (first > 0) {
            EXPECT_EQ(m.GetCalibration().spectral, DefaultSpectralTable());  // not yet
        }
        const auto from = t.entries.begin() + first;
        const Bytes c = SpecChunk(static_cast<uint16_t>(total), static_cast<uint16_t>(first),
                                  {from, from + std::min(kSpectralChunkEntries, total - first)});
        EXPECT_EQ(Ask(cmd::kSetSpecParam, c).status, 0);
        ++chunks;
    }
    EXPECT_EQ(chunks, 9u);
    EXPECT_EQ(m.GetCalibration().spectral, t);
    EXPECT_EQ(Ask(cmd::kGetSpecParam).payload, t.Encode());
}

TEST_F(ModelTest, WholeSpectralTableInOneWriteInEitherLayout)
{
    SpectralTable t;
    t.entries = {{400, 0.25f}, {700, 0.5f}, {1100, 0.75f}};
    EXPECT_EQ(Ask(cmd::kSetSpecParam, t.Encode()).status, 0);  // the read layout
    EXPECT_EQ(m.GetCalibration().spectral, t);
    EXPECT_EQ(Ask(cmd::kSetSpecParam, SpecChunk(2, 0, {{500, 1.0f}, {600, 2.0f}})).status, 0);
    ASSERT_EQ(m.GetCalibration().spectral.entries.size(), 2u);
    EXPECT_EQ(m.GetCalibration().spectral.entries[1].coef, 2.0f);
}

TEST_F(ModelTest, IdentityTextsAreKeptAsPrintableAscii)
{
    EXPECT_EQ(Ask(cmd::kWriteDetName, Field("Caf\xE9\x01~ X", 32)).status, 0);
    EXPECT_EQ(Text(cmd::kReadDetName), "Caf??~ X");
    EXPECT_EQ(m.Identity().detName, "Caf??~ X");
}

// A host writing the table piecewise, as a production tool does: chunks are placed by
// their index, so their order does not matter; a write with another total starts afresh.
TEST_F(ModelTest, SpectralChunksAreAssembledByIndex)
{
    const SpectralTable before = m.GetCalibration().spectral;
    Ask(cmd::kSetSpecParam, SpecChunk(5, 3, {{1000, 0.4f}, {1100, 0.5f}}));
    Ask(cmd::kSetSpecParam, SpecChunk(5, 0, {{700, 0.1f}, {800, 0.2f}}));
    EXPECT_EQ(m.GetCalibration().spectral, before);  // entry 2 is still missing
    Ask(cmd::kSetSpecParam, SpecChunk(4, 0, {{400, 1.0f}, {500, 1.0f}}));  // another total: restart
    Ask(cmd::kSetSpecParam, SpecChunk(5, 2, {{900, 0.3f}}));
    EXPECT_EQ(m.GetCalibration().spectral, before);  // the restart dropped entries 0, 1, 3, 4
    Ask(cmd::kSetSpecParam, SpecChunk(5, 0, {{700, 0.1f}, {800, 0.2f}}));
    Ask(cmd::kSetSpecParam, SpecChunk(5, 3, {{1000, 0.4f}, {1100, 0.5f}}));
    SpectralTable t;
    t.entries = {{700, 0.1f}, {800, 0.2f}, {900, 0.3f}, {1000, 0.4f}, {1100, 0.5f}};
    EXPECT_EQ(m.GetCalibration().spectral, t);
    // Half a table is lost with the power; the whole saved one is not.
    Save();
    Ask(cmd::kSetSpecParam, SpecChunk(2, 0, {{400, 9.0f}}));
    m.PowerCycle();
    EXPECT_EQ(m.GetCalibration().spectral, t);
    Ask(cmd::kSetSpecParam, SpecChunk(2, 1, {{500, 9.0f}}));  // the first half did not survive
    EXPECT_EQ(m.GetCalibration().spectral, t);
}

// What a host reads at its next open after writing and saving: the start-up reads return
// the written records, and the clock holds what was set.
TEST_F(ModelTest, SavedWritesAreWhatTheNextOpenReads)
{
    const Bytes base = U16({800, 1700, 1000, 50000});
    LevelRecord lev = DefaultLevelRecord();
    lev.ranges[2] = {0.02, -30};
    SpectralTable spectral;
    spectral.entries = {{800, 0.5f}, {1700, 1.0f}};
    const Bytes t = U16({24, 5, 8, 3, 10, 44, 0});
    for (const auto& [code, payload] :
         std::vector<std::pair<uint16_t, Bytes>>{{cmd::kSetBaseParam, base},
                                                 {cmd::kSetLevParam, lev.Encode()},
                                                 {cmd::kSetSpecParam, spectral.Encode()},
                                                 {cmd::kSetTime, t}}) {
        EXPECT_EQ(Ask(code, payload).status, 0) << std::hex << code;
    }
    Save();
    m.PowerCycle();

    const Bytes b = Ask(cmd::kGetBaseParam).payload;
    ASSERT_EQ(b.size(), 10u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), base);
    EXPECT_EQ(Ask(cmd::kGetLevParam).payload, lev.Encode());
    EXPECT_EQ(Ask(cmd::kGetSpecParam).payload, spectral.Encode());
    ASSERT_TRUE(m.LastSetTime());
    EXPECT_EQ(m.LastSetTime()->year, 24);
    EXPECT_EQ(m.LastSetTime()->minute, 44);
}

TEST_F(ModelTest, SaveTakesItsTimeHoldsLaterRepliesAndSurvivesAPowerCycle)
{
    LevelRecord lev = DefaultLevelRecord();
    lev.ranges[0].k = 0.001;
    Ask(cmd::kSetLevParam, lev.Encode());
    m.HostWrite(EncodeRequest(cmd::kSaveDetParam));
    m.HostWrite(EncodeRequest(cmd::kGetAverage));
    EXPECT_TRUE(m.TakeOutputBytes().empty());
    ASSERT_TRUE(m.NextDue());
    clock.Advance(299ms);
    EXPECT_TRUE(m.TakeOutputBytes().empty());
    const auto r = RunFor(1ms);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].code, cmd::kSaveDetParam);
    EXPECT_EQ(r[1].code, cmd::kGetAverage);  // in request order, behind the save
    EXPECT_EQ(m.SaveCount(), 1);

    LevelRecord unsaved = lev;
    unsaved.ranges[1].k = 0.002;
    Ask(cmd::kSetLevParam, unsaved.Encode());
    m.PowerCycle();
    EXPECT_EQ(m.GetCalibration().level, lev);
}

TEST_F(ModelTest, StreamsSamplesOnlyBetweenStartAndStop)
{
    SignalConfig s;
    s.noiseRel = 0;
    s.sampleRateHz = 100;
    m.SetSignal(s);
    clock.Advance(1s);
    EXPECT_FALSE(m.NextDue());
    Ask(cmd::kStartTransfer);
    EXPECT_TRUE(m.IsStreaming());
    auto r = RunFor(1s);
    ASSERT_EQ(r.size(), 100u);
    uint32_t prev = 0;
    for (size_t i = 0; i < r.size(); ++i) {
        ASSERT_EQ(r[i].code, cmd::kPowerData);
        ASSERT_EQ(r[i].payload.size(), 8u);
        const uint32_t tick = wire::GetU32(r[i].payload.data());
        if (i > 0) {
            EXPECT_EQ(tick - prev, 10u) << i;
        }
        prev = tick;
    }
    EXPECT_EQ(Ask(cmd::kStopTransfer).code, cmd::kStopTransfer);
    EXPECT_FALSE(m.IsStreaming());
    clock.Advance(1s);
    EXPECT_TRUE(m.TakeOutputBytes().empty());
    EXPECT_FALSE(m.NextDue());
}

TEST_F(ModelTest, ReachesThousandsOfSamplesPerSecondAndCapsABacklog)
{
    SignalConfig s;
    s.sampleRateHz = 5000;
    m.SetSignal(s);
    Ask(cmd::kStartTransfer);
    EXPECT_EQ(RunFor(100ms).size(), 500u);
    clock.Advance(10s);  // nobody read: only the last second survives
    EXPECT_EQ(wire::DecodeReplies(m.TakeOutputBytes(10000)).size(), 5000u);
}

TEST_F(ModelTest, TicksWrapAroundWithTheMetersCounter)
{
    m.SetTickOrigin(0xFFFFFFFFu - 15);
    Ask(cmd::kStartTransfer);
    auto r = RunFor(100ms);
    ASSERT_FALSE(r.empty());
    const uint32_t first = wire::GetU32(r.front().payload.data());
    const uint32_t last = wire::GetU32(r.back().payload.data());
    EXPECT_GT(first, 0xFFFFFF00u);
    EXPECT_LT(last, 100u);
    EXPECT_EQ(static_cast<uint32_t>(last - first), 90u);
}

// What a host computes from a sample with the probe's own calibration.
double HostPower(const Calibration& c, uint16_t wavelength, uint16_t range, uint16_t raw)
{
    const float coef = c.spectral.CoefficientAt(wavelength);
    const LevelPair& lp = c.level.ranges[range - 1];
    return (raw - lp.b) / (static_cast<double>(coef) * lp.k) - c.probeOffset;
}

TEST_F(ModelTest, AutoRangedSamplesGiveTheSetPowerThroughTheHostFormula)
{
    const Calibration cal = m.GetCalibration();
    for (uint16_t wl : {400, 532, 964, 1100}) {
        Ask(cmd::kSetSampleWavelength, U16({wl}));
        for (double p : {1e4, 3e4, 1e5, 4e5, 1e6, 3e6, 1e7, 5e7, 1e8}) {
            SignalConfig s;
            s.powerNw = p;
            s.noiseRel = 0;
            m.SetSignal(s);
            Ask(cmd::kStartTransfer);
            auto r = RunFor(10ms);
            ASSERT_EQ(r.size(), 1u);
            Ask(cmd::kStopTransfer);
            const uint16_t range = wire::GetU16(&r[0].payload[4]);
            const uint16_t raw = wire::GetU16(&r[0].payload[6]);
            ASSERT_GE(range, 1);
            ASSERT_LE(range, 8);
            EXPECT_LE(raw, cal.base.adcHigh) << p << " nW at " << wl;
            const LevelPair& lp = cal.level.ranges[range - 1];
            const double count = 1.0 / (cal.spectral.CoefficientAt(wl) * lp.k);  // nW per count
            EXPECT_NEAR(HostPower(cal, wl, range, raw), p, count) << p << " nW at " << wl;
            // No more sensitive range would have stayed below saturation.
            for (const auto& other : cal.level.ranges) {
                if (other.k > lp.k) {
                    EXPECT_GT(p * cal.spectral.CoefficientAt(wl) * other.k + other.b,
                              cal.base.adcHigh);
                }
            }
        }
    }
}

TEST_F(ModelTest, SignalShapesNoiseDriftAndSteps)
{
    SignalConfig s;
    s.powerNw = 1e5;
    s.driftNwPerS = 1e4;
    s.noiseRel = 0;
    s.steps = {{0.5, 2e5}};
    EXPECT_DOUBLE_EQ(NominalPowerNw(s, 0.25), 1e5 + 2.5e3);
    EXPECT_DOUBLE_EQ(NominalPowerNw(s, 1.0), 2e5 + 1e4);

    s = {};
    s.powerNw = 1e5;
    s.noiseRel = 0.01;
    s.sampleRateHz = 1000;
    m.SetSignal(s);
    Ask(cmd::kSetSampleWavelength, U16({964}));
    Ask(cmd::kStartTransfer);
    clock.Advance(1s);
    const Calibration cal = m.GetCalibration();
    double sum = 0, sq = 0;
    size_t n = 0;
    for (const auto& r : wire::DecodeReplies(m.TakeOutputBytes())) {
        const double p =
            HostPower(cal, 964, wire::GetU16(&r.payload[4]), wire::GetU16(&r.payload[6]));
        sum += p;
        sq += p * p;
        ++n;
    }
    ASSERT_EQ(n, 1000u);
    const double mean = sum / n, sd = std::sqrt(sq / n - mean * mean);
    EXPECT_NEAR(mean, 1e5, 300);  // 3 sigma of the mean is 95 nW, plus quantisation
    EXPECT_NEAR(sd / 1e5, 0.01, 0.002);
}

TEST_F(ModelTest, SwingsScaleThePowerWithinTheirSummedAmplitude)
{
    SignalConfig s;
    s.powerNw = 1000;
    s.steps = {{10, 2000}};
    s.swings = {{0.03, 40, 0}, {0.01, 0, 1.0}};  // a period of 0 contributes nothing
    EXPECT_DOUBLE_EQ(NominalPowerNw(s, 0), 1000);
    EXPECT_NEAR(NominalPowerNw(s, 10), 2000 * 1.03, 1e-9);  // a quarter period in
    EXPECT_NEAR(NominalPowerNw(s, 30), 2000 * 0.97, 1e-9);  // the step is scaled too

    // A flat default, and demo meters that differ from each other and stay within their
    // bounds over ten minutes, with a visible swing within each minute.
    EXPECT_TRUE(SignalConfig{}.swings.empty());
    std::vector<double> levels;
    for (int meter = 1; meter <= 6; ++meter) {
        const SignalConfig d = DemoSignal(meter);
        SCOPED_TRACE(meter);
        EXPECT_GE(d.noiseRel, 0.005);
        EXPECT_LE(d.noiseRel, 0.01);
        double bound = 0;
        for (const Swing& w : d.swings)
            bound += w.amplitudeRel;
        EXPECT_GT(bound, 0.02);
        EXPECT_LT(bound, 0.08);
        double lo = 1e300, hi = 0, minuteLo = 1e300, minuteHi = 0;
        for (double t = 0; t < 600; t += 0.5) {
            const double p = NominalPowerNw(d, t) / d.powerNw;
            lo = std::min(lo, p);
            hi = std::max(hi, p);
            if (t < 60) {
                minuteLo = std::min(minuteLo, p);
                minuteHi = std::max(minuteHi, p);
            }
        }
        EXPECT_GE(lo, 1 - bound - 1e-12);
        EXPECT_LE(hi, 1 + bound + 1e-12);
        EXPECT_GT(minuteHi - minuteLo, 0.01);  // the curve of a minute is not a straight line
        for (double other : levels)
            EXPECT_NE(d.powerNw, other);
        levels.push_back(d.powerNw);
        EXPECT_NE(NominalPowerNw(d, 100) / d.powerNw,
                  NominalPowerNw(DemoSignal(meter + 1), 100) / DemoSignal(meter + 1).powerNw);
    }
}

TEST_F(ModelTest, KeepsATimeStampedLogOfEveryRequest)
{
    m.HostWrite(EncodeRequest(cmd::kInit));
    clock.Advance(5ms);
    m.HostWrite(EncodeRequest(cmd::kSetAverage, U16({3})));
    Bytes broken = EncodeRequest(cmd::kGetAverage);
    broken.back() ^= 1;
    m.HostWrite(broken);
    const auto log = m.Received();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].code, cmd::kInit);
    EXPECT_EQ(log[1].payload, U16({3}));
    EXPECT_EQ(log[1].at - log[0].at, 5ms);
    EXPECT_EQ(m.BadRequestFrames(), 1u);
    EXPECT_EQ(m.ReceivedCount(cmd::kSetAverage), 1u);
    m.ClearReceived();
    EXPECT_TRUE(m.Received().empty());
}

// ---------------------------------------------------------------- faults

class ModelFaultTest : public ModelTest {
protected:
    void Set(const std::function<void(FaultConfig&)>& f)
    {
        FaultConfig c;
        f(c);
        m.SetFaults(c);
    }
};

TEST_F(ModelFaultTest, SilentAnswersNothingAndStreamsNothing)
{
    Set([](FaultConfig& f) { f.silent = true; });
    EXPECT_TRUE(Send(cmd::kReadVersion).empty());
    Send(cmd::kStartTransfer);
    clock.Advance(1s);
    EXPECT_TRUE(m.TakeOutputBytes().empty());
    EXPECT_EQ(m.ReceivedCount(cmd::kReadVersion), 1u);  // it still hears
    Set([](FaultConfig&) {});
    const auto r = RunFor(50ms);
    EXPECT_GE(r.size(), 4u);  // streaming resumes without a burst of old samples
    EXPECT_LE(r.size(), 6u);
}

TEST_F(ModelFaultTest, IgnoredCodesGoUnansweredButTakeEffect)
{
    Set([](FaultConfig& f) { f.ignoreCodes = {cmd::kSetAverage, cmd::kGetBaseParam}; });
    EXPECT_TRUE(Send(cmd::kSetAverage, U16({9})).empty());
    EXPECT_TRUE(Send(cmd::kGetBaseParam).empty());
    EXPECT_EQ(m.Average(), 9);
    EXPECT_EQ(Ask(cmd::kGetAverage).status, 0);
}

TEST_F(ModelFaultTest, DroppedCodesAreHeardButNeitherTakeEffectNorAnswer)
{
    Set([](FaultConfig& f) { f.dropCodes = {cmd::kSetSampleWavelength}; });
    EXPECT_TRUE(Send(cmd::kSetSampleWavelength, U16({1000})).empty());
    EXPECT_TRUE(Send(cmd::kSetSampleWavelength, U16({1001})).empty());
    EXPECT_EQ(m.SampleWavelength(), 532);
    EXPECT_EQ(m.ReceivedCount(cmd::kSetSampleWavelength), 2u);
    EXPECT_EQ(Ask(cmd::kGetSampleWavelength).status, 0);  // other codes still answered

    // A limited drop loses only the next request of the code.
    Set([](FaultConfig& f) {
        f.dropCodes = {cmd::kSetAverage};
        f.dropRemaining = 1;
    });
    EXPECT_TRUE(Send(cmd::kSetAverage, U16({9})).empty());
    EXPECT_EQ(m.Average(), 1);
    EXPECT_EQ(Ask(cmd::kSetAverage, U16({9})).status, 0);
    EXPECT_EQ(m.Average(), 9);
    EXPECT_EQ(m.Faults().dropRemaining, 0);
}

TEST_F(ModelFaultTest, DelayedReplies)
{
    Set([](FaultConfig& f) { f.replyDelayMs = 40; });
    EXPECT_TRUE(Send(cmd::kReadVersion).empty());
    clock.Advance(39ms);
    EXPECT_TRUE(m.TakeOutputBytes().empty());
    EXPECT_EQ(RunFor(1ms).size(), 1u);
}

TEST_F(ModelFaultTest, BadStatusForAllOrSelectedCodes)
{
    Set([](FaultConfig& f) { f.badStatus = 5; });
    EXPECT_EQ(Ask(cmd::kReadVersion).status, 5);
    Set([](FaultConfig& f) {
        f.badStatus = 7;
        f.badStatusCodes = {cmd::kGetProbeOffset};
    });
    EXPECT_EQ(Ask(cmd::kReadVersion).status, 0);
    EXPECT_EQ(Ask(cmd::kGetProbeOffset).status, 7);
}

TEST_F(ModelFaultTest, BadChecksumGarbageAndSplitFrames)
{
    Set([](FaultConfig& f) { f.badChecksum = true; });
    auto r = Send(cmd::kReadVersion);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].checksumOk);

    Set([](FaultConfig& f) { f.garbageBytes = 9; });
    m.HostWrite(EncodeRequest(cmd::kReadVersion));
    const Bytes g = m.TakeOutputBytes();
    const std::string version = DefaultIdentity(3).version;
    const Bytes frame =
        wire::EncodeReply(cmd::kReadVersion, 0, Bytes(version.begin(), version.end()));
    ASSERT_EQ(g.size(), 9 + frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), g.begin() + 9));
    EXPECT_EQ(std::count(g.begin(), g.begin() + 9, uint8_t{0xAA}), 0);

    Set([](FaultConfig& f) { f.splitFrames = true; });
    m.HostWrite(EncodeRequest(cmd::kReadVersion));
    const auto chunks = m.TakeOutput();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_TRUE(chunks[0].endsTransfer);
    Bytes joined = chunks[0].bytes;
    joined.insert(joined.end(), chunks[1].bytes.begin(), chunks[1].bytes.end());
    EXPECT_EQ(joined, frame);
}

TEST_F(ModelFaultTest, OversizeLengthHitsOnlyTheNextReply)
{
    Set([](FaultConfig& f) { f.oversizeLength = true; });
    m.HostWrite(EncodeRequest(cmd::kGetAverage));
    const Bytes first = m.TakeOutputBytes();
    ASSERT_GE(first.size(), 8u);
    EXPECT_EQ(wire::GetU16(&first[6]), 0xFFFF);
    EXPECT_FALSE(m.Faults().oversizeLength);
    EXPECT_EQ(Ask(cmd::kGetAverage).lengthField, 2);
}

TEST_F(ModelFaultTest, MalformedCalibrationReplies)
{
    Set([](FaultConfig& f) {
        f.shortBaseParam = f.shortLevParam = f.invalidSpecTable = true;
        f.shortProbeOffset = f.shortCalDate = true;
    });
    EXPECT_EQ(Ask(cmd::kGetBaseParam).payload.size(), 8u);
    EXPECT_EQ(Ask(cmd::kGetLevParam).payload.size(), 120u);
    const auto spectral = Ask(cmd::kGetSpecParam).payload;
    ASSERT_EQ(spectral.size(), 12u);
    EXPECT_EQ(wire::GetU16(spectral.data()), 2);
    EXPECT_EQ(Ask(cmd::kGetProbeOffset).payload.size(), 4u);
    EXPECT_EQ(Ask(cmd::kGetCalibrationDate).payload.size(), 6u);
    Set([](FaultConfig& f) { f.emptySpecTable = true; });
    EXPECT_EQ(Ask(cmd::kGetSpecParam).payload, U16({0}));
}

TEST_F(ModelFaultTest, ProbeStateAndOneShotStall)
{
    Set([](FaultConfig& f) {
        f.detectorState = 0;
        f.stallIn = true;
    });
    EXPECT_EQ(wire::GetU16(Ask(cmd::kGetDetectorState).payload.data()), 0);
    EXPECT_TRUE(m.ConsumeStallIn());
    EXPECT_FALSE(m.ConsumeStallIn());
}

}  // namespace
}  // namespace simmeter
