#include "protocol/rx_buffer.h"

#include "protocol/frame.h"

namespace tessivar {

void RxBuffer::Append(const uint8_t* data, int size)
{
    if (data && size > 0)
        bytes_.insert(bytes_.end(), data, data + size);
}

void RxBuffer::Clear()
{
    bytes_.clear();
    start_ = 0;
    expected_ = 0;
}

void RxBuffer::Process(RxEvents& events)
{
    while (Size() > 0) {
        const int check = frame::CheckFrame(Data(), Size(), &expected_);
        if (check == frame::kComplete) {
            const int length = expected_;
            const uint8_t* frameStart = Data();
            expected_ = 0;
            start_ += static_cast<std::size_t>(length);
            events.OnFrame(frameStart, length);
            continue;
        }
        if (check == frame::kBadHeader) {
            RemoveHead(events);
        } else if (expected_ > frame::kMaxExpectedLength) {
            events.OnOverlong(expected_, Data(), Size());
            Clear();
        }
        break;
    }
    // Compact once per turn.
    if (start_ == bytes_.size()) {
        bytes_.clear();
        start_ = 0;
    } else if (start_ > 0) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
}

void RxBuffer::RemoveHead(RxEvents& events)
{
    const uint8_t* data = Data();
    const int size = Size();
    int drop = size;
    for (int p = 1; p < size; ++p) {
        if (data[p] == 0xAA && (p + 1 == size || data[p + 1] == 0x55)) {
            drop = p;
            break;
        }
    }
    events.OnHeadRemoved(data, drop);
    start_ += static_cast<std::size_t>(drop);
}

}  // namespace tessivar
