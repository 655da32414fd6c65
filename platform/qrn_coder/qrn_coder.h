/*
 * qrn_coder: the viewer's video decoder and pixel-format converter, over
 * FFmpeg's libavcodec and libswscale.
 *
 * Output is packed 24-bit RGB (red, green, blue) or 32-bit RGB (one native
 * 0xFFRRGGBB word per pixel, as QImage::Format_RGB32, which Qt paints and
 * scales several times faster), written with the row stride a QImage built
 * without an explicit one assumes: each row padded to a multiple of 4 bytes
 * (quarn_rgb_stride, quarn_output_stride). Output buffers hold
 * QUARN_RGB_BUFFER_SIZE bytes; a picture that would not fit is refused.
 * A failed call never leaves a picture in the output that it reports as good.
 *
 * One decoder serves one thread at a time; different decoders and
 * quarn_sws_process may run on several threads at once.
 */
#ifndef QRN_CODER_H
#define QRN_CODER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Codec and pixel-format identifiers of the callers. They are older FFmpeg
 * releases' numbers, not this FFmpeg's: they are mapped by name. */
#define QUARN_CODEC_MJPEG 8
#define QUARN_CODEC_H264 28
#define QUARN_PIX_YUYV422 1 /* packed Y0 U Y1 V */
#define QUARN_PIX_RGB24 2   /* packed R G B */
/* Ours, outside that numbering: 32-bit words 0xFFRRGGBB in host byte order. */
#define QUARN_PIX_RGB32 0x100

/* Bytes every output buffer holds. */
#define QUARN_RGB_BUFFER_SIZE 20155392

enum quarn_coder_result {
    QUARN_CODER_OK = 0,
    QUARN_CODER_ERR_ARGUMENT = -1,   /* NULL pointer, unknown codec or format, size out of range */
    QUARN_CODER_ERR_DECODE = -2,     /* the data is not a whole, sound picture */
    QUARN_CODER_ERR_NO_PICTURE = -3, /* the decoder took the data but has no picture yet */
    QUARN_CODER_ERR_TOO_LARGE = -4,  /* the RGB picture would not fit QUARN_RGB_BUFFER_SIZE */
    QUARN_CODER_ERR_MEMORY = -5      /* the decoder or converter could not be set up */
};

typedef struct quarn_vdec quarn_vdec;

/* Bytes of one packed RGB row of this width, padded to a multiple of 4. */
static inline int64_t quarn_rgb_stride(int width)
{
    return ((int64_t)width * 3 + 3) / 4 * 4;
}

/* Bytes of one output row of this width in output_format (RGB24 or RGB32). */
static inline int64_t quarn_output_stride(int output_format, int width)
{
    return output_format == QUARN_PIX_RGB32 ? (int64_t)width * 4 : quarn_rgb_stride(width);
}

/*
 * Bytes quarn_vdec_output needs for a picture: its rows and, behind them,
 * room that swscale's vector converters may write over (a group of pixels
 * past the last one, for some widths and formats).
 */
static inline int64_t quarn_output_bytes(int output_format, int width, int height)
{
    const int64_t stride = quarn_output_stride(output_format, width);
    return stride * height + stride + 256;
}

/*
 * A decoder for codec (QUARN_CODEC_MJPEG or QUARN_CODEC_H264) producing
 * output_format (QUARN_PIX_RGB24 or QUARN_PIX_RGB32). NULL for any other pair, or when
 * libavcodec cannot open the codec.
 */
quarn_vdec *quarn_vdec_create(int codec, int output_format);

/*
 * Decodes one compressed frame (length bytes at data) into out, in the
 * decoder's output format, which holds
 * QUARN_RGB_BUFFER_SIZE bytes, and writes the picture's size. Returns 0, or
 * a negative quarn_coder_result; then out may hold partial rows but *width
 * and *height are left as they were. An H.264 decoder keeps its reference
 * pictures between calls.
 */
int quarn_vdec_process(quarn_vdec *decoder, const uint8_t *data, int length, uint8_t *out, int *width, int *height);

/*
 * quarn_vdec_process in two steps, for a caller that puts each picture into
 * memory of its own, sized for it, without a copy: quarn_vdec_decode takes
 * one compressed frame and reports the picture's size; quarn_vdec_output
 * then converts that picture into out, which holds out_size bytes, and
 * refuses with QUARN_CODER_ERR_TOO_LARGE when they are fewer than
 * quarn_output_bytes(format, width, height) or when the picture's rows
 * would not fit QUARN_RGB_BUFFER_SIZE. The rows start at out, with the
 * stride of quarn_output_stride. The picture stays in the decoder until the
 * next frame. Results as for quarn_vdec_process.
 */
int quarn_vdec_decode(quarn_vdec *decoder, const uint8_t *data, int length, int *width, int *height);
int quarn_vdec_output(quarn_vdec *decoder, uint8_t *out, int64_t out_size);

/* Frees a decoder; NULL is allowed. (The name is the callers'.) */
void quarn_vdec_destory(quarn_vdec *decoder);

/*
 * Converts one raw picture of width x height from input_format
 * (QUARN_PIX_YUYV422: width * height * 2 bytes at in, width even) to
 * output_format (QUARN_PIX_RGB24 or QUARN_PIX_RGB32) in out, which holds QUARN_RGB_BUFFER_SIZE
 * bytes. Returns 0 or a negative quarn_coder_result. The caller has checked
 * that in holds the whole picture.
 */
int quarn_sws_process(int input_format, const uint8_t *in, int output_format, uint8_t *out, int width, int height);

#ifdef __cplusplus
}
#endif

#endif
