// Opening and tearing down sessions.
#include <cstring>
#include <new>

#include "device_address.h"
#include "PPPP_API.h"
#include "lan_login.h"
#include "p2p_connect.h"
#include "receive_thread.h"
#include "stream_reader.h"
#include "qrn_net.h"
#include "session_table.h"
#include "transport_switch.h"
#include "wire_protocol.h"

namespace {

constexpr char kDefaultUser[] = "SQRN";

struct TeardownRequest {
    int handle;
    uint32_t id;
};

void teardown(void *argument)
{
    const TeardownRequest request = *static_cast<TeardownRequest *>(argument);
    delete static_cast<TeardownRequest *>(argument);
    uint32_t id = request.id;
    // The id makes sure a slot retaken by a newer connect is left alone.
    if (session_validate(request.handle, &id) != 0)
        return;
    SessionContext *session = session_lookup(request.handle);
    if (!session)
        return;
    {
        CommandLock lock(session);
        if (session->teardown_started)
            return;  // another teardown of this session got here first
        session->teardown_started = 1;
        command_transaction(session, CMD_LOGOUT, nullptr, 0, nullptr, 0, nullptr);
        session->connected = 0;
        session->receive_running = 0;
        session->command_timeout = {0, 0};
        // The stream time-out is left to the receive thread, which reads it
        // unlocked: shutting the sockets down below wakes it at once.
    }
    // Wake the receive thread wherever it waits, let it end, then close.
    if (session->address_kind == kAddressKindDeviceId) {
        PPPP_ForceClose(session->p2p_session);
    } else {
        std::lock_guard<std::mutex> guard(session->socket_mutex);
        quarn_socket_shutdown(session->listen_socket);
        quarn_socket_shutdown(session->data_socket);
    }
    quarn_cond_post(session->data_ready);
    quarn_thread_destroy(session->receive_thread);
    session->receive_thread = nullptr;
    {
        CommandLock lock(session);
        session->p2p_session = -1;
    }
    close_stream_sockets(session);
    session->spare_elements.clear();
    session_slot_release(static_cast<int>(static_cast<uint32_t>(request.handle) - kHandleBase));
}

}  // namespace

extern "C" {

int QRN_NET_ConnectDevice(int *handle_out, const char *address, const char *encrypt)
{
    return QRN_NET_ConnectDeviceUser(handle_out, address, 0, nullptr, encrypt);
}

int QRN_NET_ConnectDeviceIndex(int *handle_out, const char *address, int port, const char *encrypt)
{
    return QRN_NET_ConnectDeviceUser(handle_out, address, port, nullptr, encrypt);
}

int QRN_NET_ConnectDeviceUser(int *handle_out, const char *address, int port, const char *user, const char *encrypt)
{
    if (!handle_out || !address)
        return QRN_ERR_NULL_POINTER;
    // Strings that do not fit their fields are refused, never cut.
    if (std::strlen(address) >= kAddressSize || (user && std::strlen(user) >= kUserSize) ||
        (encrypt && std::strlen(encrypt) >= kLoginEncryptField))
        return QRN_ERR_BAD_STRING;

    const int kind = address_kind_of(address);
    const int slot = session_slot_take(kind);
    if (slot < 0)
        return slot;
    const int handle = kHandleBase + slot;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;

    session->address_kind = kind;
    store_address(address, kind, session->address);
    session->command_port = port > 0 ? port : kDefaultCommandPort;
    session->max_relay_retries = kMaxRelayRetries;
    session->handover_mark = 0;
    session->stream_lost = 0;
    if (encrypt)
        std::strcpy(session->encrypt, encrypt);
    std::strcpy(session->user, user ? user : kDefaultUser);

    const int result = kind == kAddressKindIp ? lan_login(session) : p2p_connect(session, nullptr);
    if (result != QRN_OK) {
        session_slot_release(slot);
        return result;
    }
    session->connected = 1;
    session->video.running = 0;
    session->audio.running = 0;
    session->serial.open = 0;
    quarn_queue_clean(session->queues.paramchange);
    if (!start_receive_thread(session)) {
        session->connected = 0;
        command_transaction(session, CMD_LOGOUT, nullptr, 0, nullptr, 0, nullptr);
        close_stream_sockets(session);
        PPPP_ForceClose(session->p2p_session);
        session->p2p_session = -1;
        session_slot_release(slot);
        return QRN_ERR_FAILED;
    }
    if (kind == kAddressKindDeviceId && session->trans_mode == TRANS_RELAY && transport_switch_enabled())
        start_transport_switch(session, slot);
    *handle_out = handle;
    return kind == kAddressKindDeviceId ? 1 : 0;
}

int QRN_NET_Disconnect(int handle)
{
    uint32_t id = 0;
    if (session_begin_ending(handle, &id) != 0)
        return QRN_OK;
    auto *request = new (std::nothrow) TeardownRequest{handle, id};
    if (request && quarn_thread_run_detached(teardown, request) != 0)
        delete request;
    return QRN_OK;
}

int QRN_NET_WaitDisconnected(int handle, unsigned timeout_ms)
{
    return session_wait_ended(handle, timeout_ms);
}

}  // extern "C"
