// Text output of `tessivar`: pure functions from values to strings. Numbers are always
// written with '.' as decimal separator (the C locale; the tool never changes it), so
// CSV and JSON Lines files read back the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sample.h"

namespace tessivar::cli {

// Power unit conversions. The library's value is in nanowatts.
double nanowattsToWatts(double nw);
// dBm = 10 log10(P / 1 mW); nothing for a power that is not above zero or not finite
// (after zero compensation small negative readings are normal).
std::optional<double> nanowattsToDbm(double nw);

// "2026-01-15 08:30:05.042" from the library's time stamp (local wall-clock ms since the
// epoch, so it is broken down without any further time-zone shift). `separator` goes
// between date and time ('T' for ISO 8601 in data files).
std::string formatTimestamp(int64_t ms, char separator = ' ');

// Power with an SI prefix and 5 significant digits: "1.0002 µW", "-3.1000 nW", "0 W".
std::string formatPowerSi(double nw);
// "-29.999 dBm", or "- dBm" when the power is not above zero.
std::string formatDbm(double nw);

// One human-readable reading line (read command): time, power, dBm.
std::string readingLine(const Sample& s);

// Data file rows, each ending with '\n'. CSV columns: time_ms, time, power_w, power_dbm.
std::string csvHeader();
std::string csvRow(const Sample& s);
// {"time_ms":...,"time":"...","power_w":...,"power_dbm":...}; null for a missing value.
std::string jsonlRow(const Sample& s);

// Text table: headers, a rule of dashes, rows; columns padded to the widest cell
// (display width: counts UTF-8 code points), separated by two spaces, no trailing blanks.
std::string formatTable(const std::vector<std::string>& headers,
                        const std::vector<std::vector<std::string>>& rows);

// "Label:  value" lines with the values aligned after the longest label.
std::string formatFields(const std::vector<std::pair<std::string, std::string>>& fields);

// Bytes that came from the meter made safe for a terminal: stops at the first zero byte,
// keeps printable ASCII, writes every other byte as \xHH.
std::string printableText(const char* bytes, size_t n);

// Progress line for a running stream (without line end): "1234 samples  12.3 s  1.0002 µW".
std::string progressLine(uint64_t samples, double seconds, std::optional<double> lastNw);

}  // namespace tessivar::cli
