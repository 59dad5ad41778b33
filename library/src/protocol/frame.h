// Request and reply frames of the meter protocol: pure functions over bytes.
//
// Request (host to meter):  55 AA | code | L | payload | checksum     (8 + 2*floor(L/2) bytes)
// Reply   (meter to host):  AA 55 | code | status | L | payload | checksum  (10 + 2*floor(L/2))
// Every field is a little-endian 16-bit word; the checksum is the XOR of all words
// before it.
#pragma once

#include <cstdint>

namespace tessivar::frame {

constexpr uint16_t kRequestHeader = 0xAA55;  // bytes 55 AA on the wire
constexpr uint16_t kReplyHeader = 0x55AA;    // bytes AA 55 on the wire
constexpr int kRequestOverhead = 8;
constexpr int kReplyOverhead = 10;
// Byte offsets of the fields; the code sits at the same place in both directions.
constexpr int kCodeOffset = 2;
constexpr int kRequestLengthOffset = 4;
constexpr int kRequestPayloadOffset = 6;
constexpr int kReplyStatusOffset = 4;
constexpr int kReplyLengthOffset = 6;
constexpr int kReplyPayloadOffset = 8;
// A header announcing a longer frame than this is treated as corrupt.
constexpr int kMaxExpectedLength = 8192;

enum CheckResult : int {
    kComplete = 0,
    kIncomplete = 1,
    kBadHeader = 2,
    kTooShort = 3,
    kNoBuffer = 4,
};

enum VerifyResult : int {
    kValid = 0,
    kNoFrame = -1,
    kBadStatus = -2,
    kBadChecksum = -3,
};

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void WriteU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// XOR of `count` little-endian 16-bit words starting at `words`.
uint16_t Checksum(const uint8_t* words, int count);

// Writes a request frame into `buffer` (at least 8 + len bytes) and returns its length.
// -1 for a null buffer; 0 (and a debug message) when len > 0 but data is null.
// An odd len is not used by any command; the checksum then overwrites the last byte.
int BuildFrame(uint8_t* buffer, uint16_t code, const void* data, int len);

// Length of the request frame BuildFrame writes for a payload of `len` bytes.
constexpr int RequestFrameLength(int len) { return kRequestOverhead + 2 * (len / 2); }

// Examines the start of a receive buffer. On kIncomplete and kComplete, *expected holds
// the whole frame length the header announces; it is left alone otherwise.
int CheckFrame(const uint8_t* bytes, int size, int* expected);

// Validates a complete reply frame of `size` bytes (as CheckFrame announced it).
int VerifyFrame(const uint8_t* frame, int size);

}  // namespace tessivar::frame
