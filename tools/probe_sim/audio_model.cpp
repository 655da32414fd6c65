#include "audio_model.h"

#include "alaw_encoder.h"
#include "probe_wire.h"

#include <cmath>

namespace probesim {

namespace {

// About -12 dB below full scale: loud, and far from clipping.
constexpr double kToneAmplitude = 8000.0;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

bool AudioModel::handles(uint16_t code)
{
    return code == wire::kGetAudioParams || code == wire::kAudioBegin || code == wire::kAudioEnd;
}

AudioAnswer AudioModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    if (!payload.empty())
        return status_answer<AudioAnswer>(wire::kStatusBadArgument);
    AudioAnswer a;
    switch (code) {
    case wire::kGetAudioParams:
        a.payload.resize(12);
        wire::put_u32(a.payload.data(), kAudioSampleRate);
        wire::put_u32(a.payload.data() + 4, kAudioChannels);
        wire::put_u32(a.payload.data() + 8, kAudioBits);
        break;
    case wire::kAudioBegin:
        a.event = AudioEvent::Begin;
        break;
    case wire::kAudioEnd:
        a.event = AudioEvent::End;
        break;
    default:
        return status_answer<AudioAnswer>(wire::kStatusUnsupported);
    }
    return a;
}

std::vector<uint8_t> AudioModel::next_block()
{
    std::vector<uint8_t> codes(kAudioBlockSamples);
    for (uint8_t &code : codes) {
        // The position wraps after one second, where the tone's cycle ends
        // too, so the phase stays exact however long the stream runs.
        const double phase = 2.0 * kPi * kToneFrequency * tone_position_ / kAudioSampleRate;
        code = alaw_encode(static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(phase))));
        tone_position_ = (tone_position_ + 1) % kAudioSampleRate;
    }
    return codes;
}

void AudioModel::play(const std::vector<uint8_t> &block)
{
    ++blocks_played_;
    last_played_ = block;
}

}  // namespace probesim
