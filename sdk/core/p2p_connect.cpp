#include "p2p_connect.h"

#include <atomic>
#include <cstring>
#include <string>

#include "PPPP_API.h"
#include "lan_login.h"
#include "p2p_command_channel.h"
#include "p2p_init_strings.h"
#include "qrn_net.h"
#include "trace.h"
#include "wire_protocol.h"

namespace {

constexpr int kRelayedByte = 81;
constexpr int kCheckRecordSize = 128;
constexpr uint32_t kMaxLoginPayload = kP2pPayloadSize;

std::atomic<unsigned> relayed_closed{0};

int connect_failure(int result)
{
    switch (result) {
    case -3:
        return QRN_ERR_TIMEOUT;
    case -4:
        return QRN_ERR_P2P_CONNECT;
    case -6:
        return QRN_ERR_CONNECT;
    default:
        return QRN_ERR_FAILED;
    }
}

// TRANS_RELAY or TRANS_P2P; 0 when the session is already gone.
int transport_mode_of(int p2p_session)
{
    unsigned char record[kCheckRecordSize] = {};
    if (PPPP_Check(p2p_session, record) < 0)
        return 0;
    return record[kRelayedByte] ? TRANS_RELAY : TRANS_P2P;
}

int p2p_login(SessionContext *session)
{
    uint8_t packet[kHeaderSize + kLoginPayloadSize];
    const int length = build_login_packet(session, packet);
    int result = p2p_write_command(session, packet, length);
    if (result != QRN_OK)
        return result;
    CommandHeader header;
    uint8_t payload[kMaxLoginPayload];
    result = p2p_read_response(session, CMD_LOGIN, 0, &header, payload, sizeof payload);
    if (result == QRN_ERR_TOO_LONG)
        return QRN_ERR_IO;
    if (result != QRN_OK)
        return result;
    if (header.status == kStatusLoginRefused)
        return QRN_ERR_LOGIN_REFUSED;
    session->token = header.token;
    apply_login_payload(session, payload, header.status == 0 ? header.length : 0);
    return QRN_OK;
}

}  // namespace

unsigned p2p_relayed_sessions_closed()
{
    return relayed_closed;
}

bool p2p_session_alive(const SessionContext *session)
{
    return session->connected && !session->stream_lost;
}

int p2p_connect(SessionContext *session, const SessionContext *replacing)
{
    const std::string init_string = p2p_init_string_for(session->address);
    int attempts = 0;
    int p2p = PPPP_ConnectByServer(session->address, 1, 0, init_string.c_str());
    for (;;) {
        if (p2p < 0) {
            qrn_trace("p2p connect to %s failed: %d\n", session->address, p2p);
            return connect_failure(p2p);
        }
        session->trans_mode = transport_mode_of(p2p);
        if (session->trans_mode == 0) {
            PPPP_Close(p2p);
            return QRN_ERR_FAILED;
        }
        if (!replacing || session->trans_mode == TRANS_P2P)
            break;
        qrn_trace("p2p session %d to %s is relayed, attempt %d\n", p2p, session->address, attempts + 1);
        // Only a direct session is worth a switch: try again while allowed.
        PPPP_Close(p2p);
        ++relayed_closed;
        if (attempts >= session->max_relay_retries || !p2p_session_alive(replacing))
            return QRN_ERR_FAILED;
        ++attempts;
        p2p = PPPP_ConnectByServer(session->address, 1, 0, init_string.c_str());
    }
    session->p2p_session = p2p;
    session->p2p_reader.clear();
    const int login = p2p_login(session);
    const int mode = login == QRN_OK ? transport_mode_of(p2p) : 0;
    if (mode == 0) {
        PPPP_Close(p2p);
        session->p2p_session = -1;
        return login == QRN_OK ? QRN_ERR_CLOSED : login;
    }
    session->trans_mode = mode;
    qrn_trace("p2p session %d to %s is up, %s\n", p2p, session->address, mode == TRANS_RELAY ? "relayed" : "direct");
    std::memset(session->p2p_init_string, 0, sizeof session->p2p_init_string);
    std::memcpy(session->p2p_init_string, init_string.data(), init_string.size());
    return QRN_OK;
}
