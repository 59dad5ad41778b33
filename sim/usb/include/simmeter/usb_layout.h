// Pure pieces of the virtual bus: port chains, descriptors and the standard control requests
// of endpoint 0. No umockdev, no threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simmeter/wire.h"

namespace simmeter {

constexpr uint16_t kMeterVendorId = 0x4306;
constexpr uint16_t kMeterProductId = 0x5741;
constexpr uint8_t kMeterInEndpoint = 0x81;
constexpr uint8_t kMeterOutEndpoint = 0x01;
constexpr size_t kMaxPortDepth = 7;  // the deepest chain libusb reports port numbers for

// A position on the bus in sysfs notation: "1-3" is port 3 of root hub 1; "1-1.2.3" is port 3
// of the hub on port 2 of the hub on port 1 of root hub 1.
struct PortChain {
    int bus = 1;             // 1..127
    std::vector<int> ports;  // each 1..31, 1..kMaxPortDepth of them

    std::string Name() const;        // "1-1.2"
    std::string ParentName() const;  // "1-1", or "usb1" for a port of the root hub
    PortChain Parent() const;        // precondition: ports.size() > 1
    std::string DevPath() const;     // sysfs "devpath" attribute: "1.2"
    bool operator<(const PortChain& o) const;
    bool operator==(const PortChain& o) const;
};

// Parses "B-P[.P...]"; nullopt for anything else (no spaces, no leading zeros needed).
std::optional<PortChain> ParsePortChain(const std::string& s);

struct UsbStrings {
    std::string manufacturer, product, serial;
};

// What endpoint 0 serves for one device.
struct DescriptorSet {
    Bytes device;  // 18 bytes
    Bytes config;  // the whole configuration descriptor
    UsbStrings strings;
    bool isHub = false;

    // sysfs "descriptors": the device descriptor followed by the configuration.
    Bytes SysfsDescriptors() const;
};

// The meter: one configuration with one vendor-specific interface holding bulk IN 0x81 and
// bulk OUT 0x01 (512 bytes at high speed, 64 at full speed).
DescriptorSet MeterDescriptors(const UsbStrings& s, bool highSpeed);
// A 4-port hub: root hubs carry the kernel's root-hub ids; others a simulated hub id.
DescriptorSet HubDescriptors(bool root, int bus);

// A string descriptor (UTF-16LE of an ASCII text); index 0 is the language list.
Bytes StringDescriptor(const std::string& ascii);

// Answers a standard control request of endpoint 0 (setup packet as on the wire). Returns the
// data stage for IN requests (truncated to wLength), an empty vector for accepted OUT
// requests, nullopt for requests the device stalls.
std::optional<Bytes> StandardControl(const DescriptorSet& d, const uint8_t setup[8]);

}  // namespace simmeter
