#include "p2p_command_channel.h"

#include <algorithm>
#include <cstring>

#include "PPPP_API.h"
#include "qrn_base.h"
#include "qrn_net.h"
#include "stream_channel_reader.h"

namespace {

constexpr int kCommandChannel = 1;
constexpr int kPppTimeout = -3;
constexpr int kReadTimeoutMs = 2000;
// No answer is this long: a header announcing more is no header, and the
// search for the magic goes on after its first byte.
constexpr uint32_t kMaxAnswerPayload = 64 * 1024;

int write_failure(int result)
{
    if (result == -11 || result == -12)
        return QRN_ERR_CONNECT;
    if (result == -13)
        return QRN_ERR_IO;
    return QRN_ERR_FAILED;
}

// Keeps the window's bytes from where a header may begin.
void resynchronise(P2pResponseReader &r, uint32_t from)
{
    const uint32_t start = magic_search(r.window, r.header_held, from);
    r.header_held -= start;
    std::memmove(r.window, r.window + start, r.header_held);
}

// A whole header in the window: its payload is now expected.
void take_header(P2pResponseReader &r)
{
    CommandHeader header;
    if (!decode_command_header(r.window, &header)) {
        resynchronise(r, 0);
        return;
    }
    if (header.length > kMaxAnswerPayload) {
        resynchronise(r, 1);
        return;
    }
    r.payload_length = header.length;
    r.payload_expected = header.length;
    r.complete = header.length == 0;
}

// One read on channel 1; a read that timed out keeps what it got and costs
// its whole time-out. 0, or the layer's failure.
int read_some(SessionContext *session, uint8_t *into, uint32_t wanted, uint32_t *got, int *elapsed)
{
    int size = static_cast<int>(wanted);
    const int result = PPPP_Read(session->p2p_session, kCommandChannel, into, &size, kReadTimeoutMs);
    if (result != 0 && result != kPppTimeout)
        return result;
    *got = static_cast<uint32_t>(std::max(size, 0));
    if (result == kPppTimeout)
        *elapsed += kReadTimeoutMs;
    return 0;
}

// Reads what is waiting into the header window or the payload. 0 (with
// *progressed when a byte came), or the layer's failure.
int advance(SessionContext *session, uint32_t waiting, int *elapsed, bool *progressed)
{
    P2pResponseReader &r = session->p2p_reader;
    *progressed = false;
    uint32_t got = 0;
    if (r.payload_expected == 0) {
        // Only as much as the header still lacks, so a resynchronised window
        // is completed by the bytes that follow it.
        const uint32_t wanted = kHeaderSize - r.header_held;
        if (waiting < wanted)
            return 0;
        const int result = read_some(session, r.window + r.header_held, wanted, &got, elapsed);
        if (result != 0)
            return result;
        r.header_held += got;
        *progressed = got > 0;
        if (r.header_held == kHeaderSize)
            take_header(r);
        return 0;
    }
    if (waiting == 0)
        return 0;
    // Up to the payload buffer; the rest of a longer payload is read past.
    uint8_t sink[1024];
    const uint32_t room = kP2pPayloadSize - std::min<uint32_t>(r.payload_held, kP2pPayloadSize);
    const bool keep = room > 0;
    const uint32_t wanted = std::min({waiting, r.payload_expected, keep ? room : static_cast<uint32_t>(sizeof sink)});
    const int result = read_some(session, keep ? r.payload + r.payload_held : sink, wanted, &got, elapsed);
    if (result != 0)
        return result;
    if (keep)
        r.payload_held += got;
    r.payload_expected -= got;
    r.complete = r.payload_expected == 0;
    *progressed = got > 0;
    return 0;
}

}  // namespace

int p2p_write_command(const SessionContext *session, const uint8_t *packet, int length)
{
    if (session->p2p_session < 0)
        return QRN_ERR_FAILED;
    const int result = PPPP_Write(session->p2p_session, kCommandChannel, packet, length);
    return result < 0 ? write_failure(result) : QRN_OK;
}

int p2p_read_response(SessionContext *session, uint16_t code, uint32_t token, CommandHeader *header, uint8_t *payload,
                      uint32_t capacity)
{
    P2pResponseReader &r = session->p2p_reader;
    const int budget = session->command_timeout.seconds * 1000 + session->command_timeout.microseconds / 1000;
    int elapsed = 0;
    for (;;) {
        unsigned write_size = 0;
        unsigned waiting = 0;
        const int check = PPPP_Check_Buffer(session->p2p_session, kCommandChannel, &write_size, &waiting);
        if (check != 0)
            return p2p_session_gone(check) ? QRN_ERR_CLOSED : check;
        if (elapsed > budget)
            return QRN_ERR_TIMEOUT;
        bool progressed = false;
        const int result = advance(session, waiting, &elapsed, &progressed);
        if (result != 0)
            return p2p_session_gone(result) ? QRN_ERR_CLOSED : result;
        if (r.complete) {
            CommandHeader answer;
            decode_command_header(r.window, &answer);
            const bool whole = r.payload_held == r.payload_length;
            const bool wanted = answer.code == code && (token == 0 || answer.token == token);
            if (wanted && whole && answer.length <= capacity)
                std::memcpy(payload, r.payload, answer.length);
            r.clear();
            if (!wanted)
                continue;  // another command's answer, or one that came too late
            if (!whole || answer.length > capacity)
                return QRN_ERR_TOO_LONG;
            *header = answer;
            return QRN_OK;
        }
        if (!progressed) {
            quarn_sleep_ms(1);
            ++elapsed;
        }
    }
}
