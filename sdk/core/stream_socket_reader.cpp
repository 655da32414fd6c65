#include "stream_socket_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "qrn_net.h"

namespace {

// Large remainders go straight to their destination; small ones through the
// read-ahead buffer, so one system call serves many headers and fragments.
constexpr uint32_t kDirectReadThreshold = 8 * 1024;
constexpr uint32_t kSkipChunk = 64 * 1024;

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int map_receive_failure(int result)
{
    if (result == 0)
        return QRN_ERR_CLOSED;
    if (result == QUARN_TIMEOUT)
        return QRN_ERR_TIMEOUT;
    return QRN_ERR_IO;
}

}  // namespace

int StreamSocketReader::read(uint8_t *out, uint32_t length)
{
    StreamAssembly &a = assembly_;
    const auto deadline =
        Clock::now() + std::chrono::seconds(timeout_.seconds) + std::chrono::microseconds(timeout_.microseconds);
    while (length > 0) {
        if (a.ahead_begin < a.ahead_end) {
            const uint32_t chunk = std::min(length, a.ahead_end - a.ahead_begin);
            std::memcpy(out, a.read_ahead.data() + a.ahead_begin, chunk);
            a.ahead_begin += chunk;
            out += chunk;
            length -= chunk;
            continue;
        }
        const bool direct = length >= kDirectReadThreshold;
        uint8_t *target = direct ? out : a.read_ahead.data();
        const int capacity = direct ? static_cast<int>(length) : kReadAheadSize;
        const int got = quarn_tcp_recv_some(socket_, target, capacity, milliseconds_left(deadline));
        if (got <= 0)
            return map_receive_failure(got);
        if (direct) {
            out += got;
            length -= static_cast<uint32_t>(got);
        } else {
            a.ahead_begin = 0;
            a.ahead_end = static_cast<uint32_t>(got);
        }
    }
    return QRN_OK;
}

int StreamSocketReader::skip(uint32_t length)
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
