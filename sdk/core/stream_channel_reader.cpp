#include "stream_channel_reader.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "PPPP_API.h"
#include "qrn_net.h"

namespace {

constexpr int kStreamChannel = 2;
constexpr int kPppTimeout = -3;
constexpr int kReadSliceMs = 500;

using Clock = std::chrono::steady_clock;

}  // namespace

bool p2p_session_gone(int result)
{
    return result <= -11 && result >= -14;
}

// A blocking read with a time-out rather than polling the buffer level:
// it returns as soon as the bytes are there, and it never waits for more
// than the layer is willing to buffer for a channel.
int StreamChannelReader::read(uint8_t *out, uint32_t length)
{
    const quarn_timeval &timeout = session_->stream_timeout;
    const auto patience = std::chrono::seconds(timeout.seconds) + std::chrono::microseconds(timeout.microseconds);
    // The time-out counts from the last byte: a slow path that keeps
    // delivering never cuts a large payload short.
    auto deadline = Clock::now() + patience;
    uint32_t got = 0;
    int wait_ms = 0;  // first look at what is already there
    while (got < length) {
        if (!session_->receive_running)
            return QRN_ERR_CLOSED;
        int size = static_cast<int>(std::min<uint32_t>(length - got, INT_MAX));
        const int result = PPPP_Read(session_->p2p_session, kStreamChannel, out + got, &size, wait_ms);
        if (result != 0 && result != kPppTimeout)
            return p2p_session_gone(result) ? QRN_ERR_CLOSED : QRN_ERR_IO;
        got += static_cast<uint32_t>(std::max(size, 0));
        if (result == 0 || got >= length)
            continue;
        if (size > 0)
            deadline = Clock::now() + patience;
        if (wait_ms == 0)
            session_->stream.pending_wake.post();  // nothing more waiting: the poller hears of what came so far
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return QRN_ERR_TIMEOUT;
        wait_ms = static_cast<int>(std::min<long long>(left, kReadSliceMs));
    }
    return QRN_OK;
}
