#include "reference_pictures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "h264_encoder.h"

namespace reference {

namespace {

constexpr int kToolWaitMs = 60000;

uint8_t clamp8(double value)
{
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

bool runTool(const QString &program, const QStringList &arguments, QByteArray *output, QString *error)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kToolWaitMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + QStringLiteral(": ") + process.errorString() + QLatin1Char(' ') +
                 QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

bool writeFile(const QString &path, const std::vector<uint8_t> &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

}  // namespace

probesim::YuvImage colourPicture(uint16_t width, uint16_t height, uint32_t frame)
{
    probesim::EndFacePicture scene;
    probesim::YuvImage picture = scene.render(width, height, frame, probesim::PictureLook());
    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    for (int y = 0; y < chromaHeight; ++y)
        for (int x = 0; x < chromaWidth; ++x) {
            picture.u[y * chromaWidth + x] = static_cast<uint8_t>(48 + 160 * x / std::max(chromaWidth - 1, 1));
            picture.v[y * chromaWidth + x] = static_cast<uint8_t>(208 - 160 * y / std::max(chromaHeight - 1, 1));
        }
    return picture;
}

QImage rgb(const probesim::YuvImage &picture)
{
    return bt601(yuyv(picture), picture.width, picture.height);
}

std::vector<uint8_t> jpeg(const QImage &picture, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(picture);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> yuyv(const probesim::YuvImage &picture)
{
    const int width = picture.width;
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(width) * picture.height * 2);
    for (int row = 0; row < picture.height; ++row)
        for (int x = 0; x < width; x += 2) {
            const int chroma = (row / 2) * (width / 2) + x / 2;
            out.push_back(picture.y[row * width + x]);
            out.push_back(picture.u[chroma]);
            out.push_back(picture.y[row * width + x + 1]);
            out.push_back(picture.v[chroma]);
        }
    return out;
}

std::vector<std::vector<uint8_t>> h264(const QVector<probesim::YuvImage> &pictures)
{
    std::vector<std::vector<uint8_t>> units;
    if (!probesim::H264Encoder::available())
        return units;
    probesim::H264Encoder encoder;
    probesim::H264Params params;
    params.key_interval = 1000;  // one key frame, then predicted frames
    for (int i = 0; i < pictures.size(); ++i) {
        std::vector<uint8_t> unit;
        bool key = false;
        if (!encoder.encode(pictures[i], params, i == 0, unit, key))
            return {};
        units.push_back(unit);
    }
    return units;
}

QImage djpeg(const std::vector<uint8_t> &jpeg, QString *error)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.jpg"));
    QByteArray ppm;
    if (!writeFile(path, jpeg) || !runTool(QStringLiteral("djpeg"), {QStringLiteral("-nosmooth"), QStringLiteral("-ppm"), path}, &ppm, error))
        return QImage();
    // "P6\n<width> <height>\n255\n" then packed RGB.
    const QList<QByteArray> fields = ppm.left(64).simplified().split(' ');
    if (fields.size() < 4 || fields[0] != "P6" || fields[3].left(3) != "255") {
        *error = QStringLiteral("djpeg wrote no PPM");
        return QImage();
    }
    const int width = fields[1].toInt();
    const int height = fields[2].toInt();
    const int dataSize = width * height * 3;
    if (width <= 0 || height <= 0 || ppm.size() < dataSize) {
        *error = QStringLiteral("djpeg's PPM is short");
        return QImage();
    }
    const uchar *pixels = reinterpret_cast<const uchar *>(ppm.constData() + ppm.size() - dataSize);
    return QImage(pixels, width, height, width * 3, QImage::Format_RGB888).copy();
}

QVector<QImage> ffmpegRgb24(const std::vector<uint8_t> &stream, const char *inputFormat, int width, int height,
                            QString *error)
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("stream"));
    const QString out = dir.filePath(QStringLiteral("frames.rgb"));
    if (!writeFile(in, stream) ||
        !runTool(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-threads"),
                  QStringLiteral("1"), QStringLiteral("-f"), QLatin1String(inputFormat), QStringLiteral("-i"), in,
                  QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                  QStringLiteral("rgb24"), QStringLiteral("-y"), out},
                 nullptr, error))
        return {};
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("ffmpeg wrote nothing");
        return {};
    }
    const QByteArray raw = file.readAll();
    const int frameSize = width * height * 3;
    QVector<QImage> frames;
    for (int offset = 0; offset + frameSize <= raw.size(); offset += frameSize)
        frames.append(QImage(reinterpret_cast<const uchar *>(raw.constData() + offset), width, height, width * 3,
                             QImage::Format_RGB888)
                          .copy());
    return frames;
}

QImage bt601(const std::vector<uint8_t> &yuyv, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int row = 0; row < height; ++row) {
        uchar *line = image.scanLine(row);
        for (int x = 0; x < width; ++x) {
            const size_t pair = (static_cast<size_t>(row) * width + (x & ~1)) * 2;
            const double y = 1.164 * (yuyv[pair + (x & 1) * 2] - 16);
            const double u = yuyv[pair + 1] - 128;
            const double v = yuyv[pair + 3] - 128;
            line[x * 3 + 0] = clamp8(y + 1.596 * v);
            line[x * 3 + 1] = clamp8(y - 0.392 * u - 0.813 * v);
            line[x * 3 + 2] = clamp8(y + 2.017 * u);
        }
    }
    return image;
}

int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return -1;
    const QImage left = a.convertToFormat(QImage::Format_RGB888);
    const QImage right = b.convertToFormat(QImage::Format_RGB888);
    int worst = 0;
    for (int row = 0; row < left.height(); ++row) {
        const uchar *p = left.constScanLine(row);
        const uchar *q = right.constScanLine(row);
        for (int i = 0; i < left.width() * 3; ++i)
            worst = std::max(worst, std::abs(p[i] - q[i]));
    }
    return worst;
}

}  // namespace reference
