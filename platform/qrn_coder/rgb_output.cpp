#include "rgb_output.h"

#include "qrn_coder.h"

#include <cstring>
#include <new>
#include <vector>

namespace qrn_coder {

namespace {

// swscale's vector converters write whole groups of 8 pixels and, where a
// group would cross the row stride, silently leave the last pixels of the
// row unwritten. Rows padded only to 4 bytes need a roomier stride first.
constexpr int kPixelGroup = 8;
constexpr int kStrideAlign = 64;

int roomy_stride(int width, int pixel_bytes)
{
    const int group_width = (width + kPixelGroup - 1) / kPixelGroup * kPixelGroup;
    return (group_width * pixel_bytes + kStrideAlign - 1) / kStrideAlign * kStrideAlign;
}

bool convert(SwsContext *converter, const PlanarPicture &picture, uint8_t *out, int stride)
{
    uint8_t *const target[4] = {out, nullptr, nullptr, nullptr};
    const int target_stride[4] = {stride, 0, 0, 0};
    return sws_scale(converter, picture.planes, picture.strides, 0, picture.height, target, target_stride) ==
           picture.height;
}

int convert_padded(SwsContext **converter, const PlanarPicture &picture, int output_format, uint8_t *out)
{
    if (picture.width <= 0 || picture.height <= 0 || !is_output_format(output_format))
        return QUARN_CODER_ERR_ARGUMENT;
    const int pixel_bytes = output_format == QUARN_PIX_RGB32 ? 4 : 3;
    // AV_PIX_FMT_RGB32 is the host-order word, alpha filled in as 0xFF.
    const AVPixelFormat target = output_format == QUARN_PIX_RGB32 ? AV_PIX_FMT_RGB32 : AV_PIX_FMT_RGB24;
    const int64_t stride = quarn_output_stride(output_format, picture.width);
    if (stride * picture.height > QUARN_RGB_BUFFER_SIZE)
        return QUARN_CODER_ERR_TOO_LARGE;

    // Same size in and out: the converter only changes the pixel format, as
    // ffmpeg's own rawvideo output does.
    *converter = sws_getCachedContext(*converter, picture.width, picture.height, picture.format, picture.width,
                                      picture.height, target, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!*converter)
        return QUARN_CODER_ERR_MEMORY;
    if (picture.full_range) {
        int *inverse = nullptr, *table = nullptr, source_range = 0, target_range = 0, brightness = 0, contrast = 0,
            saturation = 0;
        if (sws_getColorspaceDetails(*converter, &inverse, &source_range, &table, &target_range, &brightness, &contrast,
                                     &saturation) >= 0 &&
            !source_range)
            sws_setColorspaceDetails(*converter, inverse, 1, table, target_range, brightness, contrast, saturation);
    }

    if (picture.width % kPixelGroup == 0)
        return convert(*converter, picture, out, static_cast<int>(stride)) ? QUARN_CODER_OK : QUARN_CODER_ERR_DECODE;

    // Each thread converts into its own scratch rows, then copies them out.
    thread_local std::vector<uint8_t> scratch;
    const int roomy = roomy_stride(picture.width, pixel_bytes);
    scratch.resize(static_cast<size_t>(roomy) * picture.height);
    if (!convert(*converter, picture, scratch.data(), roomy))
        return QUARN_CODER_ERR_DECODE;
    for (int row = 0; row < picture.height; ++row)
        std::memcpy(out + row * stride, scratch.data() + static_cast<size_t>(row) * roomy,
                    static_cast<size_t>(picture.width) * pixel_bytes);
    return QUARN_CODER_OK;
}

}  // namespace

bool is_output_format(int format)
{
    return format == QUARN_PIX_RGB24 || format == QUARN_PIX_RGB32;
}

int write_rgb(SwsContext **converter, const PlanarPicture &picture, int output_format, uint8_t *out)
{
    try {
        return convert_padded(converter, picture, output_format, out);
    } catch (const std::bad_alloc &) {
        return QUARN_CODER_ERR_MEMORY;
    }
}

}  // namespace qrn_coder
