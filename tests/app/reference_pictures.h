// Test pictures and independent decodes of them: djpeg for JPEG, the ffmpeg
// program for H.264, the BT.601 formula for raw YUYV.
#pragma once

#include <QImage>
#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

#include "end_face_picture.h"

namespace reference {

// The simulator's end face with smooth colour added, so that a swapped
// channel, a wrong range or a sheared row all show.
probesim::YuvImage colourPicture(uint16_t width, uint16_t height, uint32_t frame);

// The picture in RGB, through the BT.601 formula.
QImage rgb(const probesim::YuvImage &picture);
// Baseline 4:2:0 JPEG from Qt's writer, for any size (the simulator's
// encoder takes multiples of 16 only).
std::vector<uint8_t> jpeg(const QImage &picture, int quality = 90);
std::vector<uint8_t> yuyv(const probesim::YuvImage &picture);
// One access unit per picture, the first a key frame; empty when this
// machine has no H.264 encoder.
std::vector<std::vector<uint8_t>> h264(const QVector<probesim::YuvImage> &pictures);

// Null when djpeg cannot run or fails. Chroma is upsampled by repetition,
// as swscale's same-size conversion does, so only the IDCTs differ.
QImage djpeg(const std::vector<uint8_t> &jpeg, QString *error);
// One image per decoded picture; empty when ffmpeg cannot run or fails.
QVector<QImage> ffmpegRgb24(const std::vector<uint8_t> &stream, const char *inputFormat, int width, int height,
                            QString *error);
// Limited-range BT.601, each pair of pixels sharing its U and V.
QImage bt601(const std::vector<uint8_t> &yuyv, int width, int height);

// Largest difference of one channel of one pixel; -1 when the sizes differ.
int maxDifference(const QImage &a, const QImage &b);

}  // namespace reference
