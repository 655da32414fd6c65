// Turns the picture into the bytes of one frame in the format the device is
// set to: Motion-JPEG, H.264 or raw YUYV 4:2:2.
#pragma once

#include <cstdint>
#include <vector>

#include "end_face_picture.h"
#include "h264_encoder.h"
#include "video_model.h"

namespace probesim {

struct EncodedFrame {
    std::vector<uint8_t> data;
    bool key_frame = false;  // H.264 only
};

class FrameEncoder {
public:
    // False when the format cannot be encoded here; the frame is then skipped.
    bool encode(const YuvImage &image, const VideoSettings &settings, bool strip_dht, bool force_key_frame,
                EncodedFrame &out);

private:
    H264Encoder h264_;
};

}  // namespace probesim
