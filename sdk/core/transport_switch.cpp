#include "transport_switch.h"

#include <cstring>
#include <new>

#include "PPPP_API.h"
#include "p2p_connect.h"
#include "qrn_net.h"
#include "receive_thread.h"
#include "session_table.h"
#include "wire_protocol.h"

namespace {

struct SwitchRequest {
    SessionContext *old_session;
    uint32_t old_id;  // the context may be reused by the time the thread runs
    int old_slot;
};

// The switch ends without a swap. The old session stays as it was, so its
// mark is cleared: a loss that came meanwhile, which its receive thread
// left unannounced because of the mark, is announced now.
void give_up_handover(SessionContext *old_session)
{
    old_session->handover_mark = 0;
    if (old_session->stream_lost && old_session->connected) {
        old_session->connected = 0;
        quarn_cond_post(old_session->data_ready);
    }
}

// Logs out of a session and closes its P2P session; its receive thread, if
// it runs, is ended first.
void close_session(SessionContext *session)
{
    {
        CommandLock lock(session);
        command_transaction(session, CMD_LOGOUT, nullptr, 0, nullptr, 0, nullptr);
        session->connected = 0;
        session->receive_running = 0;
    }
    PPPP_ForceClose(session->p2p_session);
    quarn_thread_destroy(session->receive_thread);
    session->receive_thread = nullptr;
    CommandLock lock(session);  // a command that looked the session up may still run
    session->p2p_session = -1;
}

// Starts on the new session what ran on the old one: its receive thread,
// then video and audio. False when any of it fails.
bool take_over_streams(SessionContext *old_session, SessionContext *new_session, int new_handle)
{
    new_session->stream.header_held = 0;
    new_session->connected = 1;
    new_session->video.running = 0;
    new_session->audio.running = 0;
    new_session->serial.open = 0;
    quarn_queue_clean(new_session->queues.paramchange);
    if (!start_receive_thread(new_session))
        return false;
    if (p2p_session_alive(old_session) && old_session->video.running && QRN_NET_Video_Begin(new_handle) != QRN_OK)
        return false;
    if (p2p_session_alive(old_session) && old_session->audio.running && QRN_NET_Audio_Begin(new_handle) != QRN_OK)
        return false;
    return true;
}

void run_switch(void *argument)
{
    const SwitchRequest request = *static_cast<SwitchRequest *>(argument);
    delete static_cast<SwitchRequest *>(argument);
    SessionContext *old_session = request.old_session;

    const int new_slot = session_slot_take(kAddressKindDeviceId);
    if (new_slot < 0)
        return;
    const int new_handle = kHandleBase + new_slot;
    SessionContext *new_session = session_lookup(new_handle);
    if (!new_session) {
        session_slot_release(new_slot);
        return;
    }
    new_session->address_kind = kAddressKindDeviceId;
    std::memcpy(new_session->address, old_session->address, sizeof new_session->address);
    new_session->max_relay_retries = old_session->max_relay_retries;
    std::memcpy(new_session->user, old_session->user, sizeof new_session->user);
    std::memcpy(new_session->encrypt, old_session->encrypt, sizeof new_session->encrypt);
    new_session->handover_mark = 0;
    new_session->stream_lost = 0;
    old_session->handover_mark = 1;

    if (p2p_connect(new_session, old_session) != QRN_OK) {
        session_slot_release(new_slot);
        give_up_handover(old_session);
        return;
    }
    // A pass-through must not lose bytes in flight: the relayed session stays.
    const bool serial_running = p2p_session_alive(old_session) && old_session->serial.open;
    if (serial_running || !take_over_streams(old_session, new_session, new_handle) ||
        !session_slots_swap(request.old_slot, old_session, request.old_id, new_slot, p2p_session_alive)) {
        close_session(new_session);
        session_slot_release(new_slot);
        give_up_handover(old_session);
        return;
    }
    // A poller waiting on the old session wakes and learns of the swap.
    quarn_cond_post(old_session->data_ready);
    close_session(old_session);
    session_slot_release(new_slot);  // now the old session's slot
}

}  // namespace

void start_transport_switch(SessionContext *relayed, int slot)
{
    auto *request = new (std::nothrow) SwitchRequest{relayed, relayed->id, slot};
    if (request && quarn_thread_run_detached(run_switch, request) != 0)
        delete request;
}
