// quarn_vdec_*: one libavcodec decoder per stream, its output converted to
// packed RGB.
#include "qrn_coder.h"

#include "rgb_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <new>
#include <vector>

struct quarn_vdec {
    AVCodecContext *context = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;  // the last picture decoded, until the next frame
    bool holds_picture = false;
    SwsContext *converter = nullptr;
    int output_format = QUARN_PIX_RGB24;
    // Decoders read a little past the end of their input, so every frame
    // is copied here with zeroed padding behind it.
    std::vector<uint8_t> padded;

    ~quarn_vdec()
    {
        sws_freeContext(converter);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

namespace {

AVCodecID codec_id(int codec)
{
    switch (codec) {
    case QUARN_CODEC_MJPEG:
        return AV_CODEC_ID_MJPEG;
    case QUARN_CODEC_H264:
        return AV_CODEC_ID_H264;
    default:
        return AV_CODEC_ID_NONE;
    }
}

// The JPEG decoder reports full range through the old yuvj formats, which
// swscale warns about on every new converter; name the range instead.
AVPixelFormat plain_format(AVPixelFormat format, bool &full_range)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        full_range = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        full_range = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        full_range = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        full_range = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        full_range = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

bool frame_is_sound(const AVFrame *frame)
{
    return frame->decode_error_flags == 0 && !(frame->flags & AV_FRAME_FLAG_CORRUPT);
}

}  // namespace

extern "C" quarn_vdec *quarn_vdec_create(int codec, int output_format)
{
    const AVCodecID id = codec_id(codec);
    if (id == AV_CODEC_ID_NONE || !qrn_coder::is_output_format(output_format))
        return nullptr;
    const AVCodec *decoder = avcodec_find_decoder(id);
    if (!decoder)
        return nullptr;
    auto vdec = new (std::nothrow) quarn_vdec;
    if (!vdec)
        return nullptr;
    vdec->output_format = output_format;
    vdec->context = avcodec_alloc_context3(decoder);
    vdec->packet = av_packet_alloc();
    vdec->frame = av_frame_alloc();
    if (!vdec->context || !vdec->packet || !vdec->frame) {
        delete vdec;
        return nullptr;
    }
    // One thread: the frame loop is the decoder's thread, and frame threads
    // would hold pictures back. A picture the decoder knows to be damaged
    // is never handed out, and any damage it finds is an error.
    vdec->context->thread_count = 1;
    vdec->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    vdec->context->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    vdec->context->err_recognition |= AV_EF_EXPLODE;
    if (avcodec_open2(vdec->context, decoder, nullptr) < 0) {
        delete vdec;
        return nullptr;
    }
    return vdec;
}

extern "C" int quarn_vdec_decode(quarn_vdec *decoder, const uint8_t *data, int length, int *width, int *height)
{
    if (!decoder || !data || !width || !height || length <= 0)
        return QUARN_CODER_ERR_ARGUMENT;
    if (decoder->holds_picture) {
        av_frame_unref(decoder->frame);
        decoder->holds_picture = false;
    }

    try {
        decoder->padded.resize(static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE);
    } catch (const std::bad_alloc &) {
        return QUARN_CODER_ERR_MEMORY;
    }
    std::memcpy(decoder->padded.data(), data, static_cast<size_t>(length));
    std::memset(decoder->padded.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    decoder->packet->data = decoder->padded.data();
    decoder->packet->size = length;

    const int sent = avcodec_send_packet(decoder->context, decoder->packet);
    decoder->packet->data = nullptr;
    decoder->packet->size = 0;
    if (sent < 0 && sent != AVERROR(EAGAIN))
        return QUARN_CODER_ERR_DECODE;

    const int received = avcodec_receive_frame(decoder->context, decoder->frame);
    if (received == AVERROR(EAGAIN))
        return QUARN_CODER_ERR_NO_PICTURE;
    if (received < 0)
        return QUARN_CODER_ERR_DECODE;
    if (!frame_is_sound(decoder->frame) || decoder->frame->width <= 0 || decoder->frame->height <= 0) {
        av_frame_unref(decoder->frame);
        return QUARN_CODER_ERR_DECODE;
    }
    decoder->holds_picture = true;
    *width = decoder->frame->width;
    *height = decoder->frame->height;
    return QUARN_CODER_OK;
}

namespace {

// The picture the decoder holds into out, which has room for it.
int output_held(quarn_vdec *decoder, uint8_t *out)
{
    const AVFrame *f = decoder->frame;
    bool full_range = f->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = plain_format(static_cast<AVPixelFormat>(f->format), full_range);
    const qrn_coder::PlanarPicture picture{f->data, f->linesize, format, f->width, f->height, full_range};
    return qrn_coder::write_rgb(&decoder->converter, picture, decoder->output_format, out);
}

}  // namespace

extern "C" int quarn_vdec_output(quarn_vdec *decoder, uint8_t *out, int64_t out_size)
{
    if (!decoder || !out)
        return QUARN_CODER_ERR_ARGUMENT;
    if (!decoder->holds_picture)
        return QUARN_CODER_ERR_NO_PICTURE;
    if (out_size < quarn_output_bytes(decoder->output_format, decoder->frame->width, decoder->frame->height))
        return QUARN_CODER_ERR_TOO_LARGE;
    return output_held(decoder, out);
}

extern "C" int quarn_vdec_process(quarn_vdec *decoder, const uint8_t *data, int length, uint8_t *out, int *width,
                                  int *height)
{
    if (!decoder || !data || !out || !width || !height || length <= 0)
        return QUARN_CODER_ERR_ARGUMENT;
    int decoded_width = 0, decoded_height = 0;
    int result = quarn_vdec_decode(decoder, data, length, &decoded_width, &decoded_height);
    // The whole buffer is the room: a picture that fills it is written.
    if (result == QUARN_CODER_OK)
        result = output_held(decoder, out);
    if (result == QUARN_CODER_OK) {
        *width = decoded_width;
        *height = decoded_height;
    }
    return result;
}

extern "C" void quarn_vdec_destory(quarn_vdec *decoder)
{
    delete decoder;
}
