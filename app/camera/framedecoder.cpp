#include "framedecoder.h"

#include <climits>
#include <cstdlib>
#include <new>

namespace KelvoWifi {

namespace {

// The same RGB pixels as 24-bit output, one word each: the video widget
// paints and scales these without a per-frame conversion.
constexpr int kOutput = QUARN_PIX_RGB32;

void freePixels(void *pixels)
{
    std::free(pixels);
}

}  // namespace

FrameDecoder::FrameDecoder()
    : mBuffer(new (std::nothrow) uint8_t[QUARN_RGB_BUFFER_SIZE]), mMjpeg(quarn_vdec_create(QUARN_CODEC_MJPEG, kOutput)),
      mH264(quarn_vdec_create(QUARN_CODEC_H264, kOutput))
{
}

FrameDecoder::~FrameDecoder() = default;

QImage FrameDecoder::decode(const FrameHeader &header, const uint8_t *data)
{
    if (!mBuffer || !data || header.length > INT_MAX)
        return QImage();
    const int length = static_cast<int>(header.length);
    switch (header.format) {
    case QRN_FORMAT_YUYV:
        return convertRaw(header, data, length);
    case QRN_FORMAT_JPEG:
        return decodeInto(mMjpeg.get(), data, length);
    case QRN_FORMAT_H264:
        return decodeInto(mH264.get(), data, length);
    default:
        return QImage();
    }
}

QImage FrameDecoder::convertRaw(const FrameHeader &header, const uint8_t *data, int length)
{
    int width = 0;
    int height = 0;
    QRN_Video_AnalysisResolu(static_cast<int>(header.resolution), &width, &height);
    // The size comes from the header alone: the data must cover it.
    if (static_cast<int64_t>(width) * height * 2 > length)
        return QImage();
    if (quarn_sws_process(QUARN_PIX_YUYV422, data, kOutput, mBuffer.get(), width, height) < 0)
        return QImage();
    return QImage(mBuffer.get(), width, height, QImage::Format_RGB32).copy();
}

QImage FrameDecoder::decodeInto(quarn_vdec *decoder, const uint8_t *data, int length)
{
    int width = 0;
    int height = 0;
    if (!decoder || quarn_vdec_decode(decoder, data, length, &width, &height) < 0)
        return QImage();
    // The picture is converted straight into the memory of the image that is
    // emitted, so the frame costs no copy; the decode buffer's limit holds.
    const int64_t stride = quarn_output_stride(kOutput, width);
    if (stride * height > QUARN_RGB_BUFFER_SIZE)
        return QImage();
    const int64_t bytes = quarn_output_bytes(kOutput, width, height);
    auto *pixels = static_cast<uchar *>(std::malloc(static_cast<size_t>(bytes)));
    if (!pixels)
        return QImage();
    // The image owns the memory: the last copy to go frees it.
    QImage image(pixels, width, height, static_cast<int>(stride), QImage::Format_RGB32, freePixels, pixels);
    if (quarn_vdec_output(decoder, pixels, bytes) < 0)
        return QImage();
    return image;
}

}  // namespace KelvoWifi
