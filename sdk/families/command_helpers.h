// The few command shapes the families share.
#pragma once

#include <cstdint>
#include <mutex>

#include "byte_order.h"
#include "qrn_net.h"
#include "session_table.h"
#include "wire_protocol.h"

// Asks for an answer of exactly size bytes: a longer one is refused by the
// transaction (it does not fit), a shorter one here. out may be partly
// written on failure, so callers pass a buffer of their own.
inline int query_fixed(SessionContext *session, uint16_t code, void *out, int size)
{
    int length = size;
    const int result = command_query(session, code, out, &length);
    if (result != QRN_OK)
        return result;
    return length == size ? QRN_OK : QRN_ERR_MALFORMED;
}

// A pass-through reading: the answer, at most capacity bytes, goes straight
// into the caller's buffer.
inline int query_into(int handle, uint16_t code, void *out, int capacity)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    int length = capacity;
    return command_query(session, code, out, &length);
}

// Runs fill unless the cache is valid already. fill_lock (taken before the
// command lock) lets one caller ask the module while the others wait; the
// flag is read again after the wait, as that caller may have filled it.
template <typename Valid, typename Fill>
int fill_once(quarn_mutex *fill_lock, Valid valid, Fill fill)
{
    if (valid())
        return QRN_OK;
    SessionLock lock(fill_lock);
    if (valid())
        return QRN_OK;
    return fill();
}

// Runs read on the session under cache_mutex once fill has filled the
// cache it reads (fill asks the device the first time) and returns read's
// result; otherwise QRN_ERR_INVALID_HANDLE or the fill's failure.
template <typename Fill, typename Read>
int read_filled(int handle, Fill fill, Read read)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    const int result = fill(session);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return read(*session);
}

inline int send_to(int handle, uint16_t code, const void *payload, int length)
{
    SessionContext *session = session_lookup(handle);
    return session ? command_send(session, code, payload, length) : QRN_ERR_INVALID_HANDLE;
}

inline int send_word(SessionContext *session, uint16_t code, uint32_t value)
{
    uint8_t payload[4];
    put_u32le(payload, value);
    return command_send(session, code, payload, sizeof payload);
}

inline int send_word_to(int handle, uint16_t code, uint32_t value)
{
    SessionContext *session = session_lookup(handle);
    return session ? send_word(session, code, value) : QRN_ERR_INVALID_HANDLE;
}

// Sends one word; only once the device accepted it does update run on the
// session (taking the locks it needs), so a refused setting changes nothing.
template <typename Update>
int send_word_then(int handle, uint16_t code, uint32_t value, Update update)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    const int result = send_word(session, code, value);
    if (result != QRN_OK)
        return result;
    update(*session);
    return QRN_OK;
}
