// Turns the module's frames (raw YUYV, Motion-JPEG, H.264) into RGB images
// through qrn_coder. Owned by one frame-loop run: one buffer and one decoder
// per codec serve the whole run.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

#include "qrn_coder.h"
#include "qrn_net.h"

namespace KelvoWifi {

class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // An RGB32 image (0xFFRRGGBB) that owns its pixels, or a null image when the frame
    // cannot be decoded or its format is unknown. data holds header.length bytes.
    QImage decode(const FrameHeader &header, const uint8_t *data);

private:
    QImage convertRaw(const FrameHeader &header, const uint8_t *data, int length);
    QImage decodeInto(quarn_vdec *decoder, const uint8_t *data, int length);

    struct DecoderDeleter {
        void operator()(quarn_vdec *decoder) const { quarn_vdec_destory(decoder); }
    };
    using Decoder = std::unique_ptr<quarn_vdec, DecoderDeleter>;

    // QUARN_RGB_BUFFER_SIZE bytes, for raw frames; without it every frame
    // is skipped, as a frame thread has no one to report to.
    std::unique_ptr<uint8_t[]> mBuffer;
    Decoder mMjpeg;
    Decoder mH264;
};

}  // namespace KelvoWifi
