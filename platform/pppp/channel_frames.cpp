#include "channel_frames.h"

#include <algorithm>

namespace pppp {
namespace {

constexpr uint8_t kData = 0x01;
constexpr uint8_t kCredit = 0x02;

size_t header_size(uint8_t type)
{
    return type == kData ? 3 : type == kCredit ? 5 : 0;
}

}  // namespace

void append_data_frame(std::vector<uint8_t> &out, const uint8_t *payload, size_t length)
{
    out.push_back(kData);
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), payload, payload + length);
}

void append_credit_frame(std::vector<uint8_t> &out, uint32_t bytes)
{
    out.push_back(kCredit);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(bytes >> shift));
}

bool FrameParser::feed(const uint8_t *bytes, size_t length, Sink &sink)
{
    while (length > 0) {
        if (mPayloadLeft > 0) {
            size_t n = std::min(length, mPayloadLeft);
            if (!sink.on_data(bytes, n))
                return false;
            bytes += n;
            length -= n;
            mPayloadLeft -= n;
            continue;
        }
        if (mHeaderFill == 0 && header_size(bytes[0]) == 0)
            return false;
        size_t wanted = header_size(mHeader[0] = mHeaderFill ? mHeader[0] : bytes[0]);
        size_t n = std::min(length, wanted - mHeaderFill);
        std::copy(bytes, bytes + n, mHeader + mHeaderFill);
        mHeaderFill += n;
        bytes += n;
        length -= n;
        if (mHeaderFill < wanted)
            continue;
        mHeaderFill = 0;
        if (mHeader[0] == kData) {
            mPayloadLeft = size_t(mHeader[1]) << 8 | mHeader[2];
            if (mPayloadLeft == 0 || mPayloadLeft > kMaxFramePayload)
                return false;
        } else {
            uint32_t credit =
                uint32_t(mHeader[1]) << 24 | uint32_t(mHeader[2]) << 16 | uint32_t(mHeader[3]) << 8 | mHeader[4];
            if (credit == 0 || credit > kChannelWindow || !sink.on_credit(credit))
                return false;
        }
    }
    return true;
}

}  // namespace pppp
