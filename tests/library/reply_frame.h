// A reply frame as a meter sends it, for the unit tests of the receive side.
#pragma once

#include "protocol/frame.h"

#include <algorithm>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> Reply(uint16_t code, uint16_t status,
                                  const std::vector<uint8_t>& payload)
{
    using namespace tessivar::frame;
    std::vector<uint8_t> f(8 + payload.size() + 2);
    WriteU16(&f[0], kReplyHeader);
    WriteU16(&f[2], code);
    WriteU16(&f[4], status);
    WriteU16(&f[6], static_cast<uint16_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), f.begin() + 8);
    const int words = static_cast<int>(payload.size()) / 2 + 4;
    WriteU16(&f[2 * words], Checksum(f.data(), words));
    return f;
}
