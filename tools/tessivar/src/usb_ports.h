// USB port paths of the meters, as the kernel names them ("1-1.2": bus 1, port 1 of the
// root hub, then port 2 of the hub there). The library derives a meter's id from its port
// numbers only (the bus is not part of it); these functions go from a path to that id and,
// on Linux, back from an id to the path through sysfs. Nothing here opens a meter.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessivar::cli {

// "1-1.2" -> bus 1, ports {1, 2}. Nothing for text of another shape or a port 0 / > 255.
struct PortPath {
    int bus = 0;
    std::vector<int> ports;
};
std::optional<PortPath> parsePortPath(const std::string& text);

// The id the library gives a meter at these ports (its rule: up to four ports are the
// bytes of the number, most significant first; five to ten ports are their decimal digits
// concatenated). Nothing when the ports give no valid id.
std::optional<int> idOfPorts(const std::vector<int>& ports);

// The port numbers an id stands for (up to four ports); empty when it is not such an id.
std::vector<int> portsOfId(int id);

// Looks for the meter (vendor 4306, product 5741) with this id under `sysfsRoot`
// (normally /sys/bus/usb/devices). Its kernel name ("1-1.2") and device node
// ("/dev/bus/usb/001/005"); empty strings when not found.
struct UsbLocation {
    std::string portPath;
    std::string deviceNode;
};
UsbLocation locateMeter(int id, const std::string& sysfsRoot = "/sys/bus/usb/devices");

}  // namespace tessivar::cli
