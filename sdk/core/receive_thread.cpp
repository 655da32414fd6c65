#include "receive_thread.h"

#include "qrn_net.h"
#include "session_table.h"
#include "stream_delivery.h"
#include "stream_reader.h"

namespace {

// The stream is gone: the session is no longer connected, and a waiting
// poller hears of it, unless the transport switch is replacing the session.
// The switch clears its mark before it looks at stream_lost, and this
// thread sets stream_lost before it looks at the mark, so a loss during a
// switch that gives up is announced by one of the two.
void announce_loss(SessionContext *session)
{
    session->stream_lost = 1;
    if (session->handover_mark)
        return;
    session->connected = 0;
    quarn_cond_post(session->data_ready);
}

// The session the thread serves; it ends once the context was reused
// (token), torn down (run flag) or released (no longer in use).
void receive_loop(void *argument)
{
    auto *session = static_cast<SessionContext *>(argument);
    const uint32_t token = session->token;
    StreamAssembly &a = session->stream;
    a.pending_wake.bind(session->data_ready);
    const bool lan = session->address_kind == kAddressKindIp;
    while (session->receive_running && session->token == token) {
        if (lan && !session->data_channel_up) {
            a.pending_wake.post();
            if (!accept_stream(session) && session->listen_socket < 0)
                return;  // nothing can connect any more
            continue;
        }
        uint8_t type = 0;
        const int result = read_stream_packet(session, &type);
        if (result == QRN_OK) {
            deliver_stream_packet(session, type);
            continue;
        }
        if (result != kMoreFragments)
            a.pending_wake.post();  // whatever comes next, nothing delivered stays unannounced
        if (!context_in_use(session))
            return;
        if (result == QRN_ERR_CLOSED) {
            close_stream_sockets(session);
            announce_loss(session);
            return;
        }
        // On the LAN the device connects again; over P2P the next magic is
        // looked for in the same stream.
        if (lan && (result == QRN_ERR_OTHER_SESSION || result == QRN_ERR_MALFORMED))
            drop_stream_connection(session);
    }
}

}  // namespace

bool start_receive_thread(SessionContext *session)
{
    session->receive_running = 1;
    session->receive_thread = quarn_thread_create(receive_loop, session, 0);
    if (!session->receive_thread) {
        session->receive_running = 0;
        return false;
    }
    return true;
}
