#include "simmeter/usb_layout.h"

#include <cctype>

namespace simmeter {

using wire::PutU16;

std::string PortChain::Name() const
{
    std::string s = std::to_string(bus) + "-";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i)
            s += '.';
        s += std::to_string(ports[i]);
    }
    return s;
}

PortChain PortChain::Parent() const
{
    PortChain p = *this;
    p.ports.pop_back();
    return p;
}

std::string PortChain::ParentName() const
{
    if (ports.size() <= 1)
        return "usb" + std::to_string(bus);
    return Parent().Name();
}

std::string PortChain::DevPath() const
{
    std::string s;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i)
            s += '.';
        s += std::to_string(ports[i]);
    }
    return s;
}

bool PortChain::operator<(const PortChain& o) const
{
    return bus != o.bus ? bus < o.bus : ports < o.ports;
}

bool PortChain::operator==(const PortChain& o) const { return bus == o.bus && ports == o.ports; }

namespace {

// Reads a decimal number of 1..3 digits at s[i], advancing i.
std::optional<int> Number(const std::string& s, size_t& i)
{
    size_t start = i;
    int v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 3) {
        v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (i == start)
        return std::nullopt;
    return v;
}

}  // namespace

std::optional<PortChain> ParsePortChain(const std::string& s)
{
    size_t i = 0;
    PortChain c;
    auto bus = Number(s, i);
    if (!bus || *bus < 1 || *bus > 127 || i >= s.size() || s[i] != '-')
        return std::nullopt;
    c.bus = *bus;
    ++i;
    for (;;) {
        auto p = Number(s, i);
        if (!p || *p < 1 || *p > 31)
            return std::nullopt;
        c.ports.push_back(*p);
        if (c.ports.size() > kMaxPortDepth)
            return std::nullopt;
        if (i == s.size())
            break;
        if (s[i] != '.')
            return std::nullopt;
        ++i;
    }
    return c;
}

Bytes DescriptorSet::SysfsDescriptors() const
{
    Bytes b = device;
    b.insert(b.end(), config.begin(), config.end());
    return b;
}

namespace {

Bytes DeviceDescriptor(uint8_t cls, uint8_t protocol, uint16_t vid, uint16_t pid,
                       uint16_t bcdDevice, bool withStrings)
{
    Bytes d = {18, 0x01};
    PutU16(d, 0x0200);  // bcdUSB
    d.push_back(cls);
    d.push_back(0);  // subclass
    d.push_back(protocol);
    d.push_back(64);  // bMaxPacketSize0
    PutU16(d, vid);
    PutU16(d, pid);
    PutU16(d, bcdDevice);
    d.push_back(withStrings ? 1 : 0);
    d.push_back(withStrings ? 2 : 0);
    d.push_back(withStrings ? 3 : 0);
    d.push_back(1);  // bNumConfigurations
    return d;
}

void Endpoint(Bytes& c, uint8_t addr, uint8_t attrs, uint16_t maxPacket, uint8_t interval)
{
    c.insert(c.end(), {7, 0x05, addr, attrs});
    PutU16(c, maxPacket);
    c.push_back(interval);
}

void FixTotalLength(Bytes& c)
{
    c[2] = static_cast<uint8_t>(c.size() & 0xFF);
    c[3] = static_cast<uint8_t>(c.size() >> 8);
}

}  // namespace

DescriptorSet MeterDescriptors(const UsbStrings& s, bool highSpeed)
{
    DescriptorSet d;
    d.device = DeviceDescriptor(0x00, 0x00, kMeterVendorId, kMeterProductId, 0x0100, true);
    // Configuration 1, bus powered, 100 mA.
    d.config = {9, 0x02, 0, 0, 1, 1, 0, 0x80, 50};
    // Interface 0, alternate 0, two endpoints, vendor specific.
    d.config.insert(d.config.end(), {9, 0x04, 0, 0, 2, 0xFF, 0x00, 0x00, 0});
    const uint16_t mps = highSpeed ? 512 : 64;
    Endpoint(d.config, kMeterInEndpoint, 0x02, mps, 0);
    Endpoint(d.config, kMeterOutEndpoint, 0x02, mps, 0);
    FixTotalLength(d.config);
    d.strings = s;
    return d;
}

DescriptorSet HubDescriptors(bool root, int bus)
{
    DescriptorSet d;
    if (root) {
        d.device = DeviceDescriptor(0x09, 0x01, 0x1D6B, 0x0002, 0x0601, true);
        d.strings = {"Simulation", "Simulated USB host controller",
                     "simulated-hcd." + std::to_string(bus)};
    } else {
        d.device = DeviceDescriptor(0x09, 0x01, kMeterVendorId, 0x0100, 0x0100, true);
        d.strings = {"Simulation", "Simulated 4-port hub", ""};
    }
    d.config = {9, 0x02, 0, 0, 1, 1, 0, 0xE0, 0};
    d.config.insert(d.config.end(), {9, 0x04, 0, 0, 1, 0x09, 0x00, 0x00, 0});
    Endpoint(d.config, 0x81, 0x03, 4, 12);
    FixTotalLength(d.config);
    d.isHub = true;
    return d;
}

Bytes StringDescriptor(const std::string& ascii)
{
    Bytes b = {0, 0x03};
    for (char ch : ascii)
        PutU16(b, static_cast<uint8_t>(ch));
    b[0] = static_cast<uint8_t>(b.size());
    return b;
}

std::optional<Bytes> StandardControl(const DescriptorSet& d, const uint8_t setup[8])
{
    const uint8_t bmRequestType = setup[0], bRequest = setup[1];
    const uint16_t wValue = wire::GetU16(setup + 2), wLength = wire::GetU16(setup + 6);
    auto truncated = [&](Bytes b) {
        if (b.size() > wLength)
            b.resize(wLength);
        return b;
    };
    const bool in = bmRequestType & 0x80;
    const uint8_t type = (bmRequestType >> 5) & 3;
    if (type != 0)
        return std::nullopt;  // no class or vendor requests on endpoint 0
    switch (bRequest) {
    case 0x00:  // GET_STATUS
        if (!in)
            return std::nullopt;
        return truncated({0, 0});
    case 0x06: {  // GET_DESCRIPTOR
        if (!in)
            return std::nullopt;
        const uint8_t kind = wValue >> 8, index = wValue & 0xFF;
        if (kind == 0x01)
            return truncated(d.device);
        if (kind == 0x02 && index == 0)
            return truncated(d.config);
        if (kind == 0x03) {
            if (index == 0)
                return truncated({4, 0x03, 0x09, 0x04});
            const std::string* s = index == 1 ? &d.strings.manufacturer
                                 : index == 2 ? &d.strings.product
                                 : index == 3 ? &d.strings.serial
                                              : nullptr;
            if (!s || s->empty())
                return std::nullopt;
            return truncated(StringDescriptor(*s));
        }
        return std::nullopt;  // no device qualifier, BOS, ...
    }
    case 0x08:  // GET_CONFIGURATION
        if (!in)
            return std::nullopt;
        return truncated({1});
    case 0x0A:  // GET_INTERFACE
        if (!in)
            return std::nullopt;
        return truncated({0});
    case 0x01:  // CLEAR_FEATURE
    case 0x03:  // SET_FEATURE
    case 0x09:  // SET_CONFIGURATION
    case 0x0B:  // SET_INTERFACE
        if (in)
            return std::nullopt;
        return Bytes{};
    default: return std::nullopt;
    }
}

}  // namespace simmeter
