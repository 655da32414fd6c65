// The audio calls against a simulated probe: its format, the tone it streams
// after Begin, the audio it receives, and the calls refused on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "alaw_encoder.h"
#include "probe_wire.h"
#include "stream_session.h"

using namespace testing_support;
using probesim::Fault;

namespace {

using probesim::wire::kAudioBegin;
using probesim::wire::kAudioEnd;
using probesim::wire::kGetAudioParams;
constexpr int kBlockCodes = 160;  // 20 ms at 8 kHz, as the simulated probe frames its audio
constexpr int kTonePeriod = 8;    // 1 kHz at 8 kHz

// A decoded block is a steady 1 kHz tone: it repeats every eight samples,
// crosses zero twice in each period, and is loud.
void expect_tone(const std::vector<int16_t> &samples)
{
    size_t first_mismatch = samples.size();
    int crossings = 0;
    int peak = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i >= kTonePeriod && samples[i] != samples[i - kTonePeriod] && first_mismatch == samples.size())
            first_mismatch = i;
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    EXPECT_EQ(first_mismatch, samples.size()) << "not periodic with 8 samples";
    EXPECT_NEAR(crossings, 2 * static_cast<int>(samples.size()) / kTonePeriod, 1);
    EXPECT_GT(peak, 4000);
}

// A block of codes to send; each seed gives other bytes.
std::vector<uint8_t> host_block(uint8_t seed, size_t size = kBlockCodes)
{
    std::vector<uint8_t> codes(size);
    for (size_t i = 0; i < size; ++i)
        codes[i] = static_cast<uint8_t>(seed + 3 * i);
    return codes;
}

class AudioTest : public StreamSession {
protected:
    // Takes the next audio block the device sends and decodes it.
    std::vector<int16_t> next_decoded_block()
    {
        if (!(wait_for(POLL_AUDIO) & POLL_AUDIO))
            return {};
        void *block = nullptr;
        if (QRN_NET_Audio_RequestData(handle, &block) != QRN_OK)
            return {};
        std::vector<int16_t> samples(kBlockCodes);
        EXPECT_EQ(QRN_Coder_G711a_Decode(samples.data(), static_cast<const uint8_t *>(block), kBlockCodes),
                  2 * kBlockCodes);
        EXPECT_EQ(QRN_NET_Audio_ReleaseData(handle, block), QRN_OK);
        return samples;
    }
};

TEST_F(AudioTest, FormatIsAskedOnceAndServedFromTheCache)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Audio_GetSampleFreq(handle, &value), QRN_OK);
    EXPECT_EQ(value, 8000);
    ASSERT_EQ(QRN_NET_Audio_GetChannel(handle, &value), QRN_OK);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(QRN_NET_Audio_GetADBits(handle, &value), QRN_OK);
    EXPECT_EQ(value, 16);
    AudioParam param{};
    ASSERT_EQ(QRN_NET_Audio_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.sample_frequency, 8000u);
    EXPECT_EQ(param.channels, 1u);
    EXPECT_EQ(param.bits, 16u);
    EXPECT_EQ(count_code(sim(), kGetAudioParams), 1u);
}

TEST_F(AudioTest, RefusedFillLeavesTheCacheEmptySoTheNextGetterAsksAgain)
{
    struct Case {
        Fault fault;
        int expected;
    };
    const Case cases[] = {
        {Fault::AudioParamsShort, QRN_ERR_MALFORMED},
        {Fault::AudioParamsLong, QRN_ERR_MALFORMED},
        {Fault::NonzeroStatus, QRN_ERR_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        reconnect();  // a fresh, empty cache
        sim().set_fault(c.fault);
        int value = -1;
        EXPECT_EQ(QRN_NET_Audio_GetSampleFreq(handle, &value), c.expected);
        EXPECT_EQ(value, -1);
        AudioParam param{7, 7, 7};
        EXPECT_EQ(QRN_NET_Audio_GetParam(handle, &param), c.expected);
        EXPECT_EQ(param.sample_frequency, 7u);

        sim().set_fault(Fault::None);
        EXPECT_EQ(QRN_NET_Audio_GetADBits(handle, &value), QRN_OK);
        EXPECT_EQ(value, 16);
        EXPECT_EQ(count_code(sim(), kGetAudioParams), 3u);
    }
}

TEST_F(AudioTest, BadArgumentsAreRefusedWithoutAsking)
{
    EXPECT_EQ(QRN_NET_Audio_GetSampleFreq(handle, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Audio_GetChannel(handle, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Audio_GetADBits(handle, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Audio_GetParam(handle, nullptr), QRN_ERR_NULL_POINTER);
    const int invalid = kHandleBase + kSlotCount;
    EXPECT_EQ(QRN_NET_Audio_GetSampleFreq(invalid, nullptr), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Audio_RequestData(handle, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Audio_ReleaseData(handle, nullptr), QRN_ERR_FAILED);
    int value = 0;
    void *block = nullptr;
    EXPECT_EQ(QRN_NET_Audio_GetSampleFreq(invalid, &value), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Audio_Begin(invalid), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Audio_End(invalid), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Audio_RequestData(invalid, &block), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Audio_SendData(invalid, &value, 4), QRN_ERR_INVALID_HANDLE);
    EXPECT_TRUE(sim().packets().empty());
}

TEST_F(AudioTest, SettersFailForAnyHandleAndSendNothing)
{
    const AudioParam param{16000, 2, 8};
    for (int h : {handle, 0, -1, static_cast<int>(kHandleBase + kSlotCount - 1)}) {
        EXPECT_EQ(QRN_NET_Audio_SetSampleFreq(h, 16000), QRN_ERR_FAILED);
        EXPECT_EQ(QRN_NET_Audio_SetChannel(h, 2), QRN_ERR_FAILED);
        EXPECT_EQ(QRN_NET_Audio_SetADBits(h, 8), QRN_ERR_FAILED);
        EXPECT_EQ(QRN_NET_Audio_SetParam(h, &param), QRN_ERR_FAILED);
        EXPECT_EQ(QRN_NET_Audio_SetParam(h, nullptr), QRN_ERR_FAILED);
    }
    EXPECT_TRUE(sim().packets().empty());
}

TEST_F(AudioTest, BeginStreamsTheToneUntilEnd)
{
    EXPECT_EQ(sim().state().audio_blocks_sent, 0u) << "no audio before Begin";
    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    EXPECT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK) << "already running";
    EXPECT_EQ(count_code(sim(), kAudioBegin), 1u) << "a running stream is not started twice";

    const std::vector<int16_t> samples = next_decoded_block();
    ASSERT_EQ(samples.size(), static_cast<size_t>(kBlockCodes));
    expect_tone(samples);
    expect_tone(next_decoded_block());  // the phase runs on from block to block

    ASSERT_EQ(QRN_NET_Audio_End(handle), QRN_OK);
    EXPECT_EQ(count_code(sim(), kAudioEnd), 1u);
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_ERR_FAILED) << "stopped";
    // A block already on its way may still arrive; a stream going on would
    // bring several more in this time.
    const size_t sent = sim().state().audio_blocks_sent;
    EXPECT_FALSE(sim().wait_until([&](const auto &s) { return s.audio_blocks_sent >= sent + 3; },
                                  std::chrono::milliseconds(300)));
}

TEST_F(AudioTest, BeginDropsBlocksQueuedBefore)
{
    probesim::StreamPacket stale;
    stale.type = 2;
    stale.payload.assign(kBlockCodes, 0x11);
    ASSERT_TRUE(sim().send_stream_packets({stale}));
    ASSERT_TRUE(wait_for(POLL_AUDIO) & POLL_AUDIO);

    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    const std::vector<int16_t> samples = next_decoded_block();
    ASSERT_EQ(samples.size(), static_cast<size_t>(kBlockCodes));
    expect_tone(samples);
}

TEST_F(AudioTest, EndAndSendBeforeBeginFail)
{
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_ERR_FAILED);
    const std::vector<uint8_t> refused = host_block(1);
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, refused.data(), kBlockCodes), QRN_ERR_FAILED);
    void *block = nullptr;
    EXPECT_EQ(QRN_NET_Audio_RequestData(handle, &block), QRN_ERR_FAILED) << "nothing queued";
    EXPECT_TRUE(sim().packets().empty());
    // The stream keeps its order: once a later block has arrived, a refused
    // one that went out anyway would have arrived before it.
    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    const std::vector<uint8_t> later = host_block(2, 4);
    ASSERT_EQ(QRN_NET_Audio_SendData(handle, later.data(), 4), QRN_OK);
    ASSERT_TRUE(sim().wait_until([&](const auto &s) { return s.last_host_audio == later; }, kStreamWait));
    EXPECT_EQ(sim().state().host_audio_blocks, 1u);
}

TEST_F(AudioTest, SentAudioReachesTheDeviceIntact)
{
    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    const std::vector<uint8_t> first = host_block(3);
    const std::vector<uint8_t> second = host_block(4);
    ASSERT_EQ(QRN_NET_Audio_SendData(handle, first.data(), kBlockCodes), QRN_OK);
    ASSERT_TRUE(sim().wait_until([&](const auto &s) { return s.host_audio_blocks >= 1; }, kStreamWait));
    EXPECT_EQ(sim().state().last_host_audio, first);

    // Refused sends put nothing on the stream: the next block is the second.
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, nullptr, kBlockCodes), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, second.data(), -1), QRN_ERR_NULL_POINTER);
    ASSERT_EQ(QRN_NET_Audio_SendData(handle, second.data(), kBlockCodes), QRN_OK);
    ASSERT_TRUE(sim().wait_until([&](const auto &s) { return s.last_host_audio == second; }, kStreamWait));
    EXPECT_EQ(sim().state().host_audio_blocks, 2u);
}

TEST_F(AudioTest, FailedBeginLeavesAudioStopped)
{
    sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Audio_Begin(handle), QRN_ERR_FAILED);
    sim().set_fault(Fault::None);
    const uint8_t code = 0xD5;
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, &code, 1), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_ERR_FAILED);
    EXPECT_EQ(count_code(sim(), kAudioEnd), 0u);
}

TEST_F(AudioTest, FailedEndKeepsAudioRunning)
{
    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_ERR_FAILED);
    sim().set_fault(Fault::None);
    const uint8_t code = 0xD5;
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, &code, 1), QRN_OK);
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_OK);
}

TEST_F(AudioTest, AReconnectStartsStoppedWithAnEmptyCache)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Audio_GetSampleFreq(handle, &value), QRN_OK);
    ASSERT_EQ(QRN_NET_Audio_Begin(handle), QRN_OK);
    reconnect();
    const uint8_t code = 0xD5;
    EXPECT_EQ(QRN_NET_Audio_SendData(handle, &code, 1), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Audio_End(handle), QRN_ERR_FAILED);
    ASSERT_EQ(QRN_NET_Audio_GetSampleFreq(handle, &value), QRN_OK);
    EXPECT_EQ(count_code(sim(), kGetAudioParams), 1u) << "the new session asks again";
}

TEST_F(AudioTest, ParameterNoticeReplacesTheCachedFormat)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Audio_GetSampleFreq(handle, &value), QRN_OK);
    ASSERT_TRUE(sim().send_param_change(3, u32_words({16000, 2, 8})));
    ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);
    int sub_type = -1;
    ASSERT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), QRN_OK);
    EXPECT_EQ(sub_type, 3);
    AudioParam param{};
    ASSERT_EQ(QRN_NET_Audio_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.sample_frequency, 16000u);
    EXPECT_EQ(param.channels, 2u);
    EXPECT_EQ(param.bits, 8u);
    EXPECT_EQ(count_code(sim(), kGetAudioParams), 1u);
}

// The simulator's encoder is written apart from the library's codec; the
// tone test relies on the two agreeing.
TEST(SimulatorAlaw, AgreesWithTheLibraryCodec)
{
    int first_code_mismatch = 40000;
    int first_far_decode = 40000;
    for (int x = -32768; x <= 32767; ++x) {
        const int16_t sample = static_cast<int16_t>(x);
        const uint8_t code = probesim::alaw_encode(sample);
        uint8_t library_code = 0;
        QRN_Coder_G711a_Encode(&library_code, &sample, 2);
        // Negative samples may round either way at a step's edge.
        if (x >= 0 && code != library_code && first_code_mismatch == 40000)
            first_code_mismatch = x;
        int16_t decoded = 0;
        QRN_Coder_G711a_Decode(&decoded, &code, 1);
        const int error = std::abs(decoded - x);
        if (error > std::max(16, std::abs(x) / 16) && first_far_decode == 40000)
            first_far_decode = x;
    }
    EXPECT_EQ(first_code_mismatch, 40000);
    EXPECT_EQ(first_far_decode, 40000);
}

}  // namespace
