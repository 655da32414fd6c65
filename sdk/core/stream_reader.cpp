#include "stream_reader.h"

#include <cstring>

#include "frame_assembly.h"
#include "qrn_net.h"
#include "stream_socket_reader.h"
#include "trace.h"
#include "wire_protocol.h"

namespace {

constexpr int kStreamReceiveTimeoutSeconds = 3;

int stream_timeout_ms(const SessionContext *session)
{
    return session->stream_timeout.seconds * 1000 + session->stream_timeout.microseconds / 1000;
}

struct Destination {
    uint8_t *start;
    uint32_t *fill;
    uint32_t capacity;  // bytes from start
};

// Where a block of this type goes; start NULL for an unknown type.
Destination destination_for(StreamAssembly &a, uint8_t type)
{
    switch (type) {
    case STREAM_AUDIO:
        return {a.audio.data(), &a.audio_fill, kAudioBufferSize};
    case STREAM_SERIAL:
        // The first four bytes receive the block length.
        return {a.serial.data() + 4, &a.serial_fill, kSerialBufferSize - 4};
    case STREAM_PARAM_CHANGE:
        return {a.param_change.data(), nullptr, kParamChangeAreaSize};
    default:
        return {nullptr, nullptr, 0};
    }
}

// Audio, serial and parameter-change payloads go into their fixed buffers.
int append_block_fragment(StreamAssembly &a, const StreamHeader &header, StreamSocketReader &reader)
{
    Destination to = destination_for(a, header.type);
    if (to.fill && header.fragment_index == 0)
        *to.fill = 0;  // a first fragment starts a new block, whatever came before
    const uint32_t offset = to.fill ? *to.fill : 0;
    if (!to.start || header.length > to.capacity - offset) {
        // Unknown type, or more than its buffer holds: consume it and drop
        // the block it belonged to.
        if (to.fill)
            *to.fill = 0;
        const int result = reader.skip(header.length);
        a.header_held = 0;
        return result == QRN_OK ? QRN_ERR_FAILED : result;
    }
    if (header.type == STREAM_PARAM_CHANGE) {
        qrn_trace("param change packlen:%d\n", static_cast<int>(header.length));
        a.param_change_length += header.length;
    }
    const int result = reader.read(to.start + offset, header.length);
    if (result != QRN_OK)
        return result;
    if (to.fill) {
        *to.fill += header.length;
        if (header.type == STREAM_SERIAL && header.fragment_index + 1 == header.fragment_count) {
            std::memcpy(a.serial.data(), &a.serial_fill, 4);
            a.serial_fill += 4;
        }
    }
    return QRN_OK;
}

}  // namespace

bool accept_stream(SessionContext *session)
{
    const int listening = session->listen_socket;
    if (listening < 0)
        return false;
    const int socket = quarn_tcp_accept_timeout(listening, nullptr, stream_timeout_ms(session));
    if (socket < 0)
        return false;
    quarn_tcp_setrecvtimeout(socket, kStreamReceiveTimeoutSeconds, 0);
    quarn_tcp_setkeepalive(socket, 1, 2, 2, 3);
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    if (!session->receive_running) {
        quarn_socket_close(socket);
        return false;
    }
    session->stream.ahead_begin = session->stream.ahead_end = 0;
    session->data_socket = socket;
    session->data_channel_up = 1;
    return true;
}

int read_stream_packet(SessionContext *session, uint8_t *type_out)
{
    StreamAssembly &a = session->stream;
    const int socket = session->data_socket;
    if (socket < 0)
        return QRN_ERR_CLOSED;
    StreamSocketReader reader(a, socket, session->stream_timeout);
    std::memset(a.header, 0, kHeaderSize);
    int result = reader.read(a.header, kHeaderSize);
    if (result != QRN_OK)
        return result;
    StreamHeader header;
    if (!decode_stream_header(a.header, &header))
        return QRN_ERR_MALFORMED;
    if (header.token != session->token)
        return QRN_ERR_OTHER_SESSION;

    a.header_held = 1;
    if (header.type == STREAM_VIDEO || header.type == STREAM_PICTURE) {
        result = append_frame_fragment(header.type == STREAM_VIDEO ? a.video : a.picture, header, reader,
                                       session->spare_elements);
    } else {
        result = append_block_fragment(a, header, reader);
    }
    if (result != QRN_OK)
        return result;
    a.header_held = 0;
    if (header.fragment_count > 0 && header.fragment_count - 1 > header.fragment_index)
        return kMoreFragments;
    *type_out = header.type;
    return QRN_OK;
}

void drop_stream_connection(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    quarn_socket_close(session->data_socket);
    session->data_socket = -1;
    session->data_channel_up = 0;
}

void close_stream_sockets(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    quarn_socket_close(session->listen_socket);
    quarn_socket_close(session->data_socket);
    session->listen_socket = -1;
    session->data_socket = -1;
    session->data_channel_up = 0;
}
