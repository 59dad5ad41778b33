// The virtual bus seen through the real libusb: enumeration and port numbers, bulk round
// trips, streaming, stalls, unplug and replug.
#include <fcntl.h>
#include <libusb-1.0/libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "simmeter/calibration.h"
#include "simmeter/testing.h"
#include "simmeter/wire.h"

namespace simmeter {
namespace {

using ::simmeter::testing::SimMeterTest;
using ::simmeter::testing::WaitFor;
using namespace std::chrono_literals;

// One libusb context for the whole process: it sees the one testbed that exists at init.
libusb_context* Ctx()
{
    static libusb_context* ctx = [] {
        libusb_context* c = nullptr;
        EXPECT_EQ(libusb_init(&c), 0);
        return c;
    }();
    return ctx;
}

struct Found {
    std::vector<uint8_t> ports;
    int address = 0;
};

std::vector<Found> ListMeters()
{
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(Ctx(), &list);
    std::vector<Found> out;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0)
            continue;
        if (d.idVendor != kMeterVendorId || d.idProduct != kMeterProductId)
            continue;
        Found f;
        uint8_t p[8];
        const int np = libusb_get_port_numbers(list[i], p, 8);
        if (np > 0)
            f.ports.assign(p, p + np);
        f.address = libusb_get_device_address(list[i]);
        out.push_back(f);
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    return out;
}

bool Listed(const std::shared_ptr<SimMeter>& m)
{
    for (const auto& f : ListMeters()) {
        if (f.ports == m->PortNumbers() && f.address == m->DeviceNumber())
            return true;
    }
    return false;
}

// The meter's node opened through the process's context, or nullptr if it is not listed.
libusb_device_handle* OpenNode(const std::shared_ptr<SimMeter>& m)
{
    libusb_device_handle* h = nullptr;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(Ctx(), &list);
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_device_address(list[i]) == m->DeviceNumber() &&
            libusb_get_bus_number(list[i]) == m->BusNumber()) {
            EXPECT_EQ(libusb_open(list[i], &h), 0);
        }
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    return h;
}

std::string Text(const wire::Reply& r)
{
    return std::string(r.payload.begin(), r.payload.end()).c_str();
}

// An open, claimed meter as a host would use it.
class Host {
public:
    explicit Host(const std::shared_ptr<SimMeter>& m) : h_(OpenNode(m))
    {
        if (h_) {
            EXPECT_EQ(libusb_claim_interface(h_, 0), 0);
        }
    }
    ~Host()
    {
        if (h_) {
            libusb_release_interface(h_, 0);
            libusb_close(h_);
        }
    }
    bool ok() const { return h_ != nullptr; }
    libusb_device_handle* handle() { return h_; }

    int Write(const Bytes& b)
    {
        int done = 0;
        const int r = libusb_bulk_transfer(h_, kMeterOutEndpoint, const_cast<uint8_t*>(b.data()),
                                           static_cast<int>(b.size()), &done, 1000);
        return r == 0 ? done : r;
    }
    // One IN transfer: bytes received, or a negative libusb error other than a time-out.
    int Read(Bytes* out, int timeoutMs = 10)
    {
        uint8_t buf[4096];
        int done = 0;
        const int r = libusb_bulk_transfer(h_, kMeterInEndpoint, buf, sizeof buf, &done, timeoutMs);
        if (r != 0 && r != LIBUSB_ERROR_TIMEOUT)
            return r;
        out->insert(out->end(), buf, buf + done);
        return done;
    }
    // Reads until a reply with `code` arrives or the time is up.
    std::optional<wire::Reply> Await(uint16_t code, std::chrono::milliseconds t = 1000ms)
    {
        const auto end = std::chrono::steady_clock::now() + t;
        while (std::chrono::steady_clock::now() < end) {
            if (Read(&rx_) < 0)
                return std::nullopt;
            for (auto& r : wire::DecodeReplies(rx_)) {
                if (r.code == code) {
                    rx_.clear();
                    return r;
                }
            }
        }
        return std::nullopt;
    }
    std::optional<wire::Reply> Ask(uint16_t code, const Bytes& payload = {})
    {
        Write(wire::EncodeRequest(code, payload));
        return Await(code);
    }

private:
    libusb_device_handle* h_ = nullptr;
    Bytes rx_;
};

class VirtualBusTest : public SimMeterTest {
protected:
    // Plugs a meter and waits until libusb lists it.
    std::shared_ptr<SimMeter> PlugListed(const std::string& port = "1-1", MeterConfig cfg = {})
    {
        auto m = Plug(port, cfg);
        EXPECT_TRUE(WaitFor([&] { return Listed(m); })) << port;
        return m;
    }
};

TEST_F(VirtualBusTest, EnumeratesMetersWithTheirPortNumbers)
{
    auto ports = [] {
        std::vector<std::vector<uint8_t>> p;
        for (const auto& f : ListMeters())
            p.push_back(f.ports);
        std::sort(p.begin(), p.end());
        return p;
    };
    auto a = Plug("1-3");
    auto b = Plug("1-1.2");
    EXPECT_EQ(a->PortNumbers(), (std::vector<uint8_t>{3}));
    ASSERT_TRUE(WaitFor([&] { return ListMeters().size() == 2; }));
    EXPECT_TRUE(Listed(a));
    EXPECT_TRUE(Listed(b));
    EXPECT_EQ(ports(), (std::vector<std::vector<uint8_t>>{{1, 2}, {3}}));
    // Where the meter was, a hub chain now leads four tiers deeper.
    Unplug(b);
    auto c = Plug("1-1.2.3.4.5");
    ASSERT_TRUE(WaitFor([&] { return ListMeters().size() == 2; }));
    EXPECT_TRUE(Listed(c));
    EXPECT_EQ(ports(), (std::vector<std::vector<uint8_t>>{{1, 2, 3, 4, 5}, {3}}));
}

TEST_F(VirtualBusTest, RefusesTakenAndMalformedPorts)
{
    auto a = Plug("1-2.1");
    EXPECT_THROW(Plug("1-2.1"), std::invalid_argument);    // taken by a meter
    EXPECT_THROW(Plug("1-2"), std::invalid_argument);      // a hub lives there
    EXPECT_THROW(Plug("1-2.1.4"), std::invalid_argument);  // behind a meter, not a hub
    EXPECT_THROW(Plug("1-"), std::invalid_argument);
    EXPECT_THROW(Plug("x-1"), std::invalid_argument);
    EXPECT_TRUE(a->IsPlugged());
}

TEST_F(VirtualBusTest, TwoMetersOnOneHubAreListedInDeviceListOrder)
{
    auto a = Plug("1-4.1");
    auto b = Plug("1-4.2");
    ASSERT_TRUE(WaitFor([&] { return ListMeters().size() == 2; }));
    const auto first = ListMeters();
    ASSERT_EQ(first.size(), 2u);
    // Both behind the same hub, and every listing gives the same order.
    EXPECT_EQ(first[0].ports[0], 4);
    EXPECT_EQ(first[1].ports[0], 4);
    EXPECT_NE(first[0].ports, first[1].ports);
    for (int i = 0; i < 5; ++i) {
        const auto again = ListMeters();
        ASSERT_EQ(again.size(), 2u);
        EXPECT_EQ(again[0].ports, first[0].ports);
        EXPECT_EQ(again[1].ports, first[1].ports);
    }
}

TEST_F(VirtualBusTest, KnowsWhetherAHostHasTheMeterOpen)
{
    auto m = PlugListed();
    EXPECT_FALSE(m->IsOpenByHost());
    {
        Host h(m);
        ASSERT_TRUE(h.ok());
        EXPECT_TRUE(WaitFor([&] { return m->IsOpenByHost(); }));
    }
    EXPECT_TRUE(WaitFor([&] { return !m->IsOpenByHost(); }));
}

TEST_F(VirtualBusTest, AHostThatVanishesWithAReadInFlightLeavesNothingForTheNext)
{
    auto m = PlugListed();
    {
        // A host that submits a read and goes away without reaping it (as a killed process).
        const int fd = open(m->DevNode().c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        static uint8_t buf[64];
        static usbdevfs_urb urb{};
        urb.type = USBDEVFS_URB_TYPE_BULK;
        urb.endpoint = kMeterInEndpoint;
        urb.buffer = buf;
        urb.buffer_length = sizeof buf;
        ASSERT_EQ(ioctl(fd, USBDEVFS_SUBMITURB, &urb), 0);
        close(fd);
    }
    EXPECT_TRUE(WaitFor([&] { return !m->IsOpenByHost(); }));
    Host h(m);
    ASSERT_TRUE(h.ok());
    auto r = h.Ask(cmd::kReadDevName);  // its reply must not go to the dead read
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(*r), m->Model().Identity().devName);
}

// As the kernel's usbfs: one holder of the interface at a time; a second program's claim
// and its bulk transfers are refused as busy and leave the first program's traffic alone.
TEST_F(VirtualBusTest, ASecondHostIsRefusedTheInterfaceWhileTheFirstHoldsIt)
{
    auto m = PlugListed();
    auto first = std::make_unique<Host>(m);
    ASSERT_TRUE(first->ok());

    libusb_device_handle* second = OpenNode(m);
    ASSERT_NE(second, nullptr) << "opening the node is allowed; claiming it is not";
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    Bytes request = wire::EncodeRequest(cmd::kReadVersion);
    int done = 0;
    EXPECT_NE(libusb_bulk_transfer(second, kMeterOutEndpoint, request.data(),
                                   static_cast<int>(request.size()), &done, 200),
              0);
    EXPECT_EQ(m->Model().ReceivedCount(cmd::kReadVersion), 0u)
        << "the refused write reached the meter";

    EXPECT_EQ(first->Write(wire::EncodeRequest(cmd::kReadVersion)), 8);
    EXPECT_TRUE(first->Await(cmd::kReadVersion)) << "the holder keeps working";

    first.reset();  // releases and closes
    EXPECT_EQ(libusb_claim_interface(second, 0), 0);
    libusb_release_interface(second, 0);
    libusb_close(second);
}

TEST_F(VirtualBusTest, AClaimEndsWhenItsHolderClosesTheNodeWithoutReleasing)
{
    auto m = PlugListed();
    for (int round = 0; round < 20; ++round) {
        // A program that dies holding the interface; the next one claims at once.
        const int fd = open(m->DevNode().c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        unsigned int ifno = 0;
        ASSERT_EQ(ioctl(fd, USBDEVFS_CLAIMINTERFACE, &ifno), 0);
        close(fd);
        Host h(m);  // expects its claim to succeed
        ASSERT_TRUE(h.ok());
    }
}

TEST_F(VirtualBusTest, BulkRoundTripAnswersRequests)
{
    auto m = PlugListed();
    Host h(m);
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(h.Write(wire::EncodeRequest(cmd::kReadVersion)), 8);
    auto r = h.Await(cmd::kReadVersion);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_TRUE(r->checksumOk);
    EXPECT_EQ(Text(*r), m->Model().Identity().version);

    Bytes avg;
    wire::PutU16(avg, 17);
    ASSERT_TRUE(h.Ask(cmd::kSetAverage, avg));
    auto g = h.Ask(cmd::kGetAverage);
    ASSERT_TRUE(g);
    ASSERT_EQ(g->payload.size(), 2u);
    EXPECT_EQ(wire::GetU16(g->payload.data()), 17);

    const auto rx = m->Received();
    ASSERT_EQ(rx.size(), 3u);
    EXPECT_EQ(rx[0].code, cmd::kReadVersion);
    EXPECT_EQ(rx[1].code, cmd::kSetAverage);
    EXPECT_EQ(rx[1].payload, avg);
    EXPECT_LE(rx[0].at, rx[2].at);
}

TEST_F(VirtualBusTest, IdleReadTimesOutAndStreamingDeliversSamples)
{
    MeterConfig cfg;
    cfg.signal.sampleRateHz = 200;
    auto m = PlugListed("1-1", cfg);
    Host h(m);
    ASSERT_TRUE(h.ok());
    Bytes rx;
    EXPECT_EQ(h.Read(&rx, 10), 0);  // nothing pending: a plain time-out
    ASSERT_TRUE(h.Ask(cmd::kStartTransfer));
    EXPECT_TRUE(m->IsStreaming());
    const auto end = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < end)
        ASSERT_GE(h.Read(&rx, 10), 0);
    h.Write(wire::EncodeRequest(cmd::kStopTransfer));
    size_t samples = 0;
    uint32_t lastTick = 0;
    for (const auto& r : wire::DecodeReplies(rx)) {
        if (r.code != cmd::kPowerData)
            continue;
        ASSERT_EQ(r.payload.size(), 8u);
        EXPECT_TRUE(r.checksumOk);
        const uint32_t tick = wire::GetU32(r.payload.data());
        EXPECT_GE(tick, lastTick);
        lastTick = tick;
        const uint16_t range = wire::GetU16(r.payload.data() + 4);
        EXPECT_GE(range, 1);
        EXPECT_LE(range, 8);
        ++samples;
    }
    // 200/s for about half a second; generous bounds for a loaded machine.
    EXPECT_GE(samples, 40u);
    EXPECT_LE(samples, 160u);
    EXPECT_TRUE(WaitFor([&] { return !m->IsStreaming(); }));
}

TEST_F(VirtualBusTest, StalledInEndpointFailsUntilClearHalt)
{
    auto m = PlugListed();
    Host h(m);
    ASSERT_TRUE(h.ok());
    FaultConfig f;
    f.stallIn = true;
    m->SetFaults(f);
    Bytes rx;
    EXPECT_EQ(h.Read(&rx), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(h.Read(&rx), LIBUSB_ERROR_PIPE);  // stays halted
    EXPECT_EQ(libusb_clear_halt(h.handle(), kMeterInEndpoint), 0);
    EXPECT_TRUE(h.Ask(cmd::kReadDevName));
}

TEST_F(VirtualBusTest, ReplyFaultsReachTheHostAsTheMeterSendsThem)
{
    auto m = PlugListed();
    Host h(m);
    ASSERT_TRUE(h.ok());
    FaultConfig f;
    f.splitFrames = true;
    f.garbageBytes = 2;
    m->SetFaults(f);
    h.Write(wire::EncodeRequest(cmd::kGetAverage));
    Bytes first, second;
    ASSERT_TRUE(WaitFor([&] { return h.Read(&first) != 0; }));
    ASSERT_TRUE(WaitFor([&] { return h.Read(&second) != 0; }));
    // Two transfers: noise and the first half of the 12-byte frame, then the rest.
    ASSERT_EQ(first.size(), 2u + 6u);
    EXPECT_EQ(first[2], 0xAA);
    EXPECT_EQ(first[3], 0x55);
    ASSERT_EQ(second.size(), 6u);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    const auto r = wire::DecodeReplies(joined);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].checksumOk);

    f = {};
    f.silent = true;
    m->SetFaults(f);
    h.Write(wire::EncodeRequest(cmd::kGetAverage));
    EXPECT_FALSE(h.Await(cmd::kGetAverage, 100ms));
    EXPECT_EQ(m->Model().ReceivedCount(cmd::kGetAverage), 2u);
}

TEST_F(VirtualBusTest, UnplugWhileReadingEndsTheReadWithNoDevice)
{
    auto m = PlugListed("1-2");
    Host h(m);
    ASSERT_TRUE(h.ok());
    h.Write(wire::EncodeRequest(cmd::kStartTransfer));
    std::atomic<int> last{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        Bytes rx;
        while (!done) {
            const int r = h.Read(&rx, 10);
            if (r < 0) {
                last = r;
                return;
            }
        }
    });
    std::this_thread::sleep_for(100ms);
    Unplug(m);
    EXPECT_TRUE(WaitFor([&] { return last != 0; }, 2000ms));
    done = true;
    reader.join();
    EXPECT_EQ(last.load(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(h.Write(wire::EncodeRequest(cmd::kReadDevName)), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_TRUE(WaitFor([&] { return ListMeters().empty(); }));
    EXPECT_FALSE(m->IsPlugged());
}

TEST_F(VirtualBusTest, ReplugKeepsTheMeterAndGivesANewAddress)
{
    auto m = PlugListed("1-5");
    const int before = m->DeviceNumber();
    Unplug(m);
    ASSERT_TRUE(WaitFor([&] { return ListMeters().empty(); }));
    Bus().Replug(m);
    ASSERT_TRUE(WaitFor([&] { return Listed(m); }));
    EXPECT_NE(m->DeviceNumber(), before);
    Host h(m);
    ASSERT_TRUE(h.ok());
    auto r = h.Ask(cmd::kReadDevSerial);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(*r), m->Model().Identity().devSerial);
}

TEST_F(VirtualBusTest, NineMetersAnswerAtOnce)
{
    std::vector<std::shared_ptr<SimMeter>> ms;
    for (int i = 1; i <= 9; ++i)
        ms.push_back(Plug("1-6." + std::to_string(i)));
    ASSERT_TRUE(WaitFor([&] { return ListMeters().size() == 9; }));
    std::vector<std::unique_ptr<Host>> hosts;
    for (auto& m : ms) {
        hosts.push_back(std::make_unique<Host>(m));
        ASSERT_TRUE(hosts.back()->ok());
    }
    std::set<std::string> serials;
    for (size_t i = 0; i < ms.size(); ++i) {
        auto r = hosts[i]->Ask(cmd::kReadDevSerial);
        ASSERT_TRUE(r) << i;
        serials.insert(Text(*r));
    }
    EXPECT_EQ(serials.size(), 9u);  // every meter different
}

TEST_F(VirtualBusTest, ManyPlugCyclesWrapDeviceNumbers)
{
    std::set<int> numbers;
    for (int i = 0; i < 140; ++i) {
        auto m = Plug("1-7");
        numbers.insert(m->DeviceNumber());
        Unplug(m);
    }
    EXPECT_GE(numbers.size(), 100u);
    auto m = Plug("1-7");
    EXPECT_TRUE(WaitFor([&] { return Listed(m); }));
    EXPECT_EQ(ListMeters().size(), 1u);
}

}  // namespace
}  // namespace simmeter
