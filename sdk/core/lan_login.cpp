#include "lan_login.h"

#include <cstring>
#include <mutex>
#include <random>

#include "byte_order.h"
#include "qrn_net.h"
#include "wire_protocol.h"

namespace {

constexpr int kLoginConnectMs = 2500;
// Enough for a busy host to find a free pair; when no socket can be made at
// all (descriptors exhausted) every attempt fails, and the search must end.
constexpr int kPortPairAttempts = 64;
constexpr uint32_t kFullLoginPayload = 336;
constexpr uint32_t kMaxLoginPayload = 4096;
constexpr uint32_t kVersionWithoutPayload = 0x200;

int random_port()
{
    static std::mutex lock;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    return 2048 + static_cast<int>(generator() % 62000);
}

// The device connects back to the command port's source port with its two
// bytes swapped, plus one; both ports are bound before the connect. False,
// with nothing left open, when no pair could be bound.
bool bind_port_pair(int *command_socket, int *data_socket)
{
    for (int attempt = 0; attempt < kPortPairAttempts; ++attempt) {
        const int port = random_port();
        const int data_port = ((port & 0xFF) << 8 | (port >> 8 & 0xFF)) + 1;
        if (data_port < 1024 || data_port > 65535)
            continue;
        const int a = quarn_tcp_bindprot(port);
        if (a < 0)
            continue;
        const int b = quarn_tcp_bindprot(data_port);
        if (b < 0) {
            quarn_socket_close(a);
            continue;
        }
        *command_socket = a;
        *data_socket = b;
        return true;
    }
    return false;
}

// A silent module is a time-out, as a connect that is never answered.
int receive_failure(int result)
{
    return result == QUARN_TIMEOUT ? QRN_ERR_TIMEOUT : QRN_ERR_IO;
}

int exchange_login(SessionContext *session, int socket)
{
    uint8_t packet[kHeaderSize + kLoginPayloadSize];
    const int length = build_login_packet(session, packet);
    if (quarn_tcp_send(socket, packet, length) < 0)
        return QRN_ERR_IO;

    uint8_t raw[kHeaderSize];
    int result;
    quarn_timeval timeout{2, 0};
    do
        result = quarn_tcp_recv_timeout(socket, raw, kHeaderSize, &timeout);
    while (result == QUARN_RETRY);
    if (result != kHeaderSize)
        return receive_failure(result);
    CommandHeader header;
    if (!decode_command_header(raw, &header) || header.code != CMD_LOGIN)
        return QRN_ERR_IO;
    if (header.status == kStatusLoginRefused)
        return QRN_ERR_LOGIN_REFUSED;
    uint8_t payload[kMaxLoginPayload];
    uint32_t payload_length = 0;
    if (header.status == 0 && header.length > 0) {
        if (header.length > kMaxLoginPayload)
            return QRN_ERR_IO;
        timeout = {2, 0};
        result = quarn_tcp_recv_timeout(socket, payload, static_cast<int>(header.length), &timeout);
        if (result != static_cast<int>(header.length))
            return receive_failure(result);
        payload_length = header.length;
    }
    session->token = header.token;
    apply_login_payload(session, payload, payload_length);
    return QRN_OK;
}

}  // namespace

int build_login_packet(const SessionContext *session, uint8_t *packet)
{
    const size_t encrypt_length = std::strlen(session->encrypt);
    const uint32_t payload_length = encrypt_length ? kLoginPayloadSize : 0;
    std::memset(packet, 0, kHeaderSize + kLoginPayloadSize);
    encode_command_header(packet, {CMD_LOGIN, 0, 0, payload_length});
    if (payload_length) {
        uint8_t *payload = packet + kHeaderSize;
        std::memcpy(payload, session->encrypt, encrypt_length);
        std::memcpy(payload + 32, "Windows", 7);
        std::memcpy(payload + 44, session->user, std::strlen(session->user));
    }
    return kHeaderSize + static_cast<int>(payload_length);
}

void apply_login_payload(SessionContext *session, const uint8_t *payload, uint32_t length)
{
    const uint32_t version = length >= 4 ? get_u32le(payload) : kVersionWithoutPayload;
    session->protocol_version = version;
    session->protocol_version_decimal = (version >> 16) + ((version >> 8) & 0xFF) / 10.0 + (version & 0xFF) / 100.0;
    if (length != kFullLoginPayload)
        return;
    DeviceInformation &info = session->device_info;
    std::memcpy(info.mac, payload + 24, 6);
    std::memcpy(info.record + 4, payload + 30, 20);
    std::memcpy(info.record, payload + 52, 4);
    session->peer_max_frame = get_u32le(payload + 56);
    info.valid = 1;
}

int lan_login(SessionContext *session)
{
    int command_socket = -1;
    int data_socket = -1;
    if (!bind_port_pair(&command_socket, &data_socket))
        return QRN_ERR_LISTEN;

    const int connected =
        quarn_tcp_connectbysockfd(command_socket, session->address, session->command_port, kLoginConnectMs);
    if (connected < 0) {
        quarn_socket_close(command_socket);
        quarn_socket_close(data_socket);
        return connected == -2 ? QRN_ERR_TIMEOUT : QRN_ERR_CONNECT;
    }
    const int result = exchange_login(session, command_socket);
    quarn_socket_close(command_socket);
    if (result != QRN_OK) {
        quarn_socket_close(data_socket);
        return result;
    }
    if (quarn_tcp_listenbysockfd(data_socket) < 0) {
        command_send(session, CMD_LOGOUT, nullptr, 0);
        quarn_socket_close(data_socket);
        return QRN_ERR_LISTEN;
    }
    session->listen_socket = data_socket;
    session->trans_mode = TRANS_LAN;
    return QRN_OK;
}
