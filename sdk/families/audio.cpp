// The device's audio: its format, starting and stopping its stream, handing
// the received blocks to the caller and sending audio to the device.
#include <cstdlib>

#include "byte_order.h"
#include "command_helpers.h"
#include "qrn_net.h"
#include "session_table.h"
#include "wire_protocol.h"

namespace {

constexpr uint16_t kGetAudioParams = 0x2002;
constexpr uint16_t kAudioBegin = 0x2004;
constexpr uint16_t kAudioEnd = 0x2005;
constexpr int kAudioParamSize = 12;

enum AudioWord { kSampleFrequency = 0, kChannels = 1, kBits = 2 };

bool audio_params_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->audio.params_valid != 0;
}

// Asks the device for its format once; a failed or malformed answer leaves
// the cache empty, so the next getter asks again.
int fill_audio_params(SessionContext *session)
{
    if (audio_params_valid(session))
        return QRN_OK;
    // One byte of room past the record, so a longer answer is seen as such.
    uint8_t answer[kAudioParamSize + 1];
    int length = sizeof answer;
    const int result = command_query(session, kGetAudioParams, answer, &length);
    if (result == QRN_ERR_TOO_LONG || (result == QRN_OK && length != kAudioParamSize))
        return QRN_ERR_MALFORMED;
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    for (int i = 0; i < 3; ++i)
        session->audio_params[i] = get_u32le(answer + 4 * i);
    session->audio.params_valid = 1;
    return QRN_OK;
}

// Reads the cached format; an unknown handle is reported before a NULL out,
// and a NULL out asks the device nothing.
template <typename Read>
int read_audio_params(int handle, const void *out, Read read)
{
    const auto fill = [out](SessionContext *session) {
        return out ? fill_audio_params(session) : QRN_ERR_NULL_POINTER;
    };
    return read_filled(handle, fill, read);
}

int get_audio_word(int handle, int *out, AudioWord word)
{
    return read_audio_params(handle, out, [out, word](const SessionContext &session) {
        *out = static_cast<int>(session.audio_params[word]);
        return QRN_OK;
    });
}

}  // namespace

extern "C" {

int QRN_NET_Audio_GetSampleFreq(int handle, int *out)
{
    return get_audio_word(handle, out, kSampleFrequency);
}

int QRN_NET_Audio_GetChannel(int handle, int *out)
{
    return get_audio_word(handle, out, kChannels);
}

int QRN_NET_Audio_GetADBits(int handle, int *out)
{
    return get_audio_word(handle, out, kBits);
}

int QRN_NET_Audio_GetParam(int handle, AudioParam *out)
{
    return read_audio_params(handle, out, [out](const SessionContext &session) {
        out->sample_frequency = session.audio_params[kSampleFrequency];
        out->channels = session.audio_params[kChannels];
        out->bits = session.audio_params[kBits];
        return QRN_OK;
    });
}

// The device's audio format is fixed: nothing is sent.
int QRN_NET_Audio_SetSampleFreq(int, uint32_t)
{
    return QRN_ERR_FAILED;
}

int QRN_NET_Audio_SetADBits(int, uint32_t)
{
    return QRN_ERR_FAILED;
}

int QRN_NET_Audio_SetChannel(int, uint32_t)
{
    return QRN_ERR_FAILED;
}

int QRN_NET_Audio_SetParam(int, const AudioParam *)
{
    return QRN_ERR_FAILED;
}

int QRN_NET_Audio_Begin(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (session->audio.running)
        return QRN_OK;
    // The assembly length belongs to the receive thread; a half-assembled
    // block needs no reset here, as the next first fragment restarts it.
    quarn_queue_clean(session->queues.audio);
    const int result = command_send(session, kAudioBegin, nullptr, 0);
    if (result != QRN_OK)
        return result;
    session->audio.running = 1;
    return QRN_OK;
}

int QRN_NET_Audio_End(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!session->audio.running)
        return QRN_ERR_FAILED;
    const int result = command_send(session, kAudioEnd, nullptr, 0);
    if (result != QRN_OK)
        return result;
    session->audio.running = 0;
    return QRN_OK;
}

int QRN_NET_Audio_RequestData(int handle, void **block)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!block)
        return QRN_ERR_NULL_POINTER;
    void *taken = nullptr;
    int size = 0;
    int tag = 0;
    if (quarn_queue_getElem(session->queues.audio, &taken, &size, &tag) < 0)
        return QRN_ERR_FAILED;
    *block = taken;
    return QRN_OK;
}

int QRN_NET_Audio_ReleaseData(int, void *block)
{
    if (!block)
        return QRN_ERR_FAILED;
    std::free(block);
    return QRN_OK;
}

int QRN_NET_Audio_SendData(int handle, const void *data, int length)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!data || length < 0)
        return QRN_ERR_NULL_POINTER;
    if (!session->audio.running)
        return QRN_ERR_FAILED;
    return send_stream_data(session, STREAM_AUDIO, data, length);
}

}  // extern "C"
