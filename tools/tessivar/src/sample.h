// One power reading as the command-line tool handles it. Mirrors the library's PowerData
// (time stamp in local wall-clock milliseconds since the Unix epoch, power in nanowatts)
// so that the pure units need neither the library nor its header.
#pragma once

#include <cstdint>

namespace tessivar::cli {

struct Sample {
    int64_t timeMs = 0;    // local wall-clock ms since 1970-01-01 (UTC plus the local offset)
    double powerNw = 0.0;  // the library's value, nanowatts
};

}  // namespace tessivar::cli
