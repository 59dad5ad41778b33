// The meter's byte frames, written from the meter's side.
//
// Request (host -> meter): 55 AA, u16 code, u16 length L, payload, u16 checksum.
// Reply   (meter -> host): AA 55, u16 code, u16 status, u16 length L, payload, u16 checksum.
// Every field is little-endian. The checksum is the XOR of all 16-bit words before it, so a
// frame carries 2 * floor(L / 2) payload bytes: with an odd L the checksum overwrites the last
// payload byte. The meter only ever sends even payloads.
//
// Everything here is pure and thread-compatible (no shared state).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace simmeter {

using Bytes = std::vector<uint8_t>;

namespace wire {

constexpr uint8_t kRequestByte0 = 0x55;  // request header on the wire: 55 AA
constexpr uint8_t kRequestByte1 = 0xAA;
constexpr uint8_t kReplyByte0 = 0xAA;  // reply header on the wire: AA 55
constexpr uint8_t kReplyByte1 = 0x55;
constexpr size_t kRequestOverhead = 8;  // header, code, length, checksum
constexpr size_t kReplyOverhead = 10;   // header, code, status, length, checksum
// Largest request payload the meter accepts; a header announcing more is taken as noise.
constexpr size_t kMaxRequestPayload = 8192;

// XOR of `words` little-endian 16-bit words starting at `data`.
uint16_t XorWords(const uint8_t* data, size_t words);

void PutU16(Bytes& out, uint16_t v);
void PutU32(Bytes& out, uint32_t v);
void PutF32(Bytes& out, float v);
void PutF64(Bytes& out, double v);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
float GetF32(const uint8_t* p);
double GetF64(const uint8_t* p);

// A request frame as the host would build it (used by tests and benchmarks to talk to the
// model; the real host code lives elsewhere and is not shared).
Bytes EncodeRequest(uint16_t code, const Bytes& payload = {});

// A reply frame. `lengthField` overrides the length word written into the header (used to
// simulate a corrupt length); the payload bytes and the checksum position still follow the
// real payload size.
Bytes EncodeReply(uint16_t code, uint16_t status, const Bytes& payload,
                  std::optional<uint16_t> lengthField = std::nullopt);

struct Request {
    uint16_t code = 0;
    uint16_t lengthField = 0;  // L as sent
    Bytes payload;             // the 2 * floor(L / 2) bytes the frame carries
};

// Cuts the host's byte stream into request frames. Bytes that do not start a request header
// are skipped, a frame with a wrong checksum is dropped by skipping its header and
// resynchronising, and a header announcing more than kMaxRequestPayload is skipped too.
class RequestDecoder {
public:
    void Feed(const uint8_t* data, size_t size);
    // The next complete, valid request, or nullopt when more bytes are needed.
    std::optional<Request> Next();
    // Bytes thrown away so far (noise, bad frames).
    size_t DiscardedBytes() const { return discarded_; }
    // Frames dropped for a checksum mismatch so far.
    size_t BadFrames() const { return badFrames_; }
    size_t Buffered() const { return buf_.size() - pos_; }
    void Reset();

private:
    void Compact();
    Bytes buf_;
    size_t pos_ = 0;
    size_t discarded_ = 0;
    size_t badFrames_ = 0;
};

struct Reply {
    uint16_t code = 0;
    uint16_t status = 0;
    uint16_t lengthField = 0;
    Bytes payload;
    bool checksumOk = false;
};

// Parses meter output for tests and benchmarks: skips leading bytes up to a reply header,
// then returns one frame. `consumed` receives the number of bytes used (including skipped
// ones); nullopt with consumed == 0 means more bytes are needed.
std::optional<Reply> DecodeReply(const uint8_t* data, size_t size, size_t* consumed);

// All replies in a complete byte stream, in order.
std::vector<Reply> DecodeReplies(const Bytes& stream);

}  // namespace wire
}  // namespace simmeter
