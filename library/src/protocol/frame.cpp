#include "protocol/frame.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace tessivar::frame {

uint16_t Checksum(const uint8_t* words, int count)
{
    uint16_t sum = 0;
    for (int i = 0; i < count; ++i)
        sum ^= ReadU16(words + 2 * i);
    return sum;
}

int BuildFrame(uint8_t* buffer, uint16_t code, const void* data, int len)
{
    if (!buffer)
        return -1;
    if (len < 0)
        len = 0;
    WriteU16(buffer, kRequestHeader);
    WriteU16(buffer + kCodeOffset, code);
    WriteU16(buffer + kRequestLengthOffset, static_cast<uint16_t>(len));
    if (len > 0) {
        if (!data) {
            qDebug().noquote() << "DataLen > 0, but pData == nullptr";
            return 0;
        }
        std::memcpy(buffer + kRequestPayloadOffset, data, static_cast<std::size_t>(len));
    }
    // Header, code, length and the payload's words come before the checksum.
    const int words = kRequestPayloadOffset / 2 + len / 2;
    WriteU16(buffer + 2 * words, Checksum(buffer, words));
    return RequestFrameLength(len);
}

int CheckFrame(const uint8_t* bytes, int size, int* expected)
{
    if (!bytes)
        return kNoBuffer;
    if (size < kReplyPayloadOffset)
        return kTooShort;  // the length field is not there yet
    if (ReadU16(bytes) != kReplyHeader)
        return kBadHeader;
    const int len = ReadU16(bytes + kReplyLengthOffset);
    const int total = kReplyOverhead + 2 * (len / 2);
    if (expected)
        *expected = total;
    const int availableWords = std::min(size, 65535) / 2;
    return total / 2 > availableWords ? kIncomplete : kComplete;
}

int VerifyFrame(const uint8_t* frame, int size)
{
    if (!frame || size < kReplyOverhead)
        return kNoFrame;
    if (ReadU16(frame + kReplyStatusOffset) != 0)
        return kBadStatus;
    const int words = kReplyPayloadOffset / 2 + ReadU16(frame + kReplyLengthOffset) / 2;
    if (2 * words + 2 > size)
        return kNoFrame;
    return ReadU16(frame + 2 * words) == Checksum(frame, words) ? kValid : kBadChecksum;
}

}  // namespace tessivar::frame
