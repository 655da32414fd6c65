// Waiting for stream data, and the parameter-change notices it brings.
#include "qrn_net.h"
#include "session_table.h"

namespace {

int pending_flags(SessionContext *session)
{
    const SessionQueues &q = session->queues;
    int flags = 0;
    if (quarn_queue_getElemCount(q.video) > 0)
        flags |= POLL_VIDEO;
    if (quarn_queue_getElemCount(q.picture) > 0)
        flags |= POLL_PICTURE;
    if (quarn_queue_getElemCount(q.audio) > 0)
        flags |= POLL_AUDIO;
    if (quarn_queue_getElemCount(q.serial) > 0)
        flags |= POLL_SERIAL;
    if (quarn_queue_getElemCount(q.paramchange) > 0)
        flags |= POLL_PARAM;
    return flags;
}

}  // namespace

extern "C" {

int QRN_NET_Poll(int handle, int *flags_out, unsigned timeout_ms)
{
    uint32_t id = 0;
    if (session_validate(handle, &id) != 0)
        return QRN_ERR_INVALID_HANDLE;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!flags_out)
        return QRN_ERR_NULL_POINTER;
    if (!session->connected)
        return QRN_ERR_CLOSED;
    *flags_out = pending_flags(session);
    if (*flags_out)
        return QRN_OK;

    const int woken =
        quarn_cond_wait(session->data_ready, static_cast<int>(timeout_ms / 1000), static_cast<int>(timeout_ms % 1000));
    const int still = session_validate(handle, &id);
    if (still < 0)
        return QRN_ERR_CLOSED;
    if (still == 1)
        return QRN_ERR_FAILED;
    if (woken == QUARN_TIMEOUT)
        return QRN_ERR_TIMEOUT;
    if (!session->connected)
        return QRN_ERR_CLOSED;
    *flags_out = pending_flags(session);
    return *flags_out ? QRN_OK : QRN_ERR_FAILED;
}

int QRN_NET_GetParamChangeType(int handle, int *type_out)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!type_out)
        return QRN_ERR_NULL_POINTER;
    void *ignored = nullptr;
    int size = 0;
    int tag = 0;
    if (quarn_queue_getElem(session->queues.paramchange, &ignored, &size, &tag) < 0)
        return QRN_ERR_FAILED;
    *type_out = tag;
    return QRN_OK;
}

int QRN_NET_GetCmdResponse(int handle, int *length_out, void **data_out)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!length_out || !data_out)
        return QRN_ERR_NULL_POINTER;
    *length_out = static_cast<int>(session->stream.last_response_length);
    *data_out = session->stream.last_response;
    return QRN_OK;
}

}  // extern "C"
