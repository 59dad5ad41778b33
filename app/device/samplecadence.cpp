#include "samplecadence.h"

#include <algorithm>

void SampleCadence::Add(qint64 stampMs)
{
    if (haveLast_ && stampMs > last_) {
        gaps_[static_cast<std::size_t>(next_)] = stampMs - last_;
        next_ = (next_ + 1) % kWindow;
        count_ = std::min(count_ + 1, kWindow);
    }
    if (!haveLast_ || stampMs > last_) {
        last_ = stampMs;
        haveLast_ = true;
    }
}

qint64 SampleCadence::IntervalMs() const
{
    if (count_ == 0)
        return 0;
    std::array<qint64, kWindow> sorted = gaps_;
    auto end = sorted.begin() + count_;
    auto mid = sorted.begin() + count_ / 2;
    std::nth_element(sorted.begin(), mid, end);
    return *mid;
}

qint64 SampleCadence::StaleAfterMs() const
{
    return std::clamp(IntervalMs() * kIntervalsPerLimit, kMinStaleMs, kMaxStaleMs);
}
