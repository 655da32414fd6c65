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

int roomy_stride(int width)
{
    const int group_width = (width + kPixelGroup - 1) / kPixelGroup * kPixelGroup;
    return (group_width * 3 + kStrideAlign - 1) / kStrideAlign * kStrideAlign;
}

bool convert(SwsContext *converter, const PlanarPicture &picture, uint8_t *out, int stride)
{
    uint8_t *const target[4] = {out, nullptr, nullptr, nullptr};
    const int target_stride[4] = {stride, 0, 0, 0};
    return sws_scale(converter, picture.planes, picture.strides, 0, picture.height, target, target_stride) ==
           picture.height;
}

int convert_padded(SwsContext **converter, const PlanarPicture &picture, uint8_t *out)
{
    if (picture.width <= 0 || picture.height <= 0)
        return QUARN_CODER_ERR_ARGUMENT;
    const int64_t stride = quarn_rgb_stride(picture.width);
    if (stride * picture.height > QUARN_RGB_BUFFER_SIZE)
        return QUARN_CODER_ERR_TOO_LARGE;

    // Same size in and out: the converter only changes the pixel format, as
    // ffmpeg's own rawvideo output does.
    *converter = sws_getCachedContext(*converter, picture.width, picture.height, picture.format, picture.width,
                                      picture.height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
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
    const int roomy = roomy_stride(picture.width);
    scratch.resize(static_cast<size_t>(roomy) * picture.height);
    if (!convert(*converter, picture, scratch.data(), roomy))
        return QUARN_CODER_ERR_DECODE;
    for (int row = 0; row < picture.height; ++row)
        std::memcpy(out + row * stride, scratch.data() + static_cast<size_t>(row) * roomy,
                    static_cast<size_t>(picture.width) * 3);
    return QUARN_CODER_OK;
}

}  // namespace

int write_rgb(SwsContext **converter, const PlanarPicture &picture, uint8_t *out)
{
    try {
        return convert_padded(converter, picture, out);
    } catch (const std::bad_alloc &) {
        return QUARN_CODER_ERR_MEMORY;
    }
}

}  // namespace qrn_coder
