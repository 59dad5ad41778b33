// Device id from a USB port path: pure, so both rules can be tested without a bus.
#pragma once

#include <cstdint>

namespace tessivar {

// Port numbers a device's path can hold (the buffer libusb fills) and how many of them
// still fit packed into one 32-bit id.
constexpr int kMaxPortNumbers = 10;
constexpr int kPackedPortNumbers = 4;

// `ports` is a zeroed buffer of kMaxPortNumbers port numbers of which `count` were filled (a negative
// count is a failed read and leaves the buffer zero).
// - count <= 4: the absolute value of the signed 32-bit number whose bytes, most
//   significant first, are ports 1 to 4 (root port 3 gives 3 << 24).
// - count 5 to 10: the decimal digits of the port numbers concatenated and read as a
//   decimal int, 0 when it does not fit.
int PortIdFromPorts(const uint8_t ports[kMaxPortNumbers], int count);

}  // namespace tessivar
