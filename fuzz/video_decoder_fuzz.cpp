// Any bytes as compressed frames for the viewer's decoders, and any raw
// YUYV picture for its pixel converter.
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "input_split.h"
#include "qrn_coder.h"

namespace {

// Frames in one input: enough for an H.264 decoder to hold references.
constexpr size_t kMaxFrames = 8;

uint8_t *output()
{
    // Exactly the documented size, so a write past it is caught.
    static uint8_t *buffer = new uint8_t[QUARN_RGB_BUFFER_SIZE];
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

// The first byte picks Motion-JPEG, H.264 or the converter; the rest are
// the frames, or for the converter a width and height byte, then the picture.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int width = 0;
    int height = 0;
    switch (data[0] % 3) {
    case 2: {
        if (size < 3)
            return 0;
        width = data[1] * 2;
        height = data[2];
        const std::vector<uint8_t> picture(data + 3, data + size);
        // The caller checks that the whole picture is there.
        if (picture.size() >= static_cast<size_t>(width) * height * 2)
            quarn_sws_process(QUARN_PIX_YUYV422, picture.data(), QUARN_PIX_RGB24, output(), width, height);
        return 0;
    }
    default: {
        quarn_vdec *decoder = quarn_vdec_create(data[0] % 3 ? QUARN_CODEC_H264 : QUARN_CODEC_MJPEG, QUARN_PIX_RGB24);
        if (!decoder)
            __builtin_trap();
        for (const std::vector<uint8_t> &frame : fuzzing::split_input(data + 1, size - 1, kMaxFrames))
            quarn_vdec_process(decoder, frame.data(), static_cast<int>(frame.size()), output(), &width, &height);
        quarn_vdec_destory(decoder);
        return 0;
    }
    }
}
