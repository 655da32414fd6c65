// Packet headers and the command exchange every family uses.
#pragma once

#include <cstdint>

#include "session_context.h"

constexpr int kHeaderSize = 16;
constexpr int kMaxRequestPayload = 1008;  // the packet is built in 1024 bytes
constexpr int kLoginPayloadSize = 308;
constexpr int kLoginEncryptField = 32;
constexpr uint16_t kStatusLoginRefused = 0xFFF3;

enum CommandCode : uint16_t {
    CMD_LOGIN = 0x0001,
    CMD_LOGOUT = 0x0002,
    CMD_GET_COMPANY = 0x000C,
    CMD_SET_ENCRYPT = 0x000D,
    CMD_SET_BCAST_ECHO_PASSWD = 0x000E,
    CMD_FORCE_KEY_FRAME = 0x1019,
    CMD_SET_CUSTOM = 0xF000,
    CMD_GET_CUSTOM = 0xF001,
};

enum StreamType : uint8_t {
    STREAM_VIDEO = 0,
    STREAM_PICTURE = 1,
    STREAM_AUDIO = 2,
    STREAM_SERIAL = 3,
    STREAM_PARAM_CHANGE = 4,
};

struct CommandHeader {
    uint16_t code;
    uint16_t status;
    uint32_t token;
    uint32_t length;
};

struct StreamHeader {
    uint8_t sub_code;
    uint32_t token;
    uint8_t type;
    uint8_t fragment_count;
    uint8_t fragment_index;
    uint32_t length;
};

void encode_command_header(uint8_t *out, const CommandHeader &header);
// False when the magic is not "QRN".
bool decode_command_header(const uint8_t *in, CommandHeader *header);
// The first offset from `from` on where the magic begins, or where the
// bytes to the end of the window are its first letters; length when none.
uint32_t magic_search(const uint8_t *window, uint32_t length, uint32_t from);
void encode_stream_header(uint8_t *out, const StreamHeader &header);
bool decode_stream_header(const uint8_t *in, StreamHeader *header);

// The caller holds the command lock. response NULL: send and return 0 at
// once. A response payload larger than response_capacity is refused with
// -17 and nothing is written to response.
int command_transaction(SessionContext *session, uint16_t code, const void *request, int request_length, void *response,
                        int response_capacity, int *response_length_out);
// Takes the command lock. Only 0x5002 sends the first *length_in_out bytes
// of buffer; *length_in_out is the capacity in and the answer's length out.
int command_query(SessionContext *session, uint16_t code, void *buffer, int *length_in_out);
// Takes the command lock; waits for the answer and drops its payload, except
// for logout, reboot and reset, which are not awaited.
int command_send(SessionContext *session, uint16_t code, const void *payload, int payload_length);
// Takes the command lock and writes one stream packet on the stream
// connection within the stream time-out. 0; -1 no stream connection (or a
// send failure); -2 the time ran out (the module stopped reading); -4 an
// earlier send stopped inside a packet, so this connection can carry no more;
// over P2P -6 when the session is gone.
int send_stream_data(SessionContext *session, uint8_t type, const void *data, int length);
