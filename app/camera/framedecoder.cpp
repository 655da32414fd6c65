#include "framedecoder.h"

#include <climits>
#include <new>

namespace KelvoWifi {

FrameDecoder::FrameDecoder()
    : mBuffer(new (std::nothrow) uint8_t[QUARN_RGB_BUFFER_SIZE]),
      mMjpeg(quarn_vdec_create(QUARN_CODEC_MJPEG, QUARN_PIX_RGB24)),
      mH264(quarn_vdec_create(QUARN_CODEC_H264, QUARN_PIX_RGB24))
{
}

FrameDecoder::~FrameDecoder() = default;

QImage FrameDecoder::decode(const FrameHeader &header, const uint8_t *data)
{
    if (!mBuffer || !data || header.length > INT_MAX)
        return QImage();
    const int length = static_cast<int>(header.length);
    int width = 0;
    int height = 0;
    QRN_Video_AnalysisResolu(static_cast<int>(header.resolution), &width, &height);

    int result = QUARN_CODER_ERR_ARGUMENT;
    switch (header.format) {
    case QRN_FORMAT_YUYV:
        // The size comes from the header alone: the data must cover it.
        if (static_cast<int64_t>(width) * height * 2 > length)
            return QImage();
        result = quarn_sws_process(QUARN_PIX_YUYV422, data, QUARN_PIX_RGB24, mBuffer.get(), width, height);
        break;
    case QRN_FORMAT_JPEG:
        if (mMjpeg)
            result = quarn_vdec_process(mMjpeg.get(), data, length, mBuffer.get(), &width, &height);
        break;
    case QRN_FORMAT_H264:
        if (mH264)
            result = quarn_vdec_process(mH264.get(), data, length, mBuffer.get(), &width, &height);
        break;
    default:
        return QImage();
    }
    if (result < 0)
        return QImage();
    // Rows are padded to four bytes, as QImage assumes without a stride.
    return QImage(mBuffer.get(), width, height, QImage::Format_RGB888).copy();
}

}  // namespace KelvoWifi
