// Writing a decoded or raw picture into the caller's RGB buffer: the one
// place that checks the picture fits and sets the row stride.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>

#include "qrn_coder.h"

namespace qrn_coder {

struct PlanarPicture {
    const uint8_t *const *planes;
    const int *strides;
    AVPixelFormat format;
    int width;
    int height;
    bool full_range;  // luminance 0..255 rather than 16..235
};

// QUARN_PIX_RGB24 or QUARN_PIX_RGB32.
bool is_output_format(int format);

// Converts into out (QUARN_RGB_BUFFER_SIZE bytes, or the picture's
// quarn_output_bytes) in output_format, with rows padded to four bytes.
// *converter is reused while the picture's shape stays the same. Returns 0
// or a negative quarn_coder_result; nothing is written when the picture does
// not fit QUARN_RGB_BUFFER_SIZE. Throws nothing: the C entry points call it.
int write_rgb(SwsContext **converter, const PlanarPicture &picture, int output_format, uint8_t *out);

}  // namespace qrn_coder
