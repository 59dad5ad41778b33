// The receive buffer of one device: bytes from the meter go in, complete frames come
// out, garbage is dropped with re-synchronisation on the next header. Pure code: no
// threads, no USB, no logging; what happens is reported through RxEvents.
//
// The buffer is consumed with a cursor and compacted once per Process call, so a read
// that brings many frames costs one move of the remaining bytes, not one per frame.
#pragma once

#include <cstdint>
#include <vector>

namespace tessivar {

class RxEvents {
public:
    virtual ~RxEvents() = default;
    // A complete frame (not yet verified) of `size` bytes.
    virtual void OnFrame(const uint8_t* frame, int size) = 0;
    // `count` leading bytes were dropped while looking for the next header.
    virtual void OnHeadRemoved(const uint8_t* dropped, int count) = 0;
    // A header announced `expected` bytes (more than the protocol allows); the whole
    // buffer of `size` bytes is dropped.
    virtual void OnOverlong(int expected, const uint8_t* buffer, int size) = 0;
};

class RxBuffer {
public:
    void Append(const uint8_t* data, int size);

    // One turn: hands out every complete frame at the front; on a bad header drops the
    // bytes up to the next header candidate and stops (the rest waits for the next turn);
    // on an incomplete frame waits, unless its announced length is impossible, which
    // clears the buffer.
    void Process(RxEvents& events);

    int Size() const { return static_cast<int>(bytes_.size() - start_); }
    const uint8_t* Data() const { return bytes_.data() + start_; }
    int ExpectedLength() const { return expected_; }
    void Clear();

private:
    // Drops leading bytes up to the next 0xAA that is followed by 0x55 or ends the buffer.
    void RemoveHead(RxEvents& events);

    std::vector<uint8_t> bytes_;
    std::size_t start_ = 0;  // cursor: bytes before it are consumed
    int expected_ = 0;       // frame length announced by the header at the cursor
};

}  // namespace tessivar
