#include "h264_encoder.h"

#include "libav_library.h"

#include <algorithm>

namespace probesim {

namespace {

// Only reached once the library has loaded.
struct ContextFree {
    void operator()(AVCodecContext *c) const { libav()->avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { libav()->av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { libav()->av_packet_free(&p); }
};

}  // namespace

struct H264Encoder::Codec {
    std::unique_ptr<AVCodecContext, ContextFree> context;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::unique_ptr<AVPacket, PacketFree> packet;
    uint16_t width = 0;
    uint16_t height = 0;
    H264Params params;
    int64_t pts = 0;
};

H264Encoder::H264Encoder() = default;
H264Encoder::~H264Encoder() = default;

bool H264Encoder::available()
{
    static const bool result = [] {
        H264Encoder probe;
        return probe.open(64, 64, H264Params());
    }();
    return result;
}

bool H264Encoder::open(uint16_t width, uint16_t height, const H264Params &params)
{
    codec_.reset();
    const LibAv *av = libav();
    const AVCodec *encoder = av ? av->avcodec_find_encoder(AV_CODEC_ID_H264) : nullptr;
    if (!encoder)
        return false;
    auto codec = std::make_unique<Codec>();
    codec->context.reset(av->avcodec_alloc_context3(encoder));
    codec->frame.reset(av->av_frame_alloc());
    codec->packet.reset(av->av_packet_alloc());
    if (!codec->context || !codec->frame || !codec->packet)
        return false;
    AVCodecContext *c = codec->context.get();
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, static_cast<int>(params.fps)};
    c->framerate = AVRational{static_cast<int>(params.fps), 1};
    c->gop_size = static_cast<int>(params.key_interval);
    c->max_b_frames = 0;
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // Private options of the usual encoder; another encoder may lack them,
    // and then simply ignores the request.
    av->av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av->av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av->av_opt_set_int(c->priv_data, "qp", params.qp, 0);
    av->av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
    if (av->avcodec_open2(c, encoder, nullptr) < 0)
        return false;
    AVFrame *f = codec->frame.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (av->av_frame_get_buffer(f, 0) < 0)
        return false;
    codec->width = width;
    codec->height = height;
    codec->params = params;
    codec_ = std::move(codec);
    return true;
}

bool H264Encoder::encode(const YuvImage &image, const H264Params &params, bool force_key_frame,
                         std::vector<uint8_t> &out, bool &key_frame)
{
    const bool same = codec_ && codec_->width == image.width && codec_->height == image.height &&
                      codec_->params.fps == params.fps && codec_->params.qp == params.qp &&
                      codec_->params.key_interval == params.key_interval;
    if (!same && !open(image.width, image.height, params))
        return false;
    const LibAv *av = libav();
    AVFrame *f = codec_->frame.get();
    if (av->av_frame_make_writable(f) < 0)
        return false;
    const uint8_t *planes[3] = {image.y.data(), image.u.data(), image.v.data()};
    const int widths[3] = {image.width, image.width / 2, image.width / 2};
    const int heights[3] = {image.height, image.height / 2, image.height / 2};
    for (int p = 0; p < 3; ++p)
        for (int row = 0; row < heights[p]; ++row)
            std::copy(planes[p] + static_cast<size_t>(row) * widths[p],
                      planes[p] + static_cast<size_t>(row + 1) * widths[p], f->data[p] + row * f->linesize[p]);
    f->pts = codec_->pts++;
    f->pict_type = force_key_frame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    AVCodecContext *c = codec_->context.get();
    if (av->avcodec_send_frame(c, f) < 0)
        return false;
    AVPacket *packet = codec_->packet.get();
    out.clear();
    key_frame = false;
    while (av->avcodec_receive_packet(c, packet) == 0) {
        out.insert(out.end(), packet->data, packet->data + packet->size);
        key_frame = key_frame || (packet->flags & AV_PKT_FLAG_KEY);
        av->av_packet_unref(packet);
    }
    return !out.empty();
}

}  // namespace probesim
