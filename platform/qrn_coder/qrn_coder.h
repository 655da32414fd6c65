/*
 * qrn_coder: the viewer's video decoder and pixel-format converter, over
 * FFmpeg's libavcodec and libswscale.
 *
 * Output is packed 24-bit RGB (red, green, blue) written with the row stride
 * a QImage built without an explicit one assumes: each row padded to a
 * multiple of 4 bytes (quarn_rgb_stride). Output buffers hold
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

/*
 * A decoder for codec (QUARN_CODEC_MJPEG or QUARN_CODEC_H264) producing
 * output_format (QUARN_PIX_RGB24 only). NULL for any other pair, or when
 * libavcodec cannot open the codec.
 */
quarn_vdec *quarn_vdec_create(int codec, int output_format);

/*
 * Decodes one compressed frame (length bytes at data) into out, which holds
 * QUARN_RGB_BUFFER_SIZE bytes, and writes the picture's size. Returns 0, or
 * a negative quarn_coder_result; then out may hold partial rows but *width
 * and *height are left as they were. An H.264 decoder keeps its reference
 * pictures between calls.
 */
int quarn_vdec_process(quarn_vdec *decoder, const uint8_t *data, int length, uint8_t *out, int *width, int *height);

/* Frees a decoder; NULL is allowed. (The name is the callers'.) */
void quarn_vdec_destory(quarn_vdec *decoder);

/*
 * Converts one raw picture of width x height from input_format
 * (QUARN_PIX_YUYV422: width * height * 2 bytes at in, width even) to
 * output_format (QUARN_PIX_RGB24) in out, which holds QUARN_RGB_BUFFER_SIZE
 * bytes. Returns 0 or a negative quarn_coder_result. The caller has checked
 * that in holds the whole picture.
 */
int quarn_sws_process(int input_format, const uint8_t *in, int output_format, uint8_t *out, int width, int height);

#ifdef __cplusplus
}
#endif

#endif
