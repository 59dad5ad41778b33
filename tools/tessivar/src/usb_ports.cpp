#include "usb_ports.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tessivar::cli {
namespace {

bool allDigits(const std::string& s)
{
    if (s.empty() || s.size() > 3)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string readLine(const std::filesystem::path& p)
{
    std::ifstream f(p);
    std::string line;
    std::getline(f, line);
    return line;
}

}  // namespace

std::optional<PortPath> parsePortPath(const std::string& text)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos || !allDigits(text.substr(0, dash)))
        return std::nullopt;
    PortPath p;
    p.bus = std::stoi(text.substr(0, dash));
    size_t start = dash + 1;
    for (;;) {
        const size_t dot = text.find('.', start);
        const std::string part =
            text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!allDigits(part))
            return std::nullopt;
        const int port = std::stoi(part);
        if (port < 1 || port > 255)
            return std::nullopt;
        p.ports.push_back(port);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (p.ports.size() > 10)
        return std::nullopt;
    return p;
}

std::optional<int> idOfPorts(const std::vector<int>& ports)
{
    if (ports.empty() || ports.size() > 10)
        return std::nullopt;
    if (ports.size() <= 4) {
        uint32_t packed = 0;
        for (size_t i = 0; i < 4; ++i)
            packed = (packed << 8) | (i < ports.size() ? uint32_t(ports[i]) : 0u);
        return static_cast<int32_t>(packed) < 0 ? static_cast<int>(0u - packed)
                                                : static_cast<int>(packed);
    }
    long long value = 0;
    for (int port : ports) {
        for (char c : std::to_string(port)) {
            value = value * 10 + (c - '0');
            if (value > 0x7FFFFFFF)
                return std::nullopt;
        }
    }
    return static_cast<int>(value);
}

std::vector<int> portsOfId(int id)
{
    if (id <= 0)
        return {};
    std::vector<int> ports;
    const uint32_t packed = static_cast<uint32_t>(id);
    for (int shift = 24; shift >= 0; shift -= 8) {
        const int port = static_cast<int>((packed >> shift) & 0xFF);
        if (port == 0)
            break;
        ports.push_back(port);
    }
    // Only an id whose remaining bytes are zero is a path of up to four ports.
    if (ports.empty() || idOfPorts(ports) != id)
        return {};
    return ports;
}

UsbLocation locateMeter(int id, const std::string& sysfsRoot)
{
    UsbLocation where;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysfsRoot, ec)) {
        const std::string name = entry.path().filename().string();
        auto path = parsePortPath(name);
        if (!path || idOfPorts(path->ports) != id)
            continue;
        if (readLine(entry.path() / "idVendor") != "4306" ||
            readLine(entry.path() / "idProduct") != "5741")
            continue;
        where.portPath = name;
        const std::string bus = readLine(entry.path() / "busnum"),
                          dev = readLine(entry.path() / "devnum");
        if (!bus.empty() && !dev.empty()) {
            char node[64];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                          std::atoi(dev.c_str()));
            where.deviceNode = node;
        }
        break;
    }
    return where;
}

}  // namespace tessivar::cli
