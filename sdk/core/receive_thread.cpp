#include "receive_thread.h"

#include "qrn_net.h"
#include "session_table.h"
#include "stream_delivery.h"
#include "stream_reader.h"

namespace {

// The session the thread serves; it ends once the context was reused
// (token), torn down (run flag) or released (no longer in use).
void receive_loop(void *argument)
{
    auto *session = static_cast<SessionContext *>(argument);
    const uint32_t token = session->token;
    StreamAssembly &a = session->stream;
    a.pending_wake.bind(session->data_ready);
    while (session->receive_running && session->token == token) {
        if (!session->data_channel_up) {
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
            session->connected = 0;
            quarn_cond_post(session->data_ready);
            return;
        }
        if (result == QRN_ERR_OTHER_SESSION || result == QRN_ERR_MALFORMED)
            drop_stream_connection(session);  // the device connects again
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
