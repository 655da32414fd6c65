// G.711 coding: the ITU-T tables both ways, the count conventions, and
// agreement with FFmpeg's pcm_alaw and pcm_mulaw coders where the two differ
// only in the ways they are known to.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "libav_library.h"
#include "qrn_net.h"

namespace {

// ---- G.711 written out from its segment definitions, independent of the SDK's tables ----

// A-law: even bits are sent inverted; segment 0 and 1 share a 16-wide
// interval, each further segment doubles it; a code stands for the middle
// of its interval.
int g711_alaw_sample(uint8_t code)
{
    const int bits = code ^ 0x55;
    const int segment = (bits >> 4) & 7;
    int magnitude = ((bits & 0x0F) << 4) + 8;
    if (segment > 0)
        magnitude = (magnitude + 256) << (segment - 1);
    return (bits & 0x80) ? magnitude : -magnitude;
}

// Mu-law: all bits are sent inverted; the magnitude is biased by 132 in
// 16-bit scale, so the zero codes give 0 here.
int g711_ulaw_sample(uint8_t code)
{
    const int bits = ~code & 0xFF;
    const int biased = (((bits & 0x0F) << 3) + 132) << ((bits >> 4) & 7);
    return (bits & 0x80) ? 132 - biased : biased - 132;
}

// The positive A-law code of a magnitude 0..32767: 13 bits, the segment is
// where the leading one sits, then four step bits.
uint8_t g711_alaw_positive_code(int magnitude)
{
    const int value = magnitude >> 3;
    int segment = 0;
    while (segment < 7 && value >= (32 << segment))
        ++segment;
    const int step = (segment == 0 ? value >> 1 : value >> segment) & 0x0F;
    return static_cast<uint8_t>((0x80 | segment << 4 | step) ^ 0x55);
}

// The positive mu-law code: 14 bits, clipped at 8159, biased by 33; a biased
// value past the last segment is the top code.
uint8_t g711_ulaw_positive_code(int magnitude)
{
    int value = magnitude >> 2;
    if (value > 8159)
        value = 8159;
    value += 33;
    int segment = 0;
    while (segment < 8 && value >= (64 << segment))
        ++segment;
    if (segment == 8)
        return 0x80;
    const int step = (value >> (segment + 1)) & 0x0F;
    return static_cast<uint8_t>(~(segment << 4 | step));
}

uint8_t negative(uint8_t positive_code)
{
    return static_cast<uint8_t>(positive_code & 0x7F);
}

// ---- what the SDK promises on top of G.711 ----

// The mu-law zero codes stand for the middle of [0, 4): +2 and -2.
int expected_ulaw_sample(uint8_t code)
{
    if (code == 0xFF)
        return 2;
    if (code == 0x7F)
        return -2;
    return g711_ulaw_sample(code);
}

// Encoding is symmetric, code(-x) = code(x) AND 0x7F, and -32768 is coded
// as -32767.
uint8_t expected_code(uint8_t (*positive_code)(int), int sample)
{
    const int magnitude = sample < 0 ? (sample == INT16_MIN ? 32767 : -sample) : sample;
    const uint8_t code = positive_code(magnitude);
    return sample < 0 ? negative(code) : code;
}

// (what the SDK gives, what FFmpeg gives)
using Pair = std::pair<int, int>;
using Differences = std::map<int, Pair>;

struct Law {
    const char *name;
    AVCodecID codec;
    int (*decode)(int16_t *, const uint8_t *, int);
    int (*encode)(uint8_t *, const int16_t *, int);
    int (*g711_sample)(uint8_t);
    int (*expected_sample)(uint8_t);
    uint8_t (*positive_code)(int);
    Differences ffmpeg_decode_differences;  // FFmpeg decodes the mu-law zero codes to 0
};

// One field per line, as Law declares them.
// clang-format off
const Law kAlaw{"Alaw",
                AV_CODEC_ID_PCM_ALAW,
                QRN_Coder_G711a_Decode,
                QRN_Coder_G711a_Encode,
                g711_alaw_sample,
                g711_alaw_sample,
                g711_alaw_positive_code,
                {}};
const Law kUlaw{"Ulaw",
                AV_CODEC_ID_PCM_MULAW,
                QRN_Coder_G711u_Decode,
                QRN_Coder_G711u_Encode,
                g711_ulaw_sample,
                expected_ulaw_sample,
                g711_ulaw_positive_code,
                {{0x7F, {-2, 0}}, {0xFF, {2, 0}}}};
// clang-format on

std::vector<uint8_t> every_code()
{
    std::vector<uint8_t> codes(256);
    for (int i = 0; i < 256; ++i)
        codes[i] = static_cast<uint8_t>(i);
    return codes;
}

std::vector<int16_t> every_sample()
{
    std::vector<int16_t> samples(65536);
    for (int i = 0; i < 65536; ++i)
        samples[i] = static_cast<int16_t>(i - 32768);
    return samples;
}

std::vector<int16_t> sdk_decode(const Law &law, const std::vector<uint8_t> &codes)
{
    std::vector<int16_t> samples(codes.size());
    EXPECT_EQ(law.decode(samples.data(), codes.data(), static_cast<int>(codes.size())),
              static_cast<int>(2 * codes.size()));
    return samples;
}

std::vector<uint8_t> sdk_encode(const Law &law, const std::vector<int16_t> &samples)
{
    std::vector<uint8_t> codes(samples.size());
    EXPECT_EQ(law.encode(codes.data(), samples.data(), static_cast<int>(2 * samples.size())),
              static_cast<int>(samples.size()));
    return codes;
}

// ---- FFmpeg's coders through libavcodec ----

// libavcodec is loaded on first use (libav_library.h), so that the tests of
// this binary that run under valgrind never load its dependencies.
struct CodecContextFree {
    void operator()(AVCodecContext *context) const { probesim::libav()->avcodec_free_context(&context); }
};
struct FrameFree {
    void operator()(AVFrame *frame) const { probesim::libav()->av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket *packet) const { probesim::libav()->av_packet_free(&packet); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

void set_mono(AVChannelLayout *layout)
{
    layout->order = AV_CHANNEL_ORDER_NATIVE;
    layout->nb_channels = 1;
    layout->u.mask = AV_CH_LAYOUT_MONO;
}

CodecContext open_codec(const AVCodec *codec, AVSampleFormat format)
{
    if (!codec)
        return nullptr;
    const probesim::LibAv *av = probesim::libav();
    CodecContext context(av->avcodec_alloc_context3(codec));
    context->sample_rate = 8000;
    context->sample_fmt = format;
    set_mono(&context->ch_layout);
    if (av->avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

std::vector<uint8_t> ffmpeg_encode(AVCodecID id, const std::vector<int16_t> &samples)
{
    std::vector<uint8_t> codes;
    const probesim::LibAv *av = probesim::libav();
    if (!av) {
        ADD_FAILURE() << "libavcodec cannot be loaded";
        return codes;
    }
    CodecContext context = open_codec(av->avcodec_find_encoder(id), AV_SAMPLE_FMT_S16);
    Frame frame(av->av_frame_alloc());
    Packet packet(av->av_packet_alloc());
    if (!context || !frame || !packet) {
        ADD_FAILURE() << "cannot open the FFmpeg encoder";
        return codes;
    }
    frame->nb_samples = static_cast<int>(samples.size());
    frame->format = AV_SAMPLE_FMT_S16;
    set_mono(&frame->ch_layout);
    if (av->av_frame_get_buffer(frame.get(), 0) < 0) {
        ADD_FAILURE() << "cannot allocate the frame";
        return codes;
    }
    std::memcpy(frame->data[0], samples.data(), 2 * samples.size());
    EXPECT_EQ(av->avcodec_send_frame(context.get(), frame.get()), 0);
    EXPECT_EQ(av->avcodec_send_frame(context.get(), nullptr), 0);
    while (av->avcodec_receive_packet(context.get(), packet.get()) == 0) {
        codes.insert(codes.end(), packet->data, packet->data + packet->size);
        av->av_packet_unref(packet.get());
    }
    return codes;
}

std::vector<int16_t> ffmpeg_decode(AVCodecID id, const std::vector<uint8_t> &codes)
{
    std::vector<int16_t> samples;
    const probesim::LibAv *av = probesim::libav();
    if (!av) {
        ADD_FAILURE() << "libavcodec cannot be loaded";
        return samples;
    }
    CodecContext context = open_codec(av->avcodec_find_decoder(id), AV_SAMPLE_FMT_NONE);
    Frame frame(av->av_frame_alloc());
    Packet packet(av->av_packet_alloc());
    if (!context || !frame || !packet) {
        ADD_FAILURE() << "cannot open the FFmpeg decoder";
        return samples;
    }
    // A packet that does not own its data is copied by the decoder; the
    // input still needs libavcodec's padding behind it.
    std::vector<uint8_t> padded(codes);
    padded.resize(codes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = padded.data();
    packet->size = static_cast<int>(codes.size());
    EXPECT_EQ(av->avcodec_send_packet(context.get(), packet.get()), 0);
    packet->data = nullptr;
    packet->size = 0;
    EXPECT_EQ(av->avcodec_send_packet(context.get(), nullptr), 0);
    while (av->avcodec_receive_frame(context.get(), frame.get()) == 0) {
        EXPECT_EQ(frame->format, AV_SAMPLE_FMT_S16);
        const auto *data = reinterpret_cast<const int16_t *>(frame->data[0]);
        samples.insert(samples.end(), data, data + frame->nb_samples);
    }
    return samples;
}

// FFmpeg's coders take the sample rounded down to a multiple of 4 (so -1
// counts as -4) and put each decision level at the midpoint of the two
// neighbouring decoded values, rounded half up to that grid of 4. Inside a
// segment that midpoint is G.711's own decision level; where the interval
// doubles at a segment edge it lies a quarter interval higher. The SDK
// follows G.711 and codes -x like x, so the two differ by one step just
// around the decision levels, and nowhere else. That takes in mu-law -1 to
// -3, which FFmpeg codes like -4 (0x7E) and the SDK as negative zero
// (0x7F); -32768 is not among them, as both code it like -32767.
Differences predicted_ffmpeg_encode_differences(const Law &law)
{
    Differences differences;
    uint8_t inner = law.positive_code(0);
    for (int level = 1; level <= 32767; ++level) {
        const uint8_t outer = law.positive_code(level);
        if (outer == inner)
            continue;
        const int ffmpeg_level = (law.g711_sample(inner) + law.g711_sample(outer) + 4) / 8 * 4;
        for (int m = level; m < ffmpeg_level; ++m)
            differences[m] = {outer, inner};
        // FFmpeg codes -m as -(m rounded up to a multiple of 4), outward
        // from m = ffmpeg_level - 3 on.
        for (int m = ffmpeg_level - 3; m < level; ++m)
            differences[-m] = {negative(inner), negative(outer)};
        for (int m = level; m < ffmpeg_level - 3; ++m)
            differences[-m] = {negative(outer), negative(inner)};
        inner = outer;
    }
    return differences;
}

template <typename In, typename Out>
Differences differences_of(const std::vector<In> &inputs, const std::vector<Out> &sdk, const std::vector<Out> &ffmpeg)
{
    Differences differences;
    for (size_t i = 0; i < inputs.size(); ++i)
        if (sdk[i] != ffmpeg[i])
            differences[inputs[i]] = {sdk[i], ffmpeg[i]};
    return differences;
}

// Lists the first entries that the two maps do not share, for a readable failure.
std::string describe_mismatch(const Differences &actual, const Differences &predicted)
{
    std::ostringstream text;
    int shown = 0;
    auto report = [&](const Differences &from, const Differences &other, const char *label) {
        for (const auto &[key, pair] : from) {
            const auto found = other.find(key);
            if (shown < 8 && (found == other.end() || found->second != pair)) {
                text << label << " " << key << ": sdk " << pair.first << ", ffmpeg " << pair.second << "\n";
                ++shown;
            }
        }
    };
    report(actual, predicted, "unexpected");
    report(predicted, actual, "missing");
    return text.str();
}

// ---- tests per law ----

class G711Law : public ::testing::TestWithParam<const Law *> {};

TEST_P(G711Law, DecodesEveryCodeToItsG711Value)
{
    const Law &law = *GetParam();
    const std::vector<int16_t> samples = sdk_decode(law, every_code());
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(samples[code], law.expected_sample(static_cast<uint8_t>(code))) << "code " << code;
}

TEST_P(G711Law, EncodesEverySampleToItsG711Code)
{
    const Law &law = *GetParam();
    const std::vector<int16_t> samples = every_sample();
    const std::vector<uint8_t> codes = sdk_encode(law, samples);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(codes[i], expected_code(law.positive_code, samples[i])) << "sample " << samples[i];
}

TEST_P(G711Law, DecodingThenEncodingReturnsEveryCode)
{
    const Law &law = *GetParam();
    const std::vector<uint8_t> codes = every_code();
    EXPECT_EQ(sdk_encode(law, sdk_decode(law, codes)), codes);
}

TEST_P(G711Law, DecoderDiffersFromFFmpegOnlyAtTheZeroCodes)
{
    const Law &law = *GetParam();
    const std::vector<uint8_t> codes = every_code();
    const std::vector<int16_t> ffmpeg = ffmpeg_decode(law.codec, codes);
    ASSERT_EQ(ffmpeg.size(), codes.size());
    const Differences actual = differences_of(codes, sdk_decode(law, codes), ffmpeg);
    EXPECT_EQ(actual, law.ffmpeg_decode_differences);
}

TEST_P(G711Law, EncoderDiffersFromFFmpegOnlyAroundDecisionLevels)
{
    const Law &law = *GetParam();
    const std::vector<int16_t> samples = every_sample();
    const std::vector<uint8_t> ffmpeg = ffmpeg_encode(law.codec, samples);
    ASSERT_EQ(ffmpeg.size(), samples.size());
    const Differences actual = differences_of(samples, sdk_encode(law, samples), ffmpeg);
    const Differences predicted = predicted_ffmpeg_encode_differences(law);
    EXPECT_EQ(actual.size(), predicted.size());
    EXPECT_TRUE(actual == predicted) << describe_mismatch(actual, predicted);
}

INSTANTIATE_TEST_SUITE_P(G711, G711Law, ::testing::Values(&kAlaw, &kUlaw),
                         [](const ::testing::TestParamInfo<const Law *> &info) { return info.param->name; });

// ---- fixed examples and the count conventions ----

TEST(G711Examples, KnownCodesAndSamples)
{
    struct Decoding {
        const Law *law;
        uint8_t code;
        int sample;
    };
    const Decoding decodings[] = {
        {&kAlaw, 0xD5, 8},      {&kAlaw, 0x55, -8},    {&kAlaw, 0xAA, 32256}, {&kAlaw, 0x2A, -32256},
        {&kUlaw, 0x00, -32124}, {&kUlaw, 0x80, 32124}, {&kUlaw, 0xFF, 2},     {&kUlaw, 0x7F, -2},
        {&kUlaw, 0xFE, 8},      {&kUlaw, 0x7E, -8},
    };
    for (const Decoding &d : decodings) {
        int16_t sample = 0;
        EXPECT_EQ(d.law->decode(&sample, &d.code, 1), 2);
        EXPECT_EQ(sample, d.sample) << d.law->name << " code " << int(d.code);
    }

    struct Encoding {
        const Law *law;
        int16_t sample;
        uint8_t code;
    };
    const Encoding encodings[] = {
        {&kAlaw, 0, 0xD5},   {&kAlaw, -1, 0x55},    {&kAlaw, 15, 0xD5},     {&kAlaw, 16, 0xD4},
        {&kAlaw, -16, 0x54}, {&kAlaw, 32767, 0xAA}, {&kAlaw, -32767, 0x2A}, {&kAlaw, -32768, 0x2A},
        {&kUlaw, 0, 0xFF},   {&kUlaw, 3, 0xFF},     {&kUlaw, -3, 0x7F},     {&kUlaw, 4, 0xFE},
        {&kUlaw, -4, 0x7E},  {&kUlaw, 32767, 0x80}, {&kUlaw, -32767, 0x00}, {&kUlaw, -32768, 0x00},
    };
    for (const Encoding &e : encodings) {
        uint8_t code = 0;
        EXPECT_EQ(e.law->encode(&code, &e.sample, 2), 1);
        EXPECT_EQ(code, e.code) << e.law->name << " sample " << e.sample;
    }
}

// Each call gets a buffer longer than it may fill, with a guard pattern
// behind what it should write.
TEST(G711Counts, ResultAndBytesWrittenFollowTheCount)
{
    constexpr size_t kBuffer = 200;
    constexpr int16_t kGuardSample = 0x5A5A;
    constexpr uint8_t kGuardCode = 0x5A;
    std::vector<uint8_t> codes(kBuffer);
    std::vector<int16_t> samples(kBuffer);
    for (size_t i = 0; i < kBuffer; ++i) {
        codes[i] = static_cast<uint8_t>(i * 7);
        samples[i] = static_cast<int16_t>(i * 311 - 31000);
    }

    struct Case {
        const Law *law;
        bool decode;
        int count;  // codes for decode, input bytes for encode
        int result;
        size_t written;
    };
    const Case cases[] = {
        {&kAlaw, true, 0, 0, 0},
        {&kAlaw, true, -1, 0, 0},
        {&kAlaw, true, INT_MIN, 0, 0},
        {&kAlaw, true, 160, 320, 160},
        {&kUlaw, true, 160, 320, 160},
        {&kUlaw, true, -5, 0, 0},
        // 2 * count would not fit in the int result: refused, nothing read or written.
        {&kAlaw, true, INT_MAX / 2 + 1, 0, 0},
        {&kUlaw, true, INT_MAX, 0, 0},
        {&kUlaw, false, 7, 3, 3},
        {&kUlaw, false, 1, 0, 0},
        {&kUlaw, false, 0, 0, 0},
        {&kUlaw, false, -7, 0, 0},
        {&kAlaw, false, 320, 160, 160},
        {&kAlaw, false, -2, 0, 0},
        {&kAlaw, false, INT_MIN, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.law->name) + (c.decode ? " decode " : " encode ") + std::to_string(c.count));
        if (c.decode) {
            std::vector<int16_t> out(kBuffer, kGuardSample);
            EXPECT_EQ(c.law->decode(out.data(), codes.data(), c.count), c.result);
            for (size_t i = 0; i < kBuffer; ++i)
                ASSERT_EQ(out[i], i < c.written ? c.law->expected_sample(codes[i]) : kGuardSample) << "at " << i;
        } else {
            std::vector<uint8_t> out(kBuffer, kGuardCode);
            EXPECT_EQ(c.law->encode(out.data(), samples.data(), c.count), c.result);
            for (size_t i = 0; i < kBuffer; ++i)
                ASSERT_EQ(out[i], i < c.written ? expected_code(c.law->positive_code, samples[i]) : kGuardCode)
                    << "at " << i;
        }
    }
}

}  // namespace
