#include "soak_checks.h"

#include <algorithm>
#include <cmath>

namespace soak {

std::vector<double> MeterPowers(int index)
{
    // One geometric ladder over all meters' steps, 6 % per rung: a value within kMatchRel
    // of one rung is far from every other.
    std::vector<double> powers;
    for (int k = 0; k < kStepsPerMeter; ++k)
        powers.push_back(std::round(10000.0 * std::pow(1.06, index * kStepsPerMeter + k)));
    return powers;
}

Match Classify(double valueNw, int recorded, int meters)
{
    if (std::fabs(valueNw) < kMatchAbsNw)
        return {Origin::Zero, -1};
    for (int m = 0; m < meters; ++m) {
        for (double p : MeterPowers(m)) {
            if (std::fabs(valueNw - p) <= p * kMatchRel + kMatchAbsNw)
                return {m == recorded ? Origin::Recorded : Origin::OtherMeter, m};
        }
    }
    return {Origin::Unknown, -1};
}

Departure DepartureAt(int e, int meters)
{
    if (meters <= 1)
        return {0, e % 2 == 0};
    if (e % 2 == 0)
        return {0, (e / 2) % 2 == 0};
    const int k = e / 2;  // departures of the other meters so far
    const int others = meters - 1;
    return {1 + k % others, (k / others) % 2 == 1};
}

int NextFreePort(const std::vector<int>& taken, int current, int portCount)
{
    for (int step = 1; step <= portCount; ++step) {
        const int port = (current - 1 + step) % portCount + 1;
        if (std::find(taken.begin(), taken.end(), port) == taken.end())
            return port;
    }
    return -1;
}

std::vector<int64_t> RowsInAbsence(const std::vector<Row>& rows, const Absence& a, int64_t endTick)
{
    const int64_t from = a.unplugTick + kStaleAllowanceTicks;  // exclusive
    const int64_t to = a.backTick < 0 ? endTick + 1 : a.backTick - kObserveSlackTicks;
    std::vector<int64_t> inside;
    auto it = std::upper_bound(rows.begin(), rows.end(), from,
                               [](int64_t n, const Row& r) { return n < r.number; });
    for (; it != rows.end() && it->number < to; ++it)
        inside.push_back(it->number);
    return inside;
}

Numbering CheckNumbering(const std::vector<Row>& rows)
{
    Numbering out;
    for (size_t i = 1; i < rows.size(); ++i) {
        const int64_t step = rows[i].number - rows[i - 1].number;
        if (step <= 0) {
            if (out.firstDisorder < 0)
                out.firstDisorder = static_cast<int64_t>(i);
        } else {
            out.skipped += step - 1;
        }
    }
    return out;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid),
                     values.end());
    return values[mid];
}

double Largest(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::string Describe(const Match& m)
{
    switch (m.origin) {
    case Origin::Recorded: return "the recorded meter's";
    case Origin::Zero: return "zero";
    case Origin::OtherMeter: return "meter " + std::to_string(m.meter) + "'s";
    case Origin::Unknown: break;
    }
    return "no meter's";
}

}  // namespace soak
