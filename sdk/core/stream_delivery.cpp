#include "stream_delivery.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "frame_assembly.h"
#include "param_change.h"
#include "qrn_net.h"
#include "wire_protocol.h"

namespace {

constexpr int64_t kRateWindowMs = 1000;

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void count_frame(VideoStreamState &video, uint32_t length)
{
    ++video.window_frames;
    video.window_bytes += length;
    const int64_t now = now_ms();
    const int64_t distance = now - video.window_start_ms;
    if (distance >= kRateWindowMs || distance <= -kRateWindowMs) {
        video.frames_per_second = video.window_frames;
        video.bytes_per_second = video.window_bytes;
        video.window_frames = 0;
        video.window_bytes = 0;
        video.window_start_ms = now;
    }
}

// Queues one element and lets the poller know, in its own time.
int hand_over(SessionContext *session, quarn_queue *queue, void *element, int size, int tag)
{
    const int result = quarn_queue_putElem(queue, element, size, tag);
    if (result >= 0)
        session->stream.pending_wake.delivered(queue);
    return result;
}

// False when the frame must be dropped while waiting for a key frame.
bool passes_key_frame_recovery(SessionContext *session, const FrameHeader &header)
{
    VideoStreamState &video = session->video;
    if (header.key_frame) {
        video.key_frame_wait = 0;
        video.key_frame_requested = 0;
    } else if (!video.key_frame_wait && header.sequence - video.last_sequence > 1) {
        video.key_frame_wait = 1;
    }
    if (video.key_frame_wait) {
        if (!video.key_frame_requested) {
            session->stream.pending_wake.post();  // the command may wait behind the caller's
            if (command_send(session, CMD_FORCE_KEY_FRAME, nullptr, 0) >= 0)
                video.key_frame_requested = 1;
        }
        return false;
    }
    video.last_sequence = header.sequence;
    return true;
}

int deliver_video(SessionContext *session)
{
    StreamAssembly &a = session->stream;
    FrameElement *element = take_frame(a.video);
    if (!element)
        return 0;
    // A new start resets the figures here, on the thread that owns them. A
    // half-assembled frame needs no reset: a first fragment restarts it.
    VideoStreamState &video = session->video;
    if (video.reset_requested.exchange(0))
        video.reset_figures();
    if (element->header.format == QRN_FORMAT_H264 && !passes_key_frame_recovery(session, element->header)) {
        session->spare_elements.give_back(element);
        return -1;
    }
    count_frame(video, element->header.length);
    element->window_frames = video.frames_per_second;
    element->window_bytes = video.bytes_per_second;
    const int size = static_cast<int>(offsetof(FrameElement, data) + element->header.length);
    return hand_over(session, session->queues.video, element, size, 0);
}

int deliver_picture(SessionContext *session)
{
    StreamAssembly &a = session->stream;
    FrameElement *element = take_frame(a.picture);
    if (!element)
        return -1;
    const int size = static_cast<int>(offsetof(FrameElement, data) + element->header.length);
    return hand_over(session, session->queues.picture, element, size, 0);
}

// Copies bytes into a new heap block and queues it; -1 when out of memory.
int queue_copy(SessionContext *session, quarn_queue *queue, const uint8_t *bytes, uint32_t length)
{
    void *block = std::malloc(length ? length : 1);
    if (!block)
        return -1;
    std::memcpy(block, bytes, length);
    return hand_over(session, queue, block, static_cast<int>(length), 0);
}

int deliver_audio(SessionContext *session)
{
    StreamAssembly &a = session->stream;
    const uint32_t length = a.audio_fill;
    a.audio_fill = 0;
    return queue_copy(session, session->queues.audio, a.audio.data(), length);
}

int deliver_serial(SessionContext *session)
{
    StreamAssembly &a = session->stream;
    const uint32_t length = a.serial_fill;  // the length word included
    a.serial_fill = 0;
    if (length < 4)
        return -1;  // no length word was written: nothing to hand over
    // Counted before it is queued, so a caller taking it at once never sees
    // the waiting count go below zero.
    const uint32_t data_length = length - 4;
    session->serial_received_bytes += data_length;
    session->serial_cache_size += data_length;
    const int result = queue_copy(session, session->queues.serial, a.serial.data(), length);
    if (result < 0) {
        session->serial_received_bytes -= data_length;
        session->serial_cache_size -= data_length;
    }
    return result;
}

int deliver_param_change(SessionContext *session)
{
    StreamAssembly &a = session->stream;
    const uint32_t received =
        a.param_change_length < kParamChangeAreaSize ? a.param_change_length : kParamChangeAreaSize;
    a.param_change_length = 0;
    if (received < 4)
        return -1;  // not even a sub-type
    const uint32_t sub_type = get_u32le(a.param_change.data());
    const uint8_t *data = a.param_change.data() + 4;
    const uint32_t length = received - 4;
    apply_param_change(session, sub_type, data, length);
    // The copy and its length both cover the data after the sub-type word.
    const uint32_t kept = length < kLastResponseSize ? length : kLastResponseSize;
    std::memcpy(a.last_response, data, kept);
    a.last_response_length = kept;
    return hand_over(session, session->queues.paramchange, nullptr, 0, static_cast<int>(sub_type));
}

}  // namespace

int deliver_stream_packet(SessionContext *session, uint8_t type)
{
    switch (type) {
    case STREAM_VIDEO:
        return deliver_video(session);
    case STREAM_PICTURE:
        return deliver_picture(session);
    case STREAM_AUDIO:
        return deliver_audio(session);
    case STREAM_SERIAL:
        return deliver_serial(session);
    case STREAM_PARAM_CHANGE:
        return deliver_param_change(session);
    default:
        return -1;
    }
}
