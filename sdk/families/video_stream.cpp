// Starting and stopping the video, and handing its frames to the caller.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "command_helpers.h"

namespace {

constexpr uint16_t kSetPeerMaxFrame = 0x000A;
constexpr uint16_t kVideoBegin = 0x100A;
constexpr uint16_t kVideoEnd = 0x100B;
constexpr uint16_t kSnapshot = 0x100C;
constexpr uint16_t kSnapshotResolution = 0x100D;
constexpr uint16_t kSnapshotQuality = 0x1017;
constexpr uint32_t kMinQuality = 30;
constexpr uint32_t kMaxQuality = 90;

// Takes the oldest element of a queue; -1 when there is none.
int take_element(quarn_queue *queue, FrameElement **element, int *remaining)
{
    if (quarn_queue_getElemCount(queue) < 1)
        return QRN_ERR_FAILED;
    void *taken = nullptr;
    int size = 0;
    int tag = 0;
    if (quarn_queue_getElem(queue, &taken, &size, &tag) < 0 || !taken)
        return QRN_ERR_FAILED;
    *element = static_cast<FrameElement *>(taken);
    if (remaining)
        *remaining = quarn_queue_getElemCount(queue);
    return QRN_OK;
}

// Hands out the header, with the rate figures where the sequence and key
// flag were.
int take_header(quarn_queue *queue, FrameHeader **frame, int *remaining)
{
    FrameElement *element = nullptr;
    const int result = take_element(queue, &element, remaining);
    if (result != QRN_OK)
        return result;
    auto *header = reinterpret_cast<uint8_t *>(&element->header);
    std::memcpy(header + offsetof(FrameHeader, sequence), &element->window_frames, 4);
    std::memcpy(header + offsetof(FrameHeader, key_frame), &element->window_bytes, 4);
    *frame = &element->header;
    return QRN_OK;
}

FrameElement *element_of(FrameHeader *header)
{
    return reinterpret_cast<FrameElement *>(reinterpret_cast<uint8_t *>(header) - offsetof(FrameElement, header));
}

int queue_count(int handle, quarn_queue *SessionQueues::*queue, int *count)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!count)
        return QRN_ERR_NULL_POINTER;
    *count = quarn_queue_getElemCount(session->queues.*queue);
    return QRN_OK;
}

}  // namespace

extern "C" {

int QRN_NET_Video_Begin(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (session->video.running)
        return QRN_OK;
    session->video.reset_requested = 1;
    quarn_queue_clean(session->queues.video);
    quarn_queue_clean(session->queues.picture);
    const int result = command_send(session, kVideoBegin, nullptr, 0);
    if (result != QRN_OK)
        return result;
    session->video.running = 1;
    return QRN_OK;
}

int QRN_NET_Video_End(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!session->video.running)
        return QRN_ERR_FAILED;
    const int result = command_send(session, kVideoEnd, nullptr, 0);
    if (result != QRN_OK)
        return result;
    session->video.running = 0;
    return QRN_OK;
}

int QRN_NET_Video_RequestVideoData(int handle, FrameHeader **frame)
{
    return QRN_NET_Video_RequestVideoData2(handle, frame, nullptr);
}

int QRN_NET_Video_RequestVideoData2(int handle, FrameHeader **frame, int *remaining)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!frame)
        return QRN_ERR_NULL_POINTER;
    return take_header(session->queues.video, frame, remaining);
}

int QRN_NET_Video_RequestVideoData1(int handle, FrameElement **element, int *remaining)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!element)
        return QRN_ERR_NULL_POINTER;
    return take_element(session->queues.video, element, remaining);
}

int QRN_NET_Video_ReleaseVideoData(int handle, FrameHeader *frame)
{
    if (!frame)
        return QRN_ERR_NULL_POINTER;
    return QRN_NET_Video_ReleaseVideoData1(handle, element_of(frame));
}

int QRN_NET_Video_ReleaseVideoData1(int handle, FrameElement *element)
{
    if (!element)
        return QRN_ERR_NULL_POINTER;
    // A live session fills the block again with a later frame; any other
    // handle (stale, closed, made up) just frees it.
    if (SessionContext *session = session_lookup(handle))
        session->spare_elements.give_back(element);
    else
        std::free(element);
    return QRN_OK;
}

int QRN_NET_Video_RequestPicData(int handle, FrameHeader **picture)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!picture)
        return QRN_ERR_NULL_POINTER;
    return take_header(session->queues.picture, picture, nullptr);
}

int QRN_NET_Video_ReleasePicData(int handle, FrameHeader *picture)
{
    return QRN_NET_Video_ReleaseVideoData(handle, picture);
}

int QRN_NET_Video_SnapShot(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    return command_send(session, kSnapshot, nullptr, 0);
}

int QRN_NET_Video_SnapShotResolu(int handle, uint32_t resolution)
{
    return send_word_to(handle, kSnapshotResolution, resolution);
}

int QRN_NET_Video_SnapShotQuality(int handle, uint32_t quality)
{
    return send_word_to(handle, kSnapshotQuality, std::clamp(quality, kMinQuality, kMaxQuality));
}

int QRN_NET_Video_GetCurVideoFrameNum(int handle, int *count)
{
    return queue_count(handle, &SessionQueues::video, count);
}

int QRN_NET_Video_GetCurPictureFrameNum(int handle, int *count)
{
    return queue_count(handle, &SessionQueues::picture, count);
}

int QRN_NET_Video_GetLocalMaxFrameNum(int handle, int *value)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!value)
        return QRN_ERR_NULL_POINTER;
    *value = session->video.local_max_frame;
    return QRN_OK;
}

int QRN_NET_Video_SetLocalMaxFrameNum(int handle, int value)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (quarn_queue_setElemNumber(session->queues.video, value) == -1)
        return QRN_ERR_FAILED;
    session->video.local_max_frame = value;
    return QRN_OK;
}

int QRN_NET_Video_GetPeerMaxFrameNum(int handle, int *value)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!value)
        return QRN_ERR_NULL_POINTER;
    std::lock_guard<std::mutex> guard(session->cache_mutex);  // the receive thread writes it
    *value = static_cast<int>(session->peer_max_frame);
    return QRN_OK;
}

int QRN_NET_Video_SetPeerMaxFrameNum(int handle, int value)
{
    return send_word_to(handle, kSetPeerMaxFrame, static_cast<uint32_t>(value));
}

}  // extern "C"
