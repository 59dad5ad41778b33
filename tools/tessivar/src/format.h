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

// The library stamps samples with local wall-clock time counted from the epoch, taken
// once per open and then advanced by the meter's clock. The offset of local time from
// UTC at that open (seconds east of Greenwich) turns a stamp into true Unix time and
// into ISO 8601 with its offset; it stays valid for the whole open, even across a
// daylight-saving change, because the stamps do not jump with the wall clock.
int localUtcOffsetSeconds(int64_t unixSeconds);
// "+01:00", "-03:30", "+00:00".
std::string formatUtcOffset(int offsetSeconds);
// Unix time in ms of a library stamp.
int64_t unixMsOf(int64_t localMs, int offsetSeconds);
// "2026-01-15T08:30:05.042+01:00": the stamp's local time with its UTC offset.
std::string formatIsoTime(int64_t localMs, int offsetSeconds);

// Power with an SI prefix and 5 significant digits: "1.0002 µW", "-3.1000 nW", "0 W".
std::string formatPowerSi(double nw);
// "-29.999 dBm", or "- dBm" when the power is not above zero.
std::string formatDbm(double nw);

// One human-readable reading line (read command): time, power, dBm.
std::string readingLine(const Sample& s);

// Data file rows, each ending with '\n'. CSV columns:
//   unix_ms    true Unix time in ms (UTC)
//   local_ms   the library's stamp: local wall-clock ms counted from 1970-01-01
//   time       ISO 8601 local time with its UTC offset
//   power_w    7 significant digits; empty when not finite
//   power_dbm  4 decimals; empty when the power is not above zero
std::string csvHeader();
std::string csvRow(const Sample& s, int utcOffsetSeconds);
// {"unix_ms":...,"local_ms":...,"time":"...","power_w":...,"power_dbm":...}; null for a
// missing value. Without the line end: jsonReading.
std::string jsonlRow(const Sample& s, int utcOffsetSeconds);
std::string jsonReading(const Sample& s, int utcOffsetSeconds);
// Power in W with 7 significant digits ("2.500123e-06").
std::string formatWatts(double nw);

// A JSON string literal (quotes included) for text from the meter or the user.
std::string jsonString(const std::string& text);
// A JSON object from keys and already encoded values, in the given order.
std::string jsonObject(const std::vector<std::pair<std::string, std::string>>& members);

// Text table: headers, a rule of dashes, rows; columns padded to the widest cell
// (display width: counts UTF-8 code points), separated by two spaces, no trailing blanks.
std::string formatTable(const std::vector<std::string>& headers,
                        const std::vector<std::vector<std::string>>& rows);

// "Label:  value" lines with the values aligned after the longest label.
std::string formatFields(const std::vector<std::pair<std::string, std::string>>& fields);

// Bytes that came from the meter made safe for a terminal: stops at the first zero byte,
// keeps printable ASCII, writes every other byte as \xHH.
std::string printableText(const char* bytes, size_t n);

// "1 sample", "3 samples".
std::string plural(uint64_t n, const std::string& noun);

// Progress line for a running stream (without line end): "1234 samples  12.3 s  1.0002 µW".
std::string progressLine(uint64_t samples, double seconds, std::optional<double> lastNw);

}  // namespace tessivar::cli
