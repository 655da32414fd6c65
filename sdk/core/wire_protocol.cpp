#include "wire_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "PPPP_API.h"
#include "byte_order.h"
#include "p2p_command_channel.h"
#include "qrn_net.h"
#include "stream_channel_reader.h"
#include "stream_reader.h"
#include "trace.h"

namespace {

constexpr uint16_t kCodeReboot = 0x8007;
constexpr uint16_t kCodeReset = 0x8008;
constexpr uint16_t kCodeI2cGet = 0x5002;
constexpr int kStreamChannel = 2;
constexpr int kP2pWriteStalled = -3;  // the module stopped reading
constexpr int kPacketBuffer = kHeaderSize + kMaxRequestPayload;
// Enough to recognise a payload in a trace without flooding the terminal.
constexpr int kTracedPayloadBytes = 64;

bool has_magic(const uint8_t *in)
{
    return in[0] == 'Q' && in[1] == 'R' && in[2] == 'N';
}

void put_magic(uint8_t *out)
{
    out[0] = 'Q';
    out[1] = 'R';
    out[2] = 'N';
}

// Closes the per-command connection on every way out.
class SocketGuard {
public:
    explicit SocketGuard(int socket) : socket_(socket) {}
    ~SocketGuard() { quarn_socket_close(socket_); }
    SocketGuard(const SocketGuard &) = delete;
    SocketGuard &operator=(const SocketGuard &) = delete;

private:
    int socket_;
};

int receive_header(int socket, uint8_t *header, quarn_timeval *timeout)
{
    int result;
    do
        result = quarn_tcp_recv_timeout(socket, header, kHeaderSize, timeout);
    while (result == QUARN_RETRY);
    if (result == 0)
        return QRN_ERR_CLOSED;
    return result < 0 ? result : 0;
}

int lan_transaction(SessionContext *session, uint16_t code, const uint8_t *packet, int packet_length, void *response,
                    int response_capacity, int *response_length_out)
{
    const int socket = quarn_tcp_connect(session->address, session->command_port, session->command_timeout.seconds);
    if (socket < 0)
        return QRN_ERR_TIMEOUT;
    SocketGuard guard(socket);
    if (quarn_tcp_send(socket, packet, packet_length) < 0)
        return QRN_ERR_IO;
    if (!response)
        return QRN_OK;

    uint8_t raw[kHeaderSize] = {};
    quarn_timeval timeout = session->command_timeout;
    const int received = receive_header(socket, raw, &timeout);
    if (received == QRN_ERR_CLOSED)
        return QRN_ERR_MALFORMED;
    if (received < 0)
        return received;
    CommandHeader header;
    if (!decode_command_header(raw, &header) || header.code != code)
        return QRN_ERR_MALFORMED;
    if (header.token != session->token)
        return QRN_ERR_OTHER_SESSION;
    if (header.status != 0)
        return QRN_ERR_FAILED;
    if (header.length > static_cast<uint32_t>(response_capacity))
        return QRN_ERR_TOO_LONG;
    *response_length_out = static_cast<int>(header.length);
    if (header.length == 0)
        return QRN_OK;
    timeout = session->command_timeout;
    if (quarn_tcp_recv_timeout(socket, response, static_cast<int>(header.length), &timeout) !=
        static_cast<int>(header.length))
        return QRN_ERR_IO;
    return QRN_OK;
}

int p2p_transaction(SessionContext *session, uint16_t code, const uint8_t *packet, int packet_length, void *response,
                    int response_capacity, int *response_length_out)
{
    const int written = p2p_write_command(session, packet, packet_length);
    if (written != QRN_OK || !response)
        return written;
    CommandHeader header;
    uint8_t payload[kP2pPayloadSize];
    const int result = p2p_read_response(session, code, session->token, &header, payload, sizeof payload);
    if (result != QRN_OK)
        return result;
    if (header.status != 0)
        return QRN_ERR_FAILED;
    if (header.length > static_cast<uint32_t>(response_capacity))
        return QRN_ERR_TOO_LONG;
    if (response_length_out)
        *response_length_out = static_cast<int>(header.length);
    std::memcpy(response, payload, header.length);
    return QRN_OK;
}

// Channel 2 carries the host's data; the layer's failures as the callers
// know them.
int p2p_send_stream(SessionContext *session, const uint8_t *header, const void *data, int length)
{
    if (session->p2p_session < 0)
        return QRN_ERR_FAILED;
    const auto failure = [](int result) {
        if (result == -13 || result == kP2pWriteStalled)
            return QRN_ERR_TIMEOUT;
        return p2p_session_gone(result) ? QRN_ERR_CLOSED : QRN_ERR_FAILED;
    };
    int result = PPPP_Write(session->p2p_session, kStreamChannel, header, kHeaderSize);
    if (result < 0)
        return failure(result);
    qrn_trace("\n______send data:[%s] len:[%d]_____", escaped_bytes(data, length, kTracedPayloadBytes).c_str(), length);
    if (length > 0)
        result = PPPP_Write(session->p2p_session, kStreamChannel, data, length);
    return result < 0 ? failure(result) : QRN_OK;
}

}  // namespace

void encode_command_header(uint8_t *out, const CommandHeader &header)
{
    put_magic(out);
    out[3] = 0;
    put_u16le(out + 4, header.code);
    put_u16le(out + 6, header.status);
    put_u32le(out + 8, header.token);
    put_u32le(out + 12, header.length);
}

bool decode_command_header(const uint8_t *in, CommandHeader *header)
{
    header->code = get_u16le(in + 4);
    header->status = get_u16le(in + 6);
    header->token = get_u32le(in + 8);
    header->length = get_u32le(in + 12);
    return has_magic(in);
}

uint32_t magic_search(const uint8_t *window, uint32_t length, uint32_t from)
{
    static const uint8_t kMagic[3] = {'Q', 'R', 'N'};
    for (uint32_t start = from; start < length; ++start) {
        const uint32_t compared = std::min<uint32_t>(3, length - start);
        if (std::memcmp(window + start, kMagic, compared) == 0)
            return start;
    }
    return length;
}

void encode_stream_header(uint8_t *out, const StreamHeader &header)
{
    put_magic(out);
    out[3] = header.sub_code;
    put_u32le(out + 4, header.token);
    out[8] = header.type;
    out[9] = header.fragment_count;
    out[10] = header.fragment_index;
    out[11] = 0;
    put_u32le(out + 12, header.length);
}

bool decode_stream_header(const uint8_t *in, StreamHeader *header)
{
    header->sub_code = in[3];
    header->token = get_u32le(in + 4);
    header->type = in[8];
    header->fragment_count = in[9];
    header->fragment_index = in[10];
    header->length = get_u32le(in + 12);
    return has_magic(in);
}

int command_transaction(SessionContext *session, uint16_t code, const void *request, int request_length, void *response,
                        int response_capacity, int *response_length_out)
{
    if (request_length < 0 || request_length > kMaxRequestPayload || (request_length > 0 && !request))
        return QRN_ERR_BAD_STRING;
    const quarn_timeval remembered = session->command_timeout;
    uint8_t packet[kPacketBuffer] = {};
    encode_command_header(packet, {code, 0, session->token, static_cast<uint32_t>(request_length)});
    if (request_length > 0)
        std::memcpy(packet + kHeaderSize, request, static_cast<size_t>(request_length));

    int result;
    if (session->address_kind == kAddressKindIp) {
        int ignored = 0;
        result = lan_transaction(session, code, packet, kHeaderSize + request_length, response, response_capacity,
                                 response_length_out ? response_length_out : &ignored);
    } else {
        result = p2p_transaction(session, code, packet, kHeaderSize + request_length, response, response_capacity,
                                 response_length_out);
    }
    if (session->connected)
        session->command_timeout = remembered;
    return result;
}

int command_query(SessionContext *session, uint16_t code, void *buffer, int *length_in_out)
{
    const int request_length = code == kCodeI2cGet ? *length_in_out : 0;
    CommandLock lock(session);
    return command_transaction(session, code, code == kCodeI2cGet ? buffer : nullptr, request_length, buffer,
                               *length_in_out, length_in_out);
}

int command_send(SessionContext *session, uint16_t code, const void *payload, int payload_length)
{
    CommandLock lock(session);
    if (code == CMD_LOGOUT || code == kCodeReboot || code == kCodeReset)
        return command_transaction(session, code, payload, payload_length, nullptr, 0, nullptr);
    uint8_t dropped[kMaxRequestPayload];
    int length = 0;
    return command_transaction(session, code, payload, payload_length, dropped, sizeof dropped, &length);
}

int send_stream_data(SessionContext *session, uint8_t type, const void *data, int length)
{
    if (length < 0 || (length > 0 && !data))
        return QRN_ERR_NULL_POINTER;
    uint8_t header[kHeaderSize];
    encode_stream_header(header, {0, session->token, type, 1, 0, static_cast<uint32_t>(length)});
    CommandLock lock(session);
    if (session->address_kind != kAddressKindIp)
        return p2p_send_stream(session, header, data, length);
    const int socket = borrow_data_socket(session);
    if (socket < 0)
        return socket;
    // A module that stops reading fills the socket's buffer: the packet gets
    // the stream time-out to go out, so the command lock is never held for
    // longer, and the time-out is the caller's answer.
    const quarn_timeval &timeout = session->stream_timeout;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout.seconds) +
                          std::chrono::microseconds(timeout.microseconds);
    const auto ms_left = [&deadline] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    };
    int sent = 0;
    int result = quarn_tcp_send_timeout(socket, header, kHeaderSize, ms_left(), &sent);
    int data_sent = 0;
    if (result >= 0) {
        qrn_trace("\n______send data:[%s] len:[%d]_____", escaped_bytes(data, length, kTracedPayloadBytes).c_str(),
                  length);
        result = quarn_tcp_send_timeout(socket, data, length, ms_left(), &data_sent);
    }
    const int total = sent + data_sent;
    return_data_socket(session, result < 0 && total > 0 && total < kHeaderSize + length);
    if (result == QUARN_TIMEOUT)
        return QRN_ERR_TIMEOUT;
    return result < 0 ? QRN_ERR_FAILED : QRN_OK;
}
