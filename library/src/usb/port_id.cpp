#include "usb/port_id.h"

#include <string>

namespace tessivar {

int PortIdFromPorts(const uint8_t ports[kMaxPortNumbers], int count)
{
    if (count <= kPackedPortNumbers) {
        const uint32_t packed = (uint32_t{ports[0]} << 24) | (uint32_t{ports[1]} << 16) |
                                (uint32_t{ports[2]} << 8) | uint32_t{ports[3]};
        // Negate in unsigned arithmetic: a first port of 128 or more gives a negative
        // number, and negating INT_MIN as a signed value would be undefined.
        return static_cast<int32_t>(packed) < 0 ? static_cast<int>(0u - packed)
                                                : static_cast<int>(packed);
    }
    std::string digits;
    for (int i = 0; i < count && i < kMaxPortNumbers; ++i)
        digits += std::to_string(ports[i]);
    long long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > 0x7FFFFFFF)
            return 0;
    }
    return static_cast<int>(value);
}

}  // namespace tessivar
