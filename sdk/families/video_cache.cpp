#include "video_cache.h"

#include <cstring>

#include "byte_order.h"
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

// Asks for one u32; an answer of another length is not a word.
int query_word(SessionContext *session, uint16_t code, uint32_t *value)
{
    uint8_t answer[4] = {};
    int length = sizeof answer;
    const int result = command_query(session, code, answer, &length);
    if (result != QRN_OK)
        return result;
    if (length != sizeof answer)
        return QRN_ERR_MALFORMED;
    *value = get_u32le(answer);
    return QRN_OK;
}

}  // namespace

int fill_video_cache(SessionContext *session)
{
    if (video_cache_valid(session))
        return QRN_OK;
    SessionLock video_lock(session->video_lock);  // serialises the fills; before the command lock
    if (video_cache_valid(session))  // another caller filled it while we waited
        return QRN_OK;

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

int fill_h264_cache(SessionContext *session)
{
    if (h264_cache_valid(session))
        return QRN_OK;
    SessionLock video_lock(session->video_lock);
    if (h264_cache_valid(session))
        return QRN_OK;

    // Each value is kept as soon as it arrives; only the flag waits for all three.
    uint32_t qp = 0;
    int result = query_word(session, kGetH264Qp, &qp);
    if (result != QRN_OK)
        return result;
    {
        std::lock_guard<std::mutex> guard(session->cache_mutex);
        session->h264_cache.qp_quality = h264_quality_from_qp(qp);
    }
    uint32_t key_interval = 0;
    result = query_word(session, kGetH264KeyInterval, &key_interval);
    if (result != QRN_OK)
        return result;
    {
        std::lock_guard<std::mutex> guard(session->cache_mutex);
        session->h264_cache.key_interval = static_cast<int>(key_interval);
    }
    uint32_t stream_value = 0;
    result = query_word(session, kGetH264Stream, &stream_value);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    session->h264_cache.stream_value = static_cast<int>(stream_value);
    session->h264_cache.valid = 1;
    return QRN_OK;
}
