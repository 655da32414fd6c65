// The simulated probe's video side, seen from a bare host made of plain
// sockets: what it streams, how it answers the video commands, and the
// stream faults it can inject. The SDK is not involved, so these tests hold
// the simulator to the wire format on its own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "bare_host.h"
#include "end_face_picture.h"
#include "jpeg_encoder.h"
#include "libav_library.h"
#include "plain_stream_sender.h"
#include "probe_simulator.h"
#include "probe_wire.h"
#include "test_support.h"

using namespace std::chrono_literals;
using probesim::Fault;
using probesim::ProbeSimulator;
using probesim::StreamOptions;
using testing_support::RunningSim;
using testing_support::start_sim;

namespace {

namespace wire = probesim::wire;
using namespace bare_host;
using wire::get_u32;
using wire::put_u32;

constexpr uint32_t kMjpeg = wire::kFormatMjpeg;
constexpr uint32_t kH264 = wire::kFormatH264;
constexpr uint32_t kYuyv = wire::kFormatYuyv;
constexpr size_t kFrameHeaderSize = wire::kFrameHeaderSize;
constexpr size_t kHostFrameBuffer = wire::kMaxFramePayload;

std::vector<uint32_t> words(const std::vector<uint8_t> &bytes, size_t from = 0)
{
    std::vector<uint32_t> out;
    for (size_t i = from; i + 4 <= bytes.size(); i += 4)
        out.push_back(get_u32(&bytes[i]));
    return out;
}

struct Picture {
    bool ok = false;
    int width = 0;
    int height = 0;
    double mean_luma = 0;
};

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpeg_error_exit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1);
}

// libjpeg reports through longjmp: only trivially destructible locals here.
Picture decode_jpeg(const std::vector<uint8_t> &data)
{
    Picture picture;
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_error_exit;
    error.manager.output_message = [](j_common_ptr) {};
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return Picture();
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    JSAMPARRAY row =
        (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, info.output_width, 1);
    double sum = 0;
    while (info.output_scanline < info.output_height) {
        jpeg_read_scanlines(&info, row, 1);
        for (JDIMENSION x = 0; x < info.output_width; ++x)
            sum += row[0][x];
    }
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.mean_luma = sum / (static_cast<double>(info.output_width) * info.output_height);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    picture.ok = true;
    return picture;
}

// True when a DHT marker segment comes before the start of scan.
bool has_huffman_tables(const std::vector<uint8_t> &jpeg)
{
    size_t p = 2;
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA) {
        if (jpeg[p + 1] == 0xC4)
            return true;
        p += 2 + (static_cast<size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3]);
    }
    return false;
}

bool has_marker(const std::vector<uint8_t> &jpeg, uint8_t marker)
{
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
            return true;
    return false;
}

// Decodes an H.264 stream frame by frame, through the same library the
// simulator encodes with.
class H264Decoder {
public:
    H264Decoder() : av_(probesim::libav())
    {
        const AVCodec *codec = av_ ? av_->avcodec_find_decoder(AV_CODEC_ID_H264) : nullptr;
        if (!codec)
            return;
        context_ = av_->avcodec_alloc_context3(codec);
        context_->thread_count = 1;  // no frame threads: a picture out for every frame in
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        packet_ = av_->av_packet_alloc();
        frame_ = av_->av_frame_alloc();
        if (av_->avcodec_open2(context_, codec, nullptr) < 0)
            av_->avcodec_free_context(&context_);
    }
    ~H264Decoder()
    {
        if (!av_)
            return;
        av_->av_frame_free(&frame_);
        av_->av_packet_free(&packet_);
        av_->avcodec_free_context(&context_);
    }

    bool ready() const { return context_ != nullptr; }

    // The size of the picture this frame decodes to; nullopt when it does not.
    std::optional<std::pair<int, int>> decode(const std::vector<uint8_t> &data)
    {
        std::vector<uint8_t> padded(data);
        padded.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet_->data = padded.data();
        packet_->size = static_cast<int>(data.size());
        const int sent = av_->avcodec_send_packet(context_, packet_);
        packet_->data = nullptr;
        packet_->size = 0;
        if (sent < 0 || av_->avcodec_receive_frame(context_, frame_) < 0)
            return std::nullopt;
        return std::make_pair(frame_->width, frame_->height);
    }

private:
    const probesim::LibAv *av_;
    AVCodecContext *context_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVFrame *frame_ = nullptr;
};

bool h264_offered(const ProbeSimulator &sim)
{
    const auto block = sim.video_info_block();
    for (size_t r = 0; r < 4; ++r)
        if (get_u32(&block[r * 100]) == kH264)
            return true;
    return false;
}

class SimulatorStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        running = start_sim();
        host = std::make_unique<Host>(running.address);
        ASSERT_TRUE(host->login());
        ASSERT_TRUE(host->accept_stream());
        // The host may accept before the device has seen its connect complete.
        ASSERT_TRUE(sim().wait_until([&](const auto &s) { return s.stream_connections_made >= 1; }, kWait));
    }

    void begin_video() { ASSERT_EQ(host->command(wire::kVideoBegin).status, 0); }

    ProbeSimulator &sim() { return *running.sim; }

    RunningSim running;
    std::unique_ptr<Host> host;
};

TEST_F(SimulatorStream, StreamsFragmentedMjpegFramesOnlyBetweenBeginAndEnd)
{
    StreamOptions options;
    options.fragment_size = 8192;
    sim().set_stream_options(options);
    EXPECT_TRUE(host->quiet(kVideo)) << "video starts only with 0x100A";

    begin_video();
    std::optional<Frame> first = host->frame(kVideo);
    std::optional<Frame> second = host->frame(kVideo);
    ASSERT_TRUE(first && second);
    for (const Frame *f : {&*first, &*second}) {
        EXPECT_GT(f->packets.size(), 1u);
        for (const Packet &p : f->packets)
            EXPECT_LE(p.payload.size(), options.fragment_size);
        EXPECT_EQ(f->format(), kMjpeg);
        EXPECT_EQ(f->resolution(), wire::resolution_code(1280, 960));
        EXPECT_EQ(f->declared_length(), f->payload.size() - kFrameHeaderSize);
        EXPECT_LE(f->payload.size(), kHostFrameBuffer);
        const Picture picture = decode_jpeg(f->data());
        EXPECT_TRUE(picture.ok);
        EXPECT_EQ(picture.width, 1280);
        EXPECT_EQ(picture.height, 960);
        EXPECT_TRUE(has_huffman_tables(f->data()));
    }
    EXPECT_EQ(second->sequence(), first->sequence() + 1);
    EXPECT_NE(first->data(), second->data()) << "the frame counter tells frames apart";
    EXPECT_GE(sim().state().video_frames_sent, 2u);

    EXPECT_EQ(host->command(wire::kVideoEnd).status, 0);
    host->stream->drain(kVideo);  // what was sent before, and the frame in flight
    EXPECT_TRUE(host->quiet(kVideo)) << "0x100B stops the video";
}

struct FormatCase {
    const char *name;
    uint32_t format;
    uint16_t width;
    uint16_t height;
};

class SimulatorFormats : public SimulatorStream, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(SimulatorFormats, FramesCarryTheFormatAndDecodeAtTheSetSize)
{
    const FormatCase c = GetParam();
    if (c.format == kH264 && !h264_offered(sim()))
        GTEST_SKIP() << "no H.264 encoder on this machine";
    sim().set_video_format(c.format, c.width, c.height, 30);
    begin_video();
    H264Decoder h264;
    for (int n = 0; n < 3; ++n) {
        std::optional<Frame> f = host->frame(kVideo);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->format(), c.format);
        EXPECT_EQ(f->resolution(), wire::resolution_code(c.width, c.height));
        EXPECT_EQ(f->declared_length(), f->payload.size() - kFrameHeaderSize);
        if (c.format == kYuyv) {
            ASSERT_EQ(f->data().size(), static_cast<size_t>(c.width) * c.height * 2);
            const std::vector<uint8_t> data = f->data();
            // Centre of the picture: the bright core, neutral chroma.
            const size_t centre = (static_cast<size_t>(c.height / 2) * c.width + c.width / 2) * 2;
            EXPECT_GT(data[centre], 180);
            EXPECT_EQ(data[centre + 1], 128);
        } else if (c.format == kMjpeg) {
            const Picture picture = decode_jpeg(f->data());
            EXPECT_TRUE(picture.ok);
            EXPECT_EQ(picture.width, c.width);
            EXPECT_EQ(picture.height, c.height);
        } else {
            ASSERT_TRUE(h264.ready());
            if (n == 0) {
                EXPECT_TRUE(f->key_frame()) << "a stream starts with a key frame";
            }
            const auto size = h264.decode(f->data());
            ASSERT_TRUE(size) << "frame " << n << " decodes";
            EXPECT_EQ(*size, std::make_pair(static_cast<int>(c.width), static_cast<int>(c.height)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SimulatorFormats,
                         ::testing::Values(FormatCase{"Mjpeg640", kMjpeg, 640, 480},
                                           FormatCase{"Yuyv320", kYuyv, 320, 240},
                                           FormatCase{"H264At1280", kH264, 1280, 960},
                                           FormatCase{"H264At640", kH264, 640, 480}),
                         [](const ::testing::TestParamInfo<FormatCase> &info) { return std::string(info.param.name); });

TEST_F(SimulatorStream, H264KeyFrameFollowsForceKeyFrame)
{
    if (!h264_offered(sim()))
        GTEST_SKIP() << "no H.264 encoder on this machine";
    sim().set_video_format(kH264, 640, 480, 30);
    ASSERT_EQ(host->command(wire::kSetKeyInterval, u32_payload(300)).status, 0);  // no periodic key frame to hide it
    begin_video();
    H264Decoder decoder;
    ASSERT_TRUE(decoder.ready());
    for (int n = 0; n < 4; ++n) {
        std::optional<Frame> f = host->frame(kVideo);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->key_frame(), n == 0);
        EXPECT_TRUE(decoder.decode(f->data()));
    }
    ASSERT_EQ(host->command(wire::kForceKeyFrame).status, 0);
    EXPECT_EQ(sim().state().key_frame_requests, 1u);
    bool key_seen = false;
    for (int n = 0; n < 3 && !key_seen; ++n) {
        std::optional<Frame> f = host->frame(kVideo);
        ASSERT_TRUE(f);
        EXPECT_TRUE(decoder.decode(f->data()));
        key_seen = f->key_frame();
    }
    EXPECT_TRUE(key_seen) << "the frame encoded after 0x1019 is a key frame";
}

TEST_F(SimulatorStream, H264DropEveryLeavesSequenceGaps)
{
    if (!h264_offered(sim()))
        GTEST_SKIP() << "no H.264 encoder on this machine";
    StreamOptions options;
    options.drop_every = 3;
    sim().set_stream_options(options);
    sim().set_video_format(kH264, 640, 480, 30);
    begin_video();
    std::vector<uint32_t> sequences;
    for (int n = 0; n < 6; ++n) {
        std::optional<Frame> f = host->frame(kVideo);
        ASSERT_TRUE(f);
        sequences.push_back(f->sequence());
    }
    EXPECT_EQ(sequences, (std::vector<uint32_t>{1, 2, 4, 5, 7, 8}));
}

TEST_F(SimulatorStream, StrippedMjpegFramesLackOnlyTheHuffmanTables)
{
    StreamOptions options;
    options.strip_dht = true;
    sim().set_stream_options(options);
    sim().set_video_format(kMjpeg, 320, 240, 30);
    begin_video();
    std::optional<Frame> f = host->frame(kVideo);
    ASSERT_TRUE(f);
    const std::vector<uint8_t> data = f->data();
    EXPECT_FALSE(has_huffman_tables(data));
    EXPECT_TRUE(has_marker(data, 0xC0)) << "baseline start of frame kept";
    EXPECT_TRUE(has_marker(data, 0xDB)) << "quantisation tables kept";
    EXPECT_TRUE(has_marker(data, 0xDA));
    // The decoder falls back to the standard tables, which the encoder used.
    const Picture picture = decode_jpeg(data);
    EXPECT_TRUE(picture.ok);
    EXPECT_EQ(picture.width, 320);
}

TEST_F(SimulatorStream, BrightnessControlChangesTheLuminance)
{
    sim().set_video_format(kMjpeg, 320, 240, 30);
    begin_video();
    std::optional<Frame> before = host->frame(kVideo);
    ASSERT_TRUE(before);
    std::vector<uint8_t> set(36, 0);
    put_u32(&set[0], 0);
    put_u32(&set[4 + 8], 228);
    ASSERT_EQ(host->command(wire::kSetVideoCtrl, set).status, 0);
    std::optional<Frame> after = host->fresh_frame(sim());
    ASSERT_TRUE(after);
    const Picture dim = decode_jpeg(before->data());
    const Picture bright = decode_jpeg(after->data());
    ASSERT_TRUE(dim.ok && bright.ok);
    EXPECT_GT(bright.mean_luma, dim.mean_luma + 60);
}

TEST_F(SimulatorStream, HostDroppingTheStreamMakesTheDeviceConnectAgain)
{
    begin_video();
    ASSERT_TRUE(host->frame(kVideo));
    host->close_stream();
    ASSERT_TRUE(host->accept_stream()) << "the device connects back on its own";
    EXPECT_TRUE(sim().wait_until([](const auto &s) { return s.stream_connections_made == 2; }, kWait));
    std::optional<Frame> f = host->frame(kVideo);
    ASSERT_TRUE(f) << "and goes on streaming without another 0x100A";
    EXPECT_TRUE(decode_jpeg(f->data()).ok);
}

TEST_F(SimulatorStream, LogoutClosesTheStreamForGood)
{
    begin_video();
    ASSERT_TRUE(host->frame(kVideo));
    host->logout();
    EXPECT_TRUE(host->stream->wait_closed());
    EXPECT_FALSE(host->accept_stream(1s));
    EXPECT_EQ(sim().state().stream_connections_made, 1u);
}

struct StreamFaultCase {
    const char *name;
    Fault fault;
    // Checks the packets of the faulted frame; the host's reader is past them afterwards.
    std::function<void(Host &)> check;
};

void PrintTo(const StreamFaultCase &c, std::ostream *out)
{
    *out << c.name;
}

class SimulatorStreamFaults : public SimulatorStream, public ::testing::WithParamInterface<StreamFaultCase> {};

TEST_P(SimulatorStreamFaults, FaultHitsOneFrameThenClears)
{
    StreamOptions options;
    options.fragment_size = 4096;
    sim().set_stream_options(options);
    sim().set_video_format(kMjpeg, 640, 480, 30);
    begin_video();
    ASSERT_TRUE(host->frame(kVideo));
    sim().set_fault(GetParam().fault);
    GetParam().check(*host);
    if (GetParam().fault == Fault::StreamDropMidFrame)
        return;
    // The fault was used up: what follows is well formed again.
    for (int n = 0; n < 2; ++n) {
        std::optional<Frame> f = host->frame(kVideo);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->declared_length(), f->payload.size() - kFrameHeaderSize);
        EXPECT_TRUE(decode_jpeg(f->data()).ok);
    }
}

// Skips whole frames up to the first packet that is not part of a good one.
std::optional<Packet> first_odd_packet(Host &host)
{
    for (int n = 0; n < 20; ++n) {
        std::optional<Packet> p = host.stream->next();
        if (!p)
            return std::nullopt;
        if (!p->magic_ok() || p->token != host.token || p->type != kVideo || p->payload.size() > 4096)
            return p;
        if (p->index == 0 && get_u32(&p->payload[24]) != 0) {
            // A frame starts: read its other fragments, keep it if its length disagrees.
            std::vector<uint8_t> whole = p->payload;
            for (uint8_t i = 1; i < p->count; ++i) {
                std::optional<Packet> q = host.stream->next();
                if (!q)
                    return std::nullopt;
                whole.insert(whole.end(), q->payload.begin(), q->payload.end());
            }
            if (get_u32(&whole[24]) != whole.size() - kFrameHeaderSize) {
                p->payload = whole;
                return p;
            }
        }
    }
    return std::nullopt;
}

void expect_frame_follows(Host &host)
{
    std::optional<Frame> f = host.frame(kVideo);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->declared_length(), f->payload.size() - kFrameHeaderSize);
}

// A corrupt header makes a host drop the connection; the device comes back.
void reconnect(Host &host)
{
    host.close_stream();
    ASSERT_TRUE(host.accept_stream());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatorStreamFaults,
    ::testing::Values(StreamFaultCase{"WrongMagic", Fault::StreamWrongMagic,
                                      [](Host &host) {
                                          std::optional<Packet> p = first_odd_packet(host);
                                          ASSERT_TRUE(p);
                                          EXPECT_EQ(std::string(p->magic, p->magic + 3), "QRX");
                                          EXPECT_EQ(p->index, 0);
                                          reconnect(host);
                                      }},
                      StreamFaultCase{"WrongToken", Fault::StreamWrongToken,
                                      [](Host &host) {
                                          std::optional<Packet> p = first_odd_packet(host);
                                          ASSERT_TRUE(p);
                                          EXPECT_EQ(p->token, host.token + 1);
                                          EXPECT_EQ(p->index, 0);
                                          reconnect(host);
                                      }},
                      StreamFaultCase{"LengthMismatch", Fault::StreamLengthMismatch,
                                      [](Host &host) {
                                          std::optional<Packet> p = first_odd_packet(host);
                                          ASSERT_TRUE(p);
                                          EXPECT_EQ(get_u32(&p->payload[24]), p->payload.size() - kFrameHeaderSize + 1);
                                      }},
                      StreamFaultCase{"OversizedPayload", Fault::StreamOversizedPayload,
                                      [](Host &host) {
                                          std::optional<Packet> p = first_odd_packet(host);
                                          ASSERT_TRUE(p);
                                          EXPECT_EQ(p->type, kVideo);
                                          EXPECT_EQ(p->count, 1);
                                          EXPECT_EQ(p->index, 0);
                                          EXPECT_EQ(p->payload.size(), kHostFrameBuffer + 64);
                                          EXPECT_TRUE(std::all_of(p->payload.begin(), p->payload.end(),
                                                                  [](uint8_t b) { return b == 0; }));
                                          expect_frame_follows(host);
                                      }},
                      StreamFaultCase{"UnknownType", Fault::StreamUnknownType,
                                      [](Host &host) {
                                          std::optional<Packet> p = first_odd_packet(host);
                                          ASSERT_TRUE(p);
                                          EXPECT_EQ(p->type, 7);
                                          EXPECT_EQ(p->payload.size(), 100u);
                                          expect_frame_follows(host);
                                      }},
                      StreamFaultCase{"DropMidFrame", Fault::StreamDropMidFrame,
                                      [](Host &host) {
                                          // Whole frames, then one first fragment, then the end.
                                          std::optional<Packet> last;
                                          while (std::optional<Packet> p = host.stream->next())
                                              last = std::move(p);
                                          ASSERT_TRUE(last);
                                          EXPECT_EQ(last->index, 0);
                                          EXPECT_GT(last->count, 1);
                                          EXPECT_FALSE(host.accept_stream(1s))
                                              << "no reconnect after the device dropped it";
                                      }}),
    [](const ::testing::TestParamInfo<StreamFaultCase> &info) { return std::string(info.param.name); });

TEST_F(SimulatorStream, VideoInfoBlockDescribesOffersControlsAndSettings)
{
    const Reply reply = host->command(wire::kGetVideoInfo);
    ASSERT_EQ(reply.status, 0);
    const auto block = sim().video_info_block();
    ASSERT_EQ(reply.payload, std::vector<uint8_t>(block.begin(), block.end()));

    const std::vector<uint32_t> w = words(reply.payload);
    std::vector<uint32_t> formats;
    for (size_t r = 0; r < 4; ++r) {
        const uint32_t format = w[r * 25];
        formats.push_back(format);
        for (size_t i = 0; i < 12; ++i) {
            const uint32_t code = w[r * 25 + 1 + 2 * i];
            const uint32_t max_fps = w[r * 25 + 2 + 2 * i];
            EXPECT_EQ(code == 0, max_fps == 0);
            if (format == kYuyv && code != 0) {
                EXPECT_LE((code >> 16) * (code & 0xFFFF) * 2 + kFrameHeaderSize, kHostFrameBuffer)
                    << "every raw size fits the host's frame buffer";
            }
        }
    }
    EXPECT_EQ(formats[0], kMjpeg);
    EXPECT_EQ(formats[3], 0u);
    EXPECT_NE(std::find(formats.begin(), formats.end(), kYuyv), formats.end());

    size_t absent = 0;
    for (size_t i = 0; i < 10; ++i) {
        const uint32_t *c = &w[100 + 8 * i];
        if (!c[0]) {
            ++absent;
            continue;
        }
        EXPECT_LE(static_cast<int32_t>(c[1]), static_cast<int32_t>(c[2])) << "control " << i;
        EXPECT_LE(static_cast<int32_t>(c[2]), static_cast<int32_t>(c[3])) << "control " << i;
        EXPECT_EQ(c[2], c[5]) << "control " << i << " starts at its default";
    }
    EXPECT_EQ(absent, 1u);
    EXPECT_EQ(std::vector<uint32_t>(&w[100], &w[106]), (std::vector<uint32_t>{1, 0, 128, 255, 1, 128})) << "brightness";
    EXPECT_EQ(std::vector<uint32_t>(w.end() - 4, w.end()),
              (std::vector<uint32_t>{kMjpeg, wire::resolution_code(1280, 960), 30, 30}));

    sim().set_fault(Fault::VideoInfoShort);
    const Reply short_reply = host->command(wire::kGetVideoInfo);
    EXPECT_EQ(short_reply.status, 0);
    EXPECT_EQ(short_reply.payload.size(), 700u);
}

TEST_F(SimulatorStream, PayloadsOfTheWrongLengthAreRefused)
{
    struct Case {
        uint16_t code;
        size_t length;
    };
    const Case cases[] = {{wire::kSetPeerMaxFrame, 4}, {wire::kGetVideoInfo, 0},
                          {wire::kSetVideoCtrl, 36},   {wire::kSetFormat, 4},
                          {wire::kSetResolution, 4},   {wire::kSetFps, 4},
                          {wire::kVideoBegin, 0},      {wire::kVideoEnd, 0},
                          {wire::kSnapshot, 0},        {wire::kSetSnapshotResolution, 4},
                          {wire::kResetVideoCtrl, 0},  {wire::kGetKeyInterval, 0},
                          {wire::kSetKeyInterval, 4},  {wire::kGetQp, 0},
                          {wire::kSetQp, 4},           {wire::kGetStreamValue, 0},
                          {wire::kSetStreamValue, 4},  {wire::kGetQuality, 0},
                          {wire::kSetQuality, 4},      {wire::kSetSnapshotQuality, 4},
                          {wire::kSetFpsLimit, 4},     {wire::kForceKeyFrame, 0},
                          {wire::kSetRotation, 4},     {wire::kGetRectYuyv, 0},
                          {wire::kSetRectYuyv, 16},    {wire::kGetCrop, 0},
                          {wire::kSetCrop, 16},        {wire::kSetXuCtrl, 70}};
    for (const Case &c : cases) {
        for (size_t length : {c.length + 1, c.length > 0 ? c.length - 1 : c.length + 4}) {
            const Reply reply = host->command(c.code, std::vector<uint8_t>(length, 0));
            ASSERT_TRUE(reply.ok);
            EXPECT_EQ(reply.code, c.code);
            EXPECT_NE(reply.status, 0) << std::hex << c.code << " with " << std::dec << length << " bytes";
        }
    }
    EXPECT_EQ(sim().state().video_frames_sent, 0u) << "a refused 0x100A starts nothing";
    EXPECT_EQ(sim().state().pictures_sent, 0u);
    EXPECT_EQ(sim().state().key_frame_requests, 0u);
}

TEST_F(SimulatorStream, FormatSizeAndRateFollowTheOffersAndAreNoticed)
{
    // Raw YUYV lacks 1280x960: the device falls back to its first size and bounds the rate.
    ASSERT_EQ(host->command(wire::kSetFormat, u32_payload(kYuyv)).status, 0);
    std::optional<Packet> n = host->notice(1);
    ASSERT_TRUE(n);
    EXPECT_EQ(words(n->payload, 4), (std::vector<uint32_t>{kYuyv, wire::resolution_code(640, 480), 15, 15}));

    EXPECT_NE(host->command(wire::kSetResolution, u32_payload(wire::resolution_code(1280, 960))).status, 0);
    EXPECT_NE(host->command(wire::kSetFormat, u32_payload(9)).status, 0);
    ASSERT_EQ(host->command(wire::kSetResolution, u32_payload(wire::resolution_code(320, 240))).status, 0);
    n = host->notice(1);
    ASSERT_TRUE(n);
    EXPECT_EQ(words(n->payload, 4), (std::vector<uint32_t>{kYuyv, wire::resolution_code(320, 240), 15, 30}));
    EXPECT_NE(host->command(wire::kSetFps, u32_payload(31)).status, 0);
    EXPECT_NE(host->command(wire::kSetFps, u32_payload(0)).status, 0);
    ASSERT_EQ(host->command(wire::kSetFps, u32_payload(30)).status, 0);
    n = host->notice(1);
    ASSERT_TRUE(n);
    EXPECT_EQ(words(n->payload, 4), (std::vector<uint32_t>{kYuyv, wire::resolution_code(320, 240), 30, 30}));
    EXPECT_FALSE(host->notice(1, kQuietSpell)) << "refused settings are not noticed";

    const auto block = sim().video_info_block();
    EXPECT_EQ(words(std::vector<uint8_t>(block.end() - 16, block.end())),
              (std::vector<uint32_t>{kYuyv, wire::resolution_code(320, 240), 30, 30}));
    begin_video();
    std::optional<Frame> f = host->frame(kVideo);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->format(), kYuyv);
    EXPECT_EQ(f->resolution(), wire::resolution_code(320, 240));
}

TEST_F(SimulatorStream, ControlsAreSetCheckedResetAndNoticed)
{
    auto set_control = [this](uint32_t index, int32_t value, uint32_t mode) {
        std::vector<uint8_t> payload(36, 0);
        put_u32(&payload[0], index);
        put_u32(&payload[4 + 8], static_cast<uint32_t>(value));
        put_u32(&payload[4 + 28], mode);
        return host->command(wire::kSetVideoCtrl, payload).status;
    };
    ASSERT_EQ(set_control(9, 300, 0), 0);  // exposure, to manual
    std::optional<Packet> n = host->notice(2);
    ASSERT_TRUE(n);
    const std::vector<uint32_t> entry = words(n->payload, 4);
    ASSERT_EQ(entry.size(), 9u);
    EXPECT_EQ(entry[0], 9u);
    EXPECT_EQ(entry[3], 300u);
    EXPECT_EQ(entry[8], 0u);
    const auto block = sim().video_info_block();
    EXPECT_TRUE(std::equal(n->payload.begin() + 8, n->payload.end(), block.begin() + 400 + 9 * 32))
        << "the notice carries the stored entry";

    for (size_t i = 0; i < 10; ++i)
        if (get_u32(&block[400 + i * 32]) == 0) {
            EXPECT_NE(set_control(static_cast<uint32_t>(i), 0, 0), 0) << "absent control " << i;
        }
    EXPECT_NE(set_control(0, 256, 0), 0) << "above the maximum";
    EXPECT_NE(set_control(0, -1, 0), 0) << "below the minimum";
    EXPECT_NE(set_control(10, 0, 0), 0) << "no such index";

    ASSERT_EQ(set_control(0, 40, 0), 0);
    ASSERT_EQ(host->command(wire::kResetVideoCtrl).status, 0);
    n = host->notice(6);
    ASSERT_TRUE(n);
    ASSERT_EQ(n->payload.size(), 4u + 320u);
    const auto reset = sim().video_info_block();
    EXPECT_TRUE(std::equal(n->payload.begin() + 4, n->payload.end(), reset.begin() + 400));
    EXPECT_EQ(get_u32(&reset[400 + 8]), 128u) << "brightness back to its default";
    EXPECT_EQ(get_u32(&reset[400 + 9 * 32 + 8]), get_u32(&reset[400 + 9 * 32 + 20])) << "exposure too";
}

TEST_F(SimulatorStream, EncoderSettingsAreAnsweredStoredAndNoticed)
{
    auto value = [this](uint16_t code) {
        const Reply r = host->command(code);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.payload.size(), 4u);
        return r.payload.size() == 4 ? get_u32(r.payload.data()) : 0;
    };
    const uint32_t qp = value(wire::kGetQp);
    EXPECT_GE(qp, 20u);
    EXPECT_LE(qp, 40u);

    struct Case {
        uint16_t set;
        uint16_t get;
        uint32_t good;
        uint32_t bad;
        int word;  // place in the sub-type 8 notice; -1 for none
    };
    const Case cases[] = {{wire::kSetQp, wire::kGetQp, 35, 41, 0},
                          {wire::kSetKeyInterval, wire::kGetKeyInterval, 60, 0, 1},
                          {wire::kSetStreamValue, wire::kGetStreamValue, 5000, 0, 2},
                          {wire::kSetQuality, wire::kGetQuality, 55, 101, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.set);
        EXPECT_NE(host->command(c.set, u32_payload(c.bad)).status, 0);
        ASSERT_EQ(host->command(c.set, u32_payload(c.good)).status, 0);
        EXPECT_EQ(value(c.get), c.good);
        if (c.word < 0)
            continue;
        std::optional<Packet> n = host->notice(8);
        ASSERT_TRUE(n);
        const std::vector<uint32_t> h264 = words(n->payload, 4);
        ASSERT_EQ(h264.size(), 3u);
        EXPECT_EQ(h264[c.word], c.good);
    }
    EXPECT_FALSE(host->notice(8, kQuietSpell)) << "refused values and JPEG quality are not noticed";

    ASSERT_EQ(host->command(wire::kSetPeerMaxFrame, u32_payload(55)).status, 0);
    std::optional<Packet> n = host->notice(9);
    ASSERT_TRUE(n);
    EXPECT_EQ(words(n->payload, 4), std::vector<uint32_t>{55});
    EXPECT_EQ(sim().state().model.peer_max_frame, 55u);
}

TEST_F(SimulatorStream, RectanglesAreStoredAndReadBack)
{
    for (const auto &codes :
         {std::make_pair(wire::kSetRectYuyv, wire::kGetRectYuyv), std::make_pair(wire::kSetCrop, wire::kGetCrop)}) {
        std::vector<uint8_t> rect(16);
        for (size_t i = 0; i < rect.size(); ++i)
            rect[i] = static_cast<uint8_t>(codes.first + i);
        ASSERT_EQ(host->command(static_cast<uint16_t>(codes.first), rect).status, 0);
        const Reply r = host->command(static_cast<uint16_t>(codes.second));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.payload, rect);
    }
    EXPECT_EQ(host->command(wire::kSetXuCtrl, std::vector<uint8_t>(70, 7)).status, 0);
    EXPECT_EQ(host->command(wire::kSetRotation, u32_payload(90)).status, 0);
    EXPECT_NE(host->command(wire::kSetRotation, u32_payload(45)).status, 0);
}

TEST_F(SimulatorStream, SnapshotPushesOnePictureWithoutVideo)
{
    EXPECT_NE(host->command(wire::kSetSnapshotResolution, u32_payload(wire::resolution_code(1000, 1000))).status, 0);
    ASSERT_EQ(host->command(wire::kSetSnapshotResolution, u32_payload(wire::resolution_code(640, 480))).status, 0);
    ASSERT_EQ(host->command(wire::kSetSnapshotQuality, u32_payload(50)).status, 0);
    ASSERT_EQ(host->command(wire::kSnapshot).status, 0);
    std::optional<Frame> picture = host->frame(kPicture);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->format(), kMjpeg);
    EXPECT_EQ(picture->resolution(), wire::resolution_code(640, 480));
    EXPECT_EQ(picture->declared_length(), picture->payload.size() - kFrameHeaderSize);
    const Picture decoded = decode_jpeg(picture->data());
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, 640);
    EXPECT_EQ(sim().state().pictures_sent, 1u);
    EXPECT_TRUE(host->quiet(kVideo)) << "a snapshot does not start the video";
}

TEST_F(SimulatorStream, RawPacketsGoOutAsGiven)
{
    const std::vector<uint8_t> data{1, 2, 3};
    const std::vector<uint8_t> payload =
        ProbeSimulator::frame_payload(kH264, wire::resolution_code(320, 240), 77, true, data);
    ASSERT_EQ(payload.size(), kFrameHeaderSize + 3);
    EXPECT_EQ(words(std::vector<uint8_t>(payload.begin(), payload.begin() + 28)),
              (std::vector<uint32_t>{0, kH264, wire::resolution_code(320, 240), 77, 1, 0, 3}));

    probesim::StreamPacket odd;
    odd.type = kPicture;
    odd.fragment_count = 2;
    odd.fragment_index = 1;
    odd.payload = payload;
    odd.magic_ok = false;
    odd.token_delta = 5;
    ASSERT_TRUE(sim().send_stream_packets({odd}));
    ASSERT_TRUE(sim().send_param_change(160, {9, 9}));
    std::optional<Packet> p = host->stream->next();
    ASSERT_TRUE(p);
    EXPECT_EQ(std::string(p->magic, p->magic + 3), "QRX");
    EXPECT_EQ(p->token, host->token + 5);
    EXPECT_EQ(p->type, kPicture);
    EXPECT_EQ(p->count, 2);
    EXPECT_EQ(p->index, 1);
    EXPECT_EQ(p->payload, payload);
    p = host->stream->next();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->type, kParamChange);
    EXPECT_EQ(p->payload, (std::vector<uint8_t>{160, 0, 0, 0, 9, 9}));

    host->logout();
    ASSERT_TRUE(host->stream->wait_closed());
    ASSERT_TRUE(sim().wait_until([](const auto &s) { return s.stream_connections_open == 0; }, kWait));
    EXPECT_FALSE(sim().send_param_change(160, {})) << "no stream is open";
}

TEST(SimulatorBenchmarkSender, StreamFramesToWritesWholeNumberedFrames)
{
    PlainStream stream;
    stream.token = 0x5A17C0DE;
    stream.options.unlimited_rate = true;
    stream.options.distinct_frames = 2;
    probesim::VideoModel video;
    video.set_format(kMjpeg, 320, 240, 30);
    stream.settings = video.settings();

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback("127.0.0.1", 0);
    socklen_t len = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &len), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    uint64_t written = 0;
    std::thread sender([&] { written = stream_frames_to("127.0.0.1", ntohs(address.sin_port), 5, stream); });
    const int fd = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (ssize_t r; (r = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + r);
    ::close(fd);
    sender.join();
    EXPECT_EQ(written, bytes.size());

    std::vector<uint32_t> sequences;
    for (size_t at = 0; at + 16 <= bytes.size();) {
        const uint32_t length = get_u32(&bytes[at + 12]);
        EXPECT_EQ(get_u32(&bytes[at + 4]), stream.token);
        ASSERT_EQ(bytes[at + 9], 1) << "small frames fit one packet";
        const std::vector<uint8_t> payload(bytes.begin() + at + 16, bytes.begin() + at + 16 + length);
        sequences.push_back(get_u32(&payload[12]));
        EXPECT_EQ(get_u32(&payload[24]), length - kFrameHeaderSize);
        EXPECT_TRUE(decode_jpeg(std::vector<uint8_t>(payload.begin() + kFrameHeaderSize, payload.end())).ok);
        at += 16 + length;
    }
    EXPECT_EQ(sequences, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
}

}  // namespace

// Pictures of any size are drawn and encoded within their planes (the
// counter is cut at the edges; libjpeg reads whole 16-sample rows), and
// decode to the size and brightness they were drawn with.
TEST(SimulatorPicture, EverySizeEncodesWithinItsPlanes)
{
    const struct {
        uint16_t width, height;
    } sizes[] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {62, 40}, {318, 240}, {642, 482}, {640, 480}};
    probesim::EndFacePicture painter;
    for (const auto &size : sizes) {
        const probesim::YuvImage &image = painter.render(size.width, size.height, 123456, probesim::PictureLook());
        double drawn = 0;
        for (uint8_t y : image.y)
            drawn += y;
        drawn /= image.y.size();
        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(probesim::encode_jpeg(image, 90, jpeg)) << size.width << "x" << size.height;
        const Picture picture = decode_jpeg(jpeg);
        ASSERT_TRUE(picture.ok) << size.width << "x" << size.height;
        EXPECT_EQ(picture.width, size.width);
        EXPECT_EQ(picture.height, size.height);
        EXPECT_NEAR(picture.mean_luma, drawn, 4.0) << size.width << "x" << size.height;
    }
}
