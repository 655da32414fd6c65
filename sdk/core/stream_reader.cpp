#include "stream_reader.h"

#include <algorithm>
#include <cstring>

#include "frame_assembly.h"
#include "qrn_net.h"
#include "stream_channel_reader.h"
#include "stream_socket_reader.h"
#include "trace.h"
#include "wire_protocol.h"

namespace {

constexpr int kStreamReceiveTimeoutSeconds = 3;

int stream_timeout_ms(const SessionContext *session)
{
    return session->stream_timeout.seconds * 1000 + session->stream_timeout.microseconds / 1000;
}

struct BlockBuffer {
    uint8_t *start;
    uint32_t *fill;
    uint32_t capacity;  // bytes from start
};

// Where a block of this type goes; false for a type that is no block.
bool block_buffer_for(StreamAssembly &a, uint8_t type, BlockBuffer *out)
{
    switch (type) {
    case STREAM_AUDIO:
        *out = {a.audio.data(), &a.audio_fill, kAudioBufferSize};
        return true;
    case STREAM_SERIAL:
        // The first four bytes receive the block length.
        *out = {a.serial.data() + 4, &a.serial_fill, kSerialBufferSize - 4};
        return true;
    case STREAM_PARAM_CHANGE:
        *out = {a.param_change.data(), &a.param_change_length, kParamChangeAreaSize};
        return true;
    default:
        return false;
    }
}

uint32_t block_bit(uint8_t type)
{
    return 1u << type;
}

// Forgets the frame or block of this type that is being put together and
// reads past the rest of it, up to the next first fragment.
void drop_assembly(StreamAssembly &a, uint8_t type)
{
    BlockBuffer block;
    if (type == STREAM_VIDEO || type == STREAM_PICTURE) {
        FrameAssembly &frame = type == STREAM_VIDEO ? a.video : a.picture;
        reset_frame(frame);
        frame.discarding = true;
    } else if (block_buffer_for(a, type, &block)) {
        *block.fill = 0;
        a.blocks_discarding |= block_bit(type);
    }
}

// Reads a payload past, so the stream stays in step; -1 once it is read.
int skip_payload(const StreamHeader &header, StreamByteReader &reader)
{
    const int result = reader.skip(header.length);
    return result == QRN_OK ? QRN_ERR_FAILED : result;
}

// Audio, serial and parameter-change payloads go into their fixed buffers.
int append_block_fragment(StreamAssembly &a, const StreamHeader &header, StreamByteReader &reader)
{
    BlockBuffer to;
    if (!block_buffer_for(a, header.type, &to))
        return skip_payload(header, reader);  // an unknown type
    if (header.fragment_index == 0) {
        *to.fill = 0;  // a first fragment starts a new block, whatever came before
        a.blocks_discarding &= ~block_bit(header.type);
    }
    if ((a.blocks_discarding & block_bit(header.type)) || header.length > to.capacity - *to.fill) {
        drop_assembly(a, header.type);  // more than its buffer holds, or part of a dropped block
        return skip_payload(header, reader);
    }
    if (header.type == STREAM_PARAM_CHANGE)
        qrn_trace("param change packlen:%d\n", static_cast<int>(header.length));
    const int result = reader.read(to.start + *to.fill, header.length);
    if (result != QRN_OK)
        return result;
    *to.fill += header.length;
    if (header.type == STREAM_SERIAL && header.fragment_index + 1 == header.fragment_count) {
        std::memcpy(a.serial.data(), &a.serial_fill, 4);
        a.serial_fill += 4;
    }
    return QRN_OK;
}

// The module's address, as the session holds it, is the only peer the
// stream connection may come from.
bool is_module_address(const SessionContext *session, const char *peer)
{
    int ours[4];
    int theirs[4];
    return std::sscanf(session->address, "%d.%d.%d.%d", &ours[0], &ours[1], &ours[2], &ours[3]) == 4 &&
           std::sscanf(peer, "%d.%d.%d.%d", &theirs[0], &theirs[1], &theirs[2], &theirs[3]) == 4 &&
           std::equal(ours, ours + 4, theirs);
}

// Closes the data socket, or, while a send uses it, shuts it down and leaves
// the close to the sender. The caller holds socket_mutex.
void release_data_socket(SessionContext *session)
{
    if (session->data_socket >= 0 && session->data_send_in_flight) {
        quarn_socket_shutdown(session->data_socket);
        session->retired_data_socket = session->data_socket;
    } else {
        quarn_socket_close(session->data_socket);
    }
    session->data_socket = -1;
    session->data_channel_up = 0;
}

// One packet from either transport. A header without the magic ends the
// read with -9; resynchronising (P2P) keeps the bytes from where a magic may
// begin, and the next read completes that header.
int read_packet(SessionContext *session, StreamByteReader &reader, bool resynchronise, uint8_t *type_out)
{
    StreamAssembly &a = session->stream;
    const uint32_t held = a.header_held;
    a.header_held = 0;
    std::memset(a.header + held, 0, kHeaderSize - held);
    int result = reader.read(a.header + held, kHeaderSize - held);
    if (result != QRN_OK)
        return result;
    StreamHeader header;
    if (!decode_stream_header(a.header, &header)) {
        if (resynchronise) {
            const uint32_t start = magic_search(a.header, kHeaderSize, 0);
            a.header_held = kHeaderSize - start;
            std::memmove(a.header, a.header + start, a.header_held);
        }
        return QRN_ERR_MALFORMED;
    }
    if (header.token != session->token)
        return QRN_ERR_OTHER_SESSION;

    if (header.fragment_count == 0 || header.fragment_index >= header.fragment_count) {
        // Part of no frame: whatever it would have joined is lost.
        drop_assembly(a, header.type);
        return skip_payload(header, reader);
    }
    if (header.type == STREAM_VIDEO || header.type == STREAM_PICTURE) {
        result = append_frame_fragment(header.type == STREAM_VIDEO ? a.video : a.picture, header, reader,
                                       session->spare_elements);
    } else {
        result = append_block_fragment(a, header, reader);
    }
    if (result == QRN_ERR_TIMEOUT || result == QRN_ERR_IO)
        drop_assembly(a, header.type);  // a payload cut short: its frame or block cannot be whole
    if (result != QRN_OK)
        return result;
    if (header.fragment_index + 1 < header.fragment_count)
        return kMoreFragments;
    *type_out = header.type;
    return QRN_OK;
}

}  // namespace

bool accept_stream(SessionContext *session)
{
    const int listening = session->listen_socket;
    if (listening < 0)
        return false;
    char peer[16] = {};
    const int socket = quarn_tcp_accept_timeout(listening, peer, stream_timeout_ms(session));
    if (socket < 0)
        return false;
    if (!is_module_address(session, peer)) {
        // Anyone can reach the data port: only the module may hold it.
        quarn_socket_close(socket);
        return false;
    }
    quarn_tcp_setrecvtimeout(socket, kStreamReceiveTimeoutSeconds, 0);
    quarn_tcp_setkeepalive(socket, 1, 2, 2, 3);
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    if (!session->receive_running) {
        quarn_socket_close(socket);
        return false;
    }
    session->stream.ahead_begin = session->stream.ahead_end = 0;
    session->data_socket = socket;
    session->data_send_out_of_step = 0;
    session->data_channel_up = 1;
    return true;
}

int read_stream_packet(SessionContext *session, uint8_t *type_out)
{
    if (session->address_kind == kAddressKindDeviceId) {
        StreamChannelReader reader(session);
        return read_packet(session, reader, true, type_out);
    }
    const int socket = session->data_socket;
    if (socket < 0)
        return QRN_ERR_CLOSED;
    StreamSocketReader reader(session->stream, socket, session->stream_timeout);
    return read_packet(session, reader, false, type_out);
}

bool stream_channel_up(const SessionContext *session)
{
    return session->data_channel_up != 0;
}

void drop_stream_connection(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    release_data_socket(session);
}

void close_stream_sockets(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    quarn_socket_close(session->listen_socket);
    session->listen_socket = -1;
    release_data_socket(session);
}

int borrow_data_socket(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    if (!session->data_channel_up || session->data_socket < 0)
        return QRN_ERR_FAILED;
    if (session->data_send_out_of_step)
        return QRN_ERR_IO;
    session->data_send_in_flight = 1;
    return session->data_socket;
}

void return_data_socket(SessionContext *session, bool left_out_of_step)
{
    std::lock_guard<std::mutex> guard(session->socket_mutex);
    session->data_send_in_flight = 0;
    if (session->retired_data_socket >= 0) {
        quarn_socket_close(session->retired_data_socket);
        session->retired_data_socket = -1;
    } else if (left_out_of_step) {
        session->data_send_out_of_step = 1;
    }
}
