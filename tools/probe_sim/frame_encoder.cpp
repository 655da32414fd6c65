#include "frame_encoder.h"

#include "jpeg_encoder.h"
#include "probe_wire.h"

namespace probesim {

namespace {

// Packed Y0 U Y1 V; each chroma row of the 4:2:0 picture serves two lines.
void pack_yuyv(const YuvImage &image, std::vector<uint8_t> &out)
{
    const size_t width = image.width;
    out.resize(width * image.height * 2);
    uint8_t *p = out.data();
    for (size_t row = 0; row < image.height; ++row) {
        const uint8_t *y = &image.y[row * width];
        const uint8_t *u = &image.u[(row / 2) * (width / 2)];
        const uint8_t *v = &image.v[(row / 2) * (width / 2)];
        for (size_t x = 0; x < width; x += 2) {
            *p++ = y[x];
            *p++ = u[x / 2];
            *p++ = y[x + 1];
            *p++ = v[x / 2];
        }
    }
}

}  // namespace

bool FrameEncoder::encode(const YuvImage &image, const VideoSettings &settings, bool strip_dht, bool force_key_frame,
                          EncodedFrame &out)
{
    out.key_frame = false;
    switch (settings.format) {
    case wire::kFormatMjpeg:
        if (!encode_jpeg(image, settings.jpeg_quality, out.data))
            return false;
        if (strip_dht)
            strip_huffman_tables(out.data);
        return true;
    case wire::kFormatH264: {
        H264Params params;
        params.fps = settings.fps;
        params.qp = settings.qp;
        params.key_interval = settings.key_interval;
        return h264_.encode(image, params, force_key_frame, out.data, out.key_frame);
    }
    case wire::kFormatYuyv:
        pack_yuyv(image, out.data);
        return true;
    default:
        return false;
    }
}

}  // namespace probesim
