// The simulated probe's audio: its fixed format, what its microphone picks up
// (a steady tone) and what the host plays on its speaker. No I/O here; the
// simulator sends the blocks and hands over what arrives.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model_answer.h"

namespace probesim {

constexpr uint32_t kAudioSampleRate = 8000;
constexpr uint32_t kAudioChannels = 1;
constexpr uint32_t kAudioBits = 16;
constexpr uint32_t kToneFrequency = 1000;
constexpr size_t kAudioBlockSamples = 160;
constexpr auto kAudioBlockInterval = std::chrono::milliseconds(20);  // one block's worth of samples

enum class AudioEvent { None, Begin, End };

struct AudioAnswer : ModelAnswer {
    AudioEvent event = AudioEvent::None;
};

class AudioModel {
public:
    static bool handles(uint16_t code);
    AudioAnswer answer(uint16_t code, const std::vector<uint8_t> &payload);

    // The next block of the tone as A-law codes; its phase runs on from the last block.
    std::vector<uint8_t> next_block();

    // One block the host sent for the speaker.
    void play(const std::vector<uint8_t> &block);
    size_t blocks_played() const { return blocks_played_; }
    const std::vector<uint8_t> &last_played() const { return last_played_; }

private:
    uint32_t tone_position_ = 0;  // samples into the tone's repeating cycle
    size_t blocks_played_ = 0;
    std::vector<uint8_t> last_played_;
};

}  // namespace probesim
