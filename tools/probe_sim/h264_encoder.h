// H.264 frames from the simulated probe's picture, through libavcodec:
// low latency, no B-frames, one access unit out for every picture in.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "end_face_picture.h"

namespace probesim {

struct H264Params {
    uint32_t fps = 30;
    uint32_t qp = 26;
    uint32_t key_interval = 30;
};

class H264Encoder {
public:
    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder &) = delete;
    H264Encoder &operator=(const H264Encoder &) = delete;

    // Whether this machine's libavcodec has an H.264 encoder that opens.
    static bool available();

    // Encodes one picture; the codec is reopened, starting with a key frame,
    // when the size or a parameter changed. False when nothing came out.
    bool encode(const YuvImage &image, const H264Params &params, bool force_key_frame, std::vector<uint8_t> &out,
                bool &key_frame);

private:
    struct Codec;
    bool open(uint16_t width, uint16_t height, const H264Params &params);

    std::unique_ptr<Codec> codec_;
};

}  // namespace probesim
