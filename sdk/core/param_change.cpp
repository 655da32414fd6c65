#include "param_change.h"

#include <cstring>

#include "byte_order.h"
#include "h264_quality.h"
#include "qrn_net.h"

namespace {

constexpr uint32_t kVideoParamsSize = 16;

void read_words(const uint8_t *data, uint32_t *words, int count)
{
    for (int i = 0; i < count; ++i)
        words[i] = get_u32le(data + 4 * i);
}

void set_video_params(VideoCache &cache, const uint8_t *data)
{
    cache.format = get_u32le(data);
    cache.resolution = get_u32le(data + 4);
    cache.fps = get_u32le(data + 8);
    cache.max_fps = get_u32le(data + 12);
}

}  // namespace

void apply_param_change(SessionContext *session, uint32_t sub_type, const uint8_t *data, uint32_t length)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    VideoCache &video = session->video_cache;
    switch (sub_type) {
    case QRN_PARAM_ABILITY:
        if (length >= kAbilitySize)
            std::memcpy(video.ability, data, kAbilitySize);
        break;
    case QRN_PARAM_VIDEO:
        if (length >= kVideoParamsSize)
            set_video_params(video, data);
        break;
    case QRN_PARAM_VIDEO_CTRL: {
        if (length < 4 + kControlSize)
            break;
        const uint32_t index = get_u32le(data);
        if (index < kControlCount)  // an index past the table is not the device's to write
            std::memcpy(video.controls + index * kControlSize, data + 4, kControlSize);
        break;
    }
    case QRN_PARAM_AUDIO:
        if (length >= sizeof session->audio_params)
            read_words(data, session->audio_params, 3);
        break;
    case QRN_PARAM_SERIAL:
        if (length >= sizeof session->serial_params)
            read_words(data, session->serial_params, 5);
        break;
    case QRN_PARAM_GPIO:
        if (length >= kGpioBlockSize)
            std::memcpy(session->gpio_block, data, kGpioBlockSize);
        break;
    case QRN_PARAM_VIDEO_CTRL_ALL:
        if (length >= sizeof video.controls)
            std::memcpy(video.controls, data, sizeof video.controls);
        break;
    case QRN_PARAM_VIDEO_INFO:
        if (length >= kVideoInfoSize) {
            std::memcpy(video.ability, data, kAbilitySize);
            std::memcpy(video.controls, data + kAbilitySize, sizeof video.controls);
            set_video_params(video, data + kAbilitySize + sizeof video.controls);
            video.valid = 1;
        }
        break;
    case QRN_PARAM_H264:
        if (length >= 12) {
            H264Cache &h264 = session->h264_cache;
            h264.qp_quality = h264_quality_from_qp(get_u32le(data));
            h264.key_interval = static_cast<int>(get_u32le(data + 4));
            h264.stream_value = static_cast<int>(get_u32le(data + 8));
            h264.valid = 1;
        }
        break;
    case QRN_PARAM_PEER_MAX_FRAME:
        if (length >= 4)
            session->peer_max_frame = get_u32le(data);
        break;
    default:  // QRN_PARAM_NO_CHANGE and unknown sub-types change nothing
        break;
    }
}
