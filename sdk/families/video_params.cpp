// Reading and changing how the device captures and encodes video. Most
// readings come from the session's caches; the setters keep them current.
#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "command_helpers.h"
#include "h264_quality.h"
#include "video_cache.h"

namespace {

constexpr uint16_t kSetVideoCtrl = 0x1005;
constexpr uint16_t kSetFormat = 0x1006;
constexpr uint16_t kSetResolution = 0x1007;
constexpr uint16_t kSetFps = 0x1008;
constexpr uint16_t kResetVideoCtrl = 0x100E;
constexpr uint16_t kSetH264KeyInterval = 0x1010;
constexpr uint16_t kSetH264Qp = 0x1012;
constexpr uint16_t kSetH264Stream = 0x1014;
constexpr uint16_t kGetQuality = 0x1015;
constexpr uint16_t kSetQuality = 0x1016;
constexpr uint16_t kSetFpsLimit = 0x1018;
constexpr uint16_t kForceKeyFrame = CMD_FORCE_KEY_FRAME;
constexpr uint16_t kSetRotation = 0x1020;
constexpr uint16_t kGetRectYuyv = 0x1021;
constexpr uint16_t kSetRectYuyv = 0x1022;
constexpr uint16_t kGetCrop = 0x1023;
constexpr uint16_t kSetCrop = 0x1024;
constexpr uint16_t kSetXuCtrl = 0x1080;

constexpr int kRectSize = 16;
constexpr int kXuBlockSize = 70;
constexpr int kFormatCount = 4;
constexpr int kFormatAbilitySize = 100;
constexpr int kSizesPerFormat = 12;

// Word offsets inside a control entry as the device sends it.
constexpr int kPresentOffset = 0;
constexpr int kCurrentOffset = 8;
constexpr int kDefaultOffset = 20;
constexpr int kModeOffset = 28;

constexpr uint32_t kMaxKeyInterval = 300;
constexpr uint32_t kMaxH264Stream = 100000;
constexpr uint32_t kMinJpegQuality = 30;
constexpr uint32_t kMaxJpegQuality = 90;
// Devices from this version on keep their H.264 settings to themselves: the
// cache follows only their notices.
constexpr double kFirstSelfReportingVersion = 4.0;

int get_video_word(int handle, int *out, uint32_t VideoCache::*field)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_video_cache, [out, field](const SessionContext &session) {
        *out = static_cast<int>(session.video_cache.*field);
        return QRN_OK;
    });
}

int get_h264_value(int handle, int *out, int H264Cache::*field)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_h264_cache, [out, field](const SessionContext &session) {
        *out = session.h264_cache.*field;
        return QRN_OK;
    });
}

// Sets one H.264 value on the device and, for devices that do not report it
// back themselves, in the cache.
int set_h264_value(int handle, uint16_t code, uint32_t sent, int cached, int H264Cache::*field)
{
    return send_word_then(handle, code, sent, [cached, field](SessionContext &session) {
        if (session.protocol_version_decimal >= kFirstSelfReportingVersion)
            return;
        std::lock_guard<std::mutex> guard(session.cache_mutex);
        session.h264_cache.*field = cached;
    });
}

// Sends one video setting; once the device accepted it the cache follows.
// A new format or size also drops the queued frames: frames of the old one
// must not be handed out.
template <typename Update>
int set_video_word(int handle, uint16_t code, uint32_t value, bool drops_queued_frames, Update update)
{
    return send_word_then(handle, code, value, [drops_queued_frames, &update](SessionContext &session) {
        if (drops_queued_frames)
            quarn_queue_clean(session.queues.video);
        std::lock_guard<std::mutex> guard(session.cache_mutex);
        update(session.video_cache);
    });
}

uint8_t *cached_control(VideoCache &cache, uint32_t index)
{
    return cache.controls + index * kControlSize;
}

void decode_control(const uint8_t *wire, VideoCtrlEntry *entry)
{
    int32_t words[kControlSize / 4];
    for (int i = 0; i < kControlSize / 4; ++i)
        words[i] = static_cast<int32_t>(get_u32le(wire + 4 * i));
    std::memcpy(entry, words, sizeof words);
}

// A new size may allow fewer frames per second in the current format: the
// cached maximum follows the size's entry and the cached rate stays within it.
void bound_frame_rate(VideoCache &cache, uint32_t resolution)
{
    for (int f = 0; f < kFormatCount; ++f) {
        const uint8_t *ability = cache.ability + f * kFormatAbilitySize;
        if (get_u32le(ability) != cache.format)
            continue;
        for (int s = 0; s < kSizesPerFormat; ++s) {
            const uint8_t *pair = ability + 4 + s * 8;
            if (get_u32le(pair) != resolution)
                continue;
            cache.max_fps = get_u32le(pair + 4);
            if (cache.fps >= cache.max_fps)
                cache.fps = cache.max_fps;
        }
    }
}

int snap_rotation(int angle)
{
    if (angle <= 0 || angle >= 360)
        return 0;
    if (angle < 180)
        return 90;
    return angle < 270 ? 180 : 270;
}

}  // namespace

extern "C" {

int QRN_NET_Video_GetAbility(int handle, void *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_video_cache, [out](const SessionContext &session) {
        std::memcpy(out, session.video_cache.ability, kAbilitySize);
        return QRN_OK;
    });
}

int QRN_NET_Video_GetVideoCtrl(int handle, uint32_t index, VideoCtrlEntry *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_video_cache, [index, out](SessionContext &session) {
        if (index >= kControlCount)
            return QRN_ERR_NULL_POINTER;
        decode_control(cached_control(session.video_cache, index), out);
        return QRN_OK;
    });
}

int QRN_NET_Video_GetFormat(int handle, int *out)
{
    return get_video_word(handle, out, &VideoCache::format);
}
int QRN_NET_Video_GetResolu(int handle, int *out)
{
    return get_video_word(handle, out, &VideoCache::resolution);
}
int QRN_NET_Video_GetFPS(int handle, int *out)
{
    return get_video_word(handle, out, &VideoCache::fps);
}

int QRN_NET_Video_GetParam(int handle, VideoParam *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_video_cache, [out](const SessionContext &session) {
        const VideoCache &cache = session.video_cache;
        *out = VideoParam{cache.format, cache.resolution, cache.fps, cache.max_fps};
        return QRN_OK;
    });
}

int QRN_NET_Video_GetH264KeyInter(int handle, int *out)
{
    return get_h264_value(handle, out, &H264Cache::key_interval);
}
int QRN_NET_Video_GetH264QpValue(int handle, int *out)
{
    return get_h264_value(handle, out, &H264Cache::qp_quality);
}
int QRN_NET_Video_GetH264Stream(int handle, int *out)
{
    return get_h264_value(handle, out, &H264Cache::stream_value);
}

int QRN_NET_Video_GetRectYuyv(int handle, void *rect)
{
    return rect ? query_into(handle, kGetRectYuyv, rect, kRectSize) : QRN_ERR_FAILED;
}

int QRN_NET_Video_GetCROP(int handle, void *rect)
{
    return rect ? query_into(handle, kGetCrop, rect, kRectSize) : QRN_ERR_FAILED;
}

int QRN_NET_Video_GetQuality(int handle, int *out)
{
    return out ? query_into(handle, kGetQuality, out, sizeof *out) : QRN_ERR_NULL_POINTER;
}

int QRN_NET_Video_SetVideoCtrl(int handle, uint32_t index, const VideoCtrlEntry *entry)
{
    if (!entry)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (index >= kControlCount)
        return QRN_ERR_NULL_POINTER;
    // Only the current value and the mode are the caller's; the rest of the
    // entry is what the device told us. Never filled here: an entry not yet
    // read is not present.
    uint8_t payload[4 + kControlSize];
    put_u32le(payload, index);
    uint8_t *sent = payload + 4;
    {
        std::lock_guard<std::mutex> guard(session->cache_mutex);
        std::memcpy(sent, cached_control(session->video_cache, index), kControlSize);
    }
    if (get_u32le(sent + kPresentOffset) == 0)
        return QRN_ERR_FAILED;
    put_u32le(sent + kCurrentOffset, static_cast<uint32_t>(entry->current));
    put_u32le(sent + kModeOffset, static_cast<uint32_t>(entry->mode));
    const int result = command_send(session, kSetVideoCtrl, payload, sizeof payload);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(cached_control(session->video_cache, index), sent, kControlSize);
    return QRN_OK;
}

int QRN_NET_Video_SetFormat(int handle, uint32_t format)
{
    return set_video_word(handle, kSetFormat, format, true, [format](VideoCache &cache) { cache.format = format; });
}

int QRN_NET_Video_SetResolu(int handle, uint32_t resolution)
{
    return set_video_word(handle, kSetResolution, resolution, true, [resolution](VideoCache &cache) {
        cache.resolution = resolution;
        bound_frame_rate(cache, resolution);
    });
}

int QRN_NET_Video_SetFPS(int handle, uint32_t fps)
{
    return set_video_word(handle, kSetFps, fps, false, [fps](VideoCache &cache) { cache.fps = fps; });
}

int QRN_NET_Video_ResetVCtrl(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    const int result = command_send(session, kResetVideoCtrl, nullptr, 0);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    for (uint32_t index = 0; index < kControlCount; ++index) {
        uint8_t *control = cached_control(session->video_cache, index);
        if (get_u32le(control + kPresentOffset) != 0)
            std::memcpy(control + kCurrentOffset, control + kDefaultOffset, 4);
    }
    return QRN_OK;
}

int QRN_NET_Video_SetH264KeyInter(int handle, uint32_t interval)
{
    const uint32_t clamped = std::clamp<uint32_t>(interval, 1, kMaxKeyInterval);
    return set_h264_value(handle, kSetH264KeyInterval, clamped, static_cast<int>(clamped), &H264Cache::key_interval);
}

int QRN_NET_Video_SetH264QpValue(int handle, uint32_t quality)
{
    const uint32_t clamped = std::min(quality, kMaxH264Quality);
    return set_h264_value(handle, kSetH264Qp, h264_qp_from_quality(clamped), static_cast<int>(clamped),
                          &H264Cache::qp_quality);
}

int QRN_NET_Video_SetH264Stream(int handle, uint32_t value)
{
    const uint32_t clamped = std::clamp<uint32_t>(value, 1, kMaxH264Stream);
    return set_h264_value(handle, kSetH264Stream, clamped, static_cast<int>(clamped), &H264Cache::stream_value);
}

int QRN_NET_Video_SetQuality(int handle, uint32_t quality)
{
    return send_word_to(handle, kSetQuality, std::clamp(quality, kMinJpegQuality, kMaxJpegQuality));
}

int QRN_NET_Video_SetFpsLimit(int handle, int on)
{
    return send_word_to(handle, kSetFpsLimit, on != 0 ? 1 : 0);
}

int QRN_NET_Video_SetForceI(int handle)
{
    return send_to(handle, kForceKeyFrame, nullptr, 0);
}

int QRN_NET_Video_SetVideoRotation(int handle, int angle)
{
    return send_word_to(handle, kSetRotation, static_cast<uint32_t>(snap_rotation(angle)));
}

int QRN_NET_Video_SetRectYuyv(int handle, const void *rect)
{
    return rect ? send_to(handle, kSetRectYuyv, rect, kRectSize) : QRN_ERR_FAILED;
}

int QRN_NET_Video_SetCROP(int handle, const void *rect)
{
    return rect ? send_to(handle, kSetCrop, rect, kRectSize) : QRN_ERR_FAILED;
}

int QRN_NET_Video_SetXuCtrl(int handle, const void *block)
{
    return block ? send_to(handle, kSetXuCtrl, block, kXuBlockSize) : QRN_ERR_NULL_POINTER;
}

}  // extern "C"
