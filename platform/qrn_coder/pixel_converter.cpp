// quarn_sws_process: raw camera pictures to packed RGB.
#include "qrn_coder.h"

#include "rgb_output.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The call has no handle to keep a converter in: each thread keeps its own,
// so a raw stream does not rebuild it every frame and threads never share one.
struct ConverterCache {
    SwsContext *converter = nullptr;
    // swscale's vector code reads up to a vector's width past the last
    // pixel, so the input is copied here with padding behind it.
    std::vector<uint8_t> padded;
    ~ConverterCache() { sws_freeContext(converter); }
};
thread_local ConverterCache cache;
constexpr size_t kInputPadding = 64;

}  // namespace

extern "C" int quarn_sws_process(int input_format, const uint8_t *in, int output_format, uint8_t *out, int width,
                                 int height)
{
    if (input_format != QUARN_PIX_YUYV422 || !qrn_coder::is_output_format(output_format) || !in || !out)
        return QUARN_CODER_ERR_ARGUMENT;
    // Each Y0 U Y1 V group carries two pixels.
    if (width <= 0 || height <= 0 || width % 2 != 0 || width > INT_MAX / 2)
        return QUARN_CODER_ERR_ARGUMENT;

    const size_t size = static_cast<size_t>(width) * 2 * static_cast<size_t>(height);
    if (size > QUARN_RGB_BUFFER_SIZE)
        return QUARN_CODER_ERR_TOO_LARGE;
    try {
        cache.padded.resize(size + kInputPadding);
    } catch (const std::bad_alloc &) {
        return QUARN_CODER_ERR_MEMORY;
    }
    std::memcpy(cache.padded.data(), in, size);
    std::memset(cache.padded.data() + size, 0, kInputPadding);

    const uint8_t *const planes[4] = {cache.padded.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {width * 2, 0, 0, 0};
    return qrn_coder::write_rgb(&cache.converter, {planes, strides, AV_PIX_FMT_YUYV422, width, height, false},
                                output_format, out);
}
