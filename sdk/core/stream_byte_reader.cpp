#include "stream_byte_reader.h"

#include <algorithm>

#include "qrn_net.h"

namespace {
constexpr uint32_t kSkipChunk = 64 * 1024;
}  // namespace

int StreamByteReader::skip(uint32_t length)
{
    uint8_t sink[kSkipChunk];
    while (length > 0) {
        const uint32_t chunk = std::min<uint32_t>(length, sizeof sink);
        const int result = read(sink, chunk);
        if (result != QRN_OK)
            return result;
        length -= chunk;
    }
    return QRN_OK;
}
