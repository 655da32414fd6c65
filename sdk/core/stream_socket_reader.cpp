#include "stream_socket_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "qrn_net.h"

namespace {

// A remainder this large goes straight to its destination; a smaller one
// through the read-ahead buffer, so one system call serves many headers and
// small packets.
constexpr uint32_t kDirectReadThreshold = 8 * 1024;
// What a direct read takes on into the read-ahead: the next packet's header
// and the frame header that may open its payload.
constexpr int kNextHeaderRoom = 64;

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
        const auto receive = [&](int wait) {
            return direct ? quarn_tcp_recv_split(socket_, out, static_cast<int>(length), a.read_ahead.data(),
                                                 kNextHeaderRoom, wait)
                          : quarn_tcp_recv_some(socket_, a.read_ahead.data(), kReadAheadSize, wait);
        };
        int got = receive(0);
        if (got == QUARN_TIMEOUT) {  // nothing waiting: the poller hears of what came so far
            a.pending_wake.post();
            got = receive(milliseconds_left(deadline));
        }
        if (got <= 0)
            return map_receive_failure(got);
        const uint32_t taken = direct ? std::min(length, static_cast<uint32_t>(got)) : 0;
        out += taken;
        length -= taken;
        a.ahead_begin = 0;
        a.ahead_end = static_cast<uint32_t>(got) - taken;
    }
    return QRN_OK;
}
