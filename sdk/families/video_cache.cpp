#include "video_cache.h"

#include <cstring>

#include "byte_order.h"
#include "command_helpers.h"
#include "h264_quality.h"
#include "qrn_net.h"
#include "wire_protocol.h"

namespace {

constexpr uint16_t kGetVideoInfo = 0x1000;
constexpr uint16_t kGetH264KeyInterval = 0x100F;
constexpr uint16_t kGetH264Qp = 0x1011;
constexpr uint16_t kGetH264Stream = 0x1013;

bool video_cache_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->video_cache.valid != 0;
}

bool h264_cache_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->h264_cache.valid != 0;
}

// Asks for one H.264 value, a u32, and hands it to keep with the cache,
// under cache_mutex.
template <typename Keep>
int query_h264_value(SessionContext *session, uint16_t code, Keep keep)
{
    uint8_t answer[4];
    const int result = query_fixed(session, code, answer, sizeof answer);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    keep(session->h264_cache, get_u32le(answer));
    return QRN_OK;
}

int ask_video_info(SessionContext *session)
{
    // One byte of room past the block, so a longer answer is seen as such.
    uint8_t block[kVideoInfoSize + 1];
    int length = 0;
    int result;
    {
        CommandLock lock(session);
        result = command_transaction(session, kGetVideoInfo, nullptr, 0, block, sizeof block, &length);
    }
    if (result == QRN_ERR_TOO_LONG || (result == QRN_OK && length != kVideoInfoSize))
        return QRN_ERR_MALFORMED;
    if (result != QRN_OK)
        return result;

    std::lock_guard<std::mutex> guard(session->cache_mutex);
    VideoCache &cache = session->video_cache;
    const uint8_t *params = block + kAbilitySize + sizeof cache.controls;
    std::memcpy(cache.ability, block, kAbilitySize);
    std::memcpy(cache.controls, block + kAbilitySize, sizeof cache.controls);
    cache.format = get_u32le(params);
    cache.resolution = get_u32le(params + 4);
    cache.fps = get_u32le(params + 8);
    cache.max_fps = get_u32le(params + 12);
    cache.valid = 1;
    return QRN_OK;
}

int ask_h264_values(SessionContext *session)
{
    // Each value is kept as soon as it arrives; only the flag waits for all three.
    int result = query_h264_value(session, kGetH264Qp,
                                  [](H264Cache &cache, uint32_t qp) { cache.qp_quality = h264_quality_from_qp(qp); });
    if (result == QRN_OK)
        result = query_h264_value(session, kGetH264KeyInterval, [](H264Cache &cache, uint32_t interval) {
            cache.key_interval = static_cast<int>(interval);
        });
    if (result == QRN_OK)
        result = query_h264_value(session, kGetH264Stream, [](H264Cache &cache, uint32_t value) {
            cache.stream_value = static_cast<int>(value);
            cache.valid = 1;
        });
    return result;
}

}  // namespace

int fill_video_cache(SessionContext *session)
{
    return fill_once(
        session->video_lock, [session] { return video_cache_valid(session); },
        [session] { return ask_video_info(session); });
}

int fill_h264_cache(SessionContext *session)
{
    return fill_once(
        session->video_lock, [session] { return h264_cache_valid(session); },
        [session] { return ask_h264_values(session); });
}
