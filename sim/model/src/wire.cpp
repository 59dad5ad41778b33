#include "simmeter/wire.h"

#include <cstring>

namespace simmeter {
namespace wire {

uint16_t XorWords(const uint8_t* data, size_t words)
{
    uint16_t x = 0;
    for (size_t i = 0; i < words; ++i)
        x ^= GetU16(data + 2 * i);
    return x;
}

void PutU16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes& out, uint32_t v)
{
    PutU16(out, static_cast<uint16_t>(v & 0xFFFF));
    PutU16(out, static_cast<uint16_t>(v >> 16));
}

void PutF32(Bytes& out, float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    PutU32(out, bits);
}

void PutF64(Bytes& out, double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    PutU32(out, static_cast<uint32_t>(bits & 0xFFFFFFFFu));
    PutU32(out, static_cast<uint32_t>(bits >> 32));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(GetU16(p)) | (static_cast<uint32_t>(GetU16(p + 2)) << 16);
}

float GetF32(const uint8_t* p)
{
    uint32_t bits = GetU32(p);
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double GetF64(const uint8_t* p)
{
    uint64_t bits = static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

Bytes EncodeRequest(uint16_t code, const Bytes& payload)
{
    const size_t carried = payload.size() / 2 * 2;
    Bytes f;
    f.reserve(kRequestOverhead + carried);
    f.push_back(kRequestByte0);
    f.push_back(kRequestByte1);
    PutU16(f, code);
    PutU16(f, static_cast<uint16_t>(payload.size()));
    f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(carried));
    PutU16(f, XorWords(f.data(), f.size() / 2));
    return f;
}

Bytes EncodeReply(uint16_t code, uint16_t status, const Bytes& payload,
                  std::optional<uint16_t> lengthField)
{
    const size_t carried = payload.size() / 2 * 2;
    Bytes f;
    f.reserve(kReplyOverhead + carried);
    f.push_back(kReplyByte0);
    f.push_back(kReplyByte1);
    PutU16(f, code);
    PutU16(f, status);
    PutU16(f, lengthField ? *lengthField : static_cast<uint16_t>(payload.size()));
    f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(carried));
    PutU16(f, XorWords(f.data(), f.size() / 2));
    return f;
}

void RequestDecoder::Feed(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    Compact();
    buf_.insert(buf_.end(), data, data + size);
}

void RequestDecoder::Reset()
{
    discarded_ += buf_.size() - pos_;
    buf_.clear();
    pos_ = 0;
}

void RequestDecoder::Compact()
{
    if (pos_ == 0)
        return;
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
}

std::optional<Request> RequestDecoder::Next()
{
    for (;;) {
        const size_t avail = buf_.size() - pos_;
        const uint8_t* p = buf_.data() + pos_;
        if (avail < 2)
            return std::nullopt;
        if (p[0] != kRequestByte0 || p[1] != kRequestByte1) {
            ++pos_;
            ++discarded_;
            continue;
        }
        if (avail < 6)
            return std::nullopt;
        const uint16_t len = GetU16(p + 4);
        if (len > kMaxRequestPayload) {
            pos_ += 2;
            discarded_ += 2;
            continue;
        }
        const size_t carried = static_cast<size_t>(len) / 2 * 2;
        const size_t total = kRequestOverhead + carried;
        if (avail < total)
            return std::nullopt;
        const uint16_t sum = GetU16(p + 6 + carried);
        if (sum != XorWords(p, 3 + carried / 2)) {
            // Skip only the header: the real frame may start inside the broken one.
            pos_ += 2;
            discarded_ += 2;
            ++badFrames_;
            continue;
        }
        Request r;
        r.code = GetU16(p + 2);
        r.lengthField = len;
        r.payload.assign(p + 6, p + 6 + carried);
        pos_ += total;
        if (pos_ == buf_.size()) {
            buf_.clear();
            pos_ = 0;
        }
        return r;
    }
}

std::optional<Reply> DecodeReply(const uint8_t* data, size_t size, size_t* consumed)
{
    *consumed = 0;
    size_t start = 0;
    while (start + 1 < size && !(data[start] == kReplyByte0 && data[start + 1] == kReplyByte1)) {
        ++start;
    }
    if (start + kReplyOverhead > size)
        return std::nullopt;
    const uint8_t* p = data + start;
    const uint16_t len = GetU16(p + 6);
    const size_t carried = static_cast<size_t>(len) / 2 * 2;
    const size_t total = kReplyOverhead + carried;
    if (start + total > size)
        return std::nullopt;
    Reply r;
    r.code = GetU16(p + 2);
    r.status = GetU16(p + 4);
    r.lengthField = len;
    r.payload.assign(p + 8, p + 8 + carried);
    r.checksumOk = GetU16(p + 8 + carried) == XorWords(p, 4 + carried / 2);
    *consumed = start + total;
    return r;
}

std::vector<Reply> DecodeReplies(const Bytes& stream)
{
    std::vector<Reply> out;
    size_t off = 0;
    for (;;) {
        size_t used = 0;
        auto r = DecodeReply(stream.data() + off, stream.size() - off, &used);
        if (!r)
            break;
        out.push_back(std::move(*r));
        off += used;
    }
    return out;
}

}  // namespace wire
}  // namespace simmeter
