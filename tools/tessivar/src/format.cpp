#include "format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tessivar::cli {
namespace {

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

size_t displayWidth(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;  // count lead bytes only
    return n;
}

}  // namespace

double nanowattsToWatts(double nw) { return nw / 1e9; }  // division: 1000 nW is exactly 1e-06 W

std::optional<double> nanowattsToDbm(double nw)
{
    if (!std::isfinite(nw) || nw <= 0.0)
        return std::nullopt;
    return 10.0 * std::log10(nw) - 60.0;  // 1 mW = 1e6 nW
}

std::string formatTimestamp(int64_t ms, char separator)
{
    // Floor division so that times before the epoch still get a 0..999 fraction.
    int64_t seconds = ms / 1000;
    int64_t frac = ms % 1000;
    if (frac < 0) {
        frac += 1000;
        seconds -= 1;
    }
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm))
        return std::to_string(ms);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, separator, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(frac));
    return buf;
}

int localUtcOffsetSeconds(int64_t unixSeconds)
{
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

std::string formatUtcOffset(int offsetSeconds)
{
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const int a = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d:%02d", sign, a / 3600, (a / 60) % 60);
    return buf;
}

int64_t unixMsOf(int64_t localMs, int offsetSeconds)
{
    return localMs - static_cast<int64_t>(offsetSeconds) * 1000;
}

std::string formatIsoTime(int64_t localMs, int offsetSeconds)
{
    return formatTimestamp(localMs, 'T') + formatUtcOffset(offsetSeconds);
}

std::string formatWatts(double nw)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.7g", nanowattsToWatts(nw));
    return buf;
}

std::string formatPowerSi(double nw)
{
    if (!std::isfinite(nw))
        return std::string(std::isnan(nw) ? "nan" : nw > 0 ? "inf" : "-inf") + " W";
    double watts = nanowattsToWatts(nw);
    if (watts == 0.0)
        return "0 W";
    static const struct {
        double scale;
        const char* unit;
    } kUnits[] = {{1.0, "W"}, {1e-3, "mW"}, {1e-6, "µW"}, {1e-9, "nW"}, {1e-12, "pW"}};
    const double mag = std::fabs(watts);
    const auto* chosen = &kUnits[4];
    for (const auto& u : kUnits) {
        // With 5 significant digits 999.995 of the smaller unit already prints as
        // "1000.0"; from there on the larger unit is used.
        if (mag >= u.scale * 0.999995) {
            chosen = &u;
            break;
        }
    }
    const double v = watts / chosen->scale;
    const double av = std::fabs(v);
    const int decimals = av >= 100.0 ? 2 : av >= 10.0 ? 3 : 4;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", decimals, v, chosen->unit);
    return buf;
}

std::string formatDbm(double nw)
{
    auto dbm = nanowattsToDbm(nw);
    if (!dbm)
        return "- dBm";
    return fixed(*dbm, 3) + " dBm";
}

std::string readingLine(const Sample& s)
{
    return formatTimestamp(s.timeMs) + "  " + formatPowerSi(s.powerNw) + "  " +
           formatDbm(s.powerNw);
}

std::string csvHeader() { return "unix_ms,local_ms,time,power_w,power_dbm\n"; }

std::string csvRow(const Sample& s, int utcOffsetSeconds)
{
    std::string row = std::to_string(unixMsOf(s.timeMs, utcOffsetSeconds));
    row += ',';
    row += std::to_string(s.timeMs);
    row += ',';
    row += formatIsoTime(s.timeMs, utcOffsetSeconds);
    row += ',';
    if (std::isfinite(s.powerNw))
        row += formatWatts(s.powerNw);
    row += ',';
    if (auto dbm = nanowattsToDbm(s.powerNw))
        row += fixed(*dbm, 4);
    row += '\n';
    return row;
}

std::string jsonReading(const Sample& s, int utcOffsetSeconds)
{
    auto dbm = nanowattsToDbm(s.powerNw);
    return jsonObject({
        {"unix_ms", std::to_string(unixMsOf(s.timeMs, utcOffsetSeconds))},
        {"local_ms", std::to_string(s.timeMs)},
        {"time", jsonString(formatIsoTime(s.timeMs, utcOffsetSeconds))},
        {"power_w", std::isfinite(s.powerNw) ? formatWatts(s.powerNw) : "null"},
        {"power_dbm", dbm ? fixed(*dbm, 4) : "null"},
    });
}

std::string jsonlRow(const Sample& s, int utcOffsetSeconds)
{
    return jsonReading(s, utcOffsetSeconds) + "\n";
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonObject(const std::vector<std::pair<std::string, std::string>>& members)
{
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        if (i)
            out += ',';
        out += jsonString(members[i].first) + ":" + members[i].second;
    }
    return out + "}";
}

std::string formatTable(const std::vector<std::string>& headers,
                        const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths(headers.size(), 0);
    auto widen = [&](const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i >= widths.size())
                widths.push_back(0);
            widths[i] = std::max(widths[i], displayWidth(cells[i]));
        }
    };
    widen(headers);
    for (const auto& r : rows)
        widen(r);

    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < cells.size() ? cells[i] : std::string();
            out += cell;
            if (i + 1 < widths.size())
                out.append(widths[i] - displayWidth(cell) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out + '\n';
    };
    std::string out = line(headers);
    std::vector<std::string> rule;
    for (size_t w : widths)
        rule.push_back(std::string(w, '-'));
    out += line(rule);
    for (const auto& r : rows)
        out += line(r);
    return out;
}

std::string formatFields(const std::vector<std::pair<std::string, std::string>>& fields)
{
    size_t width = 0;
    for (const auto& f : fields)
        width = std::max(width, displayWidth(f.first));
    std::string out;
    for (const auto& f : fields) {
        out += f.first + ":";
        out.append(width - displayWidth(f.first) + 2, ' ');
        out += f.second + "\n";
    }
    return out;
}

std::string printableText(const char* bytes, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0)
            break;
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string plural(uint64_t n, const std::string& noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string progressLine(uint64_t samples, double seconds, std::optional<double> lastNw)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%llu samples  %.1f s", static_cast<unsigned long long>(samples),
                  seconds);
    std::string out = buf;
    if (lastNw)
        out += "  " + formatPowerSi(*lastNw);
    return out;
}

}  // namespace tessivar::cli
