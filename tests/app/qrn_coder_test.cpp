// The decoder layer against independent decodes of the same frames, and
// against frames that are broken or too large.
#include <QtTest>

#include <memory>
#include <vector>

#include "qrn_coder.h"
#include "reference_pictures.h"

namespace {

// Two JPEG decoders' different IDCTs, and rounding
// in swscale's fixed-point YUV formula, move a channel by a few steps at most.
constexpr int kJpegTolerance = 5;
constexpr int kFormulaTolerance = 3;

struct VdecDeleter {
    void operator()(quarn_vdec *decoder) const { quarn_vdec_destory(decoder); }
};
using Vdec = std::unique_ptr<quarn_vdec, VdecDeleter>;

// A buffer of the size the decoder is promised, filled with a mark so that
// the test sees which bytes were written.
std::vector<uint8_t> outputBuffer()
{
    return std::vector<uint8_t>(QUARN_RGB_BUFFER_SIZE, 0xA5);
}

QImage wrap(const std::vector<uint8_t> &buffer, int width, int height, int output = QUARN_PIX_RGB24)
{
    // No stride given: the image assumes rows padded to four bytes.
    return QImage(buffer.data(), width, height,
                  output == QUARN_PIX_RGB32 ? QImage::Format_RGB32 : QImage::Format_RGB888)
        .copy();
}

enum class Input { Jpeg, H264, Yuyv };

// Every picture of a short stream of the given kind, decoded to output; an
// empty list when a step fails or there is no H.264 encoder.
QVector<QImage> decodeStream(Input input, int output, int width, int height)
{
    QVector<probesim::YuvImage> pictures;
    for (uint32_t frame = 0; frame < 3; ++frame)
        pictures.append(reference::colourPicture(width, height, frame));
    std::vector<std::vector<uint8_t>> units;
    if (input == Input::H264)
        units = reference::h264(pictures);
    for (const auto &picture : pictures) {
        if (input == Input::Jpeg)
            units.push_back(reference::jpeg(reference::rgb(picture)));
        else if (input == Input::Yuyv)
            units.push_back(reference::yuyv(picture));
    }
    Vdec decoder(input == Input::Yuyv
                     ? nullptr
                     : quarn_vdec_create(input == Input::Jpeg ? QUARN_CODEC_MJPEG : QUARN_CODEC_H264, output));
    auto out = outputBuffer();
    QVector<QImage> images;
    for (const auto &unit : units) {
        int w = 0, h = 0;
        const int result =
            input == Input::Yuyv
                ? quarn_sws_process(QUARN_PIX_YUYV422, unit.data(), output, out.data(), width, height)
                : quarn_vdec_process(decoder.get(), unit.data(), static_cast<int>(unit.size()), out.data(), &w, &h);
        if (result != 0)
            return {};
        images.append(wrap(out, width, height, output));
    }
    return images;
}

}  // namespace

class QrnCoderTest : public QObject {
    Q_OBJECT

private slots:
    void jpegAgreesWithDjpeg_data();
    void jpegAgreesWithDjpeg();
    void yuyvAgreesWithBt601_data();
    void yuyvAgreesWithBt601();
    void h264AgreesWithFfmpeg_data();
    void h264AgreesWithFfmpeg();
    void pictureLargerThanTheBufferIsRefused_data();
    void pictureLargerThanTheBufferIsRefused();
    void brokenDataGivesANegativeCode_data();
    void brokenDataGivesANegativeCode();
    void decoderGoesOnAfterBrokenData();
    void unknownCodecsAndFormatsAreRefused();
    void rgb32HoldsTheRgb24Pixels_data();
    void rgb32HoldsTheRgb24Pixels();
    void twoStepOutputStaysInItsRoom_data();
    void twoStepOutputStaysInItsRoom();
};

void QrnCoderTest::jpegAgreesWithDjpeg_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1280x960") << 1280 << 960;
    // 318 * 3 bytes is not a multiple of four: a decoder that packed the
    // rows tightly would shear every line after the first.
    QTest::newRow("318x240, padded rows") << 318 << 240;
    QTest::newRow("642x482, padded rows") << 642 << 482;
}

void QrnCoderTest::jpegAgreesWithDjpeg()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const auto jpeg = reference::jpeg(reference::rgb(reference::colourPicture(width, height, 7)));
    QString error;
    const QImage expected = reference::djpeg(jpeg, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));

    Vdec decoder(quarn_vdec_create(QUARN_CODEC_MJPEG, QUARN_PIX_RGB24));
    QVERIFY(decoder);
    auto out = outputBuffer();
    int decodedWidth = 0, decodedHeight = 0;
    QCOMPARE(quarn_vdec_process(decoder.get(), jpeg.data(), static_cast<int>(jpeg.size()), out.data(), &decodedWidth,
                                &decodedHeight),
             0);
    QCOMPARE(decodedWidth, width);
    QCOMPARE(decodedHeight, height);
    const int difference = reference::maxDifference(wrap(out, width, height), expected);
    QVERIFY2(difference >= 0 && difference <= kJpegTolerance, qPrintable(QString::number(difference)));
}

void QrnCoderTest::yuyvAgreesWithBt601_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("640x480") << 640 << 480;
    QTest::newRow("318x240, padded rows") << 318 << 240;
    QTest::newRow("62x40, padded rows") << 62 << 40;
}

void QrnCoderTest::yuyvAgreesWithBt601()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const auto yuyv = reference::yuyv(reference::colourPicture(width, height, 3));
    auto out = outputBuffer();
    QCOMPARE(quarn_sws_process(QUARN_PIX_YUYV422, yuyv.data(), QUARN_PIX_RGB24, out.data(), width, height), 0);
    const int difference = reference::maxDifference(wrap(out, width, height), reference::bt601(yuyv, width, height));
    QVERIFY2(difference >= 0 && difference <= kFormulaTolerance, qPrintable(QString::number(difference)));
}

void QrnCoderTest::h264AgreesWithFfmpeg_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1280x960") << 1280 << 960;
    QTest::newRow("318x240, padded rows") << 318 << 240;
}

void QrnCoderTest::h264AgreesWithFfmpeg()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QVector<probesim::YuvImage> pictures;
    for (uint32_t frame = 0; frame < 5; ++frame)
        pictures.append(reference::colourPicture(width, height, frame));
    const auto units = reference::h264(pictures);
    if (units.empty())
        QSKIP("this machine's libavcodec has no H.264 encoder");
    std::vector<uint8_t> stream;
    for (const auto &unit : units)
        stream.insert(stream.end(), unit.begin(), unit.end());
    QString error;
    const QVector<QImage> expected = reference::ffmpegRgb24(stream, "h264", width, height, &error);
    QVERIFY2(expected.size() == static_cast<int>(units.size()), qPrintable(error));

    Vdec decoder(quarn_vdec_create(QUARN_CODEC_H264, QUARN_PIX_RGB24));
    QVERIFY(decoder);
    auto out = outputBuffer();
    for (size_t i = 0; i < units.size(); ++i) {
        int decodedWidth = 0, decodedHeight = 0;
        QCOMPARE(quarn_vdec_process(decoder.get(), units[i].data(), static_cast<int>(units[i].size()), out.data(),
                                    &decodedWidth, &decodedHeight),
                 0);
        QCOMPARE(QSize(decodedWidth, decodedHeight), QSize(width, height));
        const int difference = reference::maxDifference(wrap(out, width, height), expected[static_cast<int>(i)]);
        QVERIFY2(difference == 0, qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
}

void QrnCoderTest::pictureLargerThanTheBufferIsRefused_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("expected");
    // 2592 * 3 * 2592 is the buffer to the byte.
    QTest::newRow("exactly fits") << 2592 << 2592 << 0;
    QTest::newRow("one row pair more") << 2592 << 2594 << int(QUARN_CODER_ERR_TOO_LARGE);
    QTest::newRow("wider") << 2600 << 2592 << int(QUARN_CODER_ERR_TOO_LARGE);
}

void QrnCoderTest::pictureLargerThanTheBufferIsRefused()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, expected);
    QImage grey(width, height, QImage::Format_RGB888);
    grey.fill(QColor(90, 90, 90));
    const auto jpeg = reference::jpeg(grey, 50);
    Vdec decoder(quarn_vdec_create(QUARN_CODEC_MJPEG, QUARN_PIX_RGB24));
    auto out = outputBuffer();
    int decodedWidth = -1, decodedHeight = -1;
    QCOMPARE(quarn_vdec_process(decoder.get(), jpeg.data(), static_cast<int>(jpeg.size()), out.data(), &decodedWidth,
                                &decodedHeight),
             expected);
    if (expected < 0) {
        QCOMPARE(decodedWidth, -1);
        QVERIFY2(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }), "nothing written");
    } else {
        QCOMPARE(QSize(decodedWidth, decodedHeight), QSize(width, height));
    }

    // The raw path has the same limit.
    const std::vector<uint8_t> raw(static_cast<size_t>(width) * height * 2, 128);
    QCOMPARE(quarn_sws_process(QUARN_PIX_YUYV422, raw.data(), QUARN_PIX_RGB24, out.data(), width, height), expected);
}

void QrnCoderTest::brokenDataGivesANegativeCode_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<QByteArray>("data");
    const auto good = reference::jpeg(reference::rgb(reference::colourPicture(320, 240, 1)));
    const QByteArray jpeg(reinterpret_cast<const char *>(good.data()), static_cast<int>(good.size()));
    QByteArray noise(4096, Qt::Uninitialized);
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    QByteArray badHeader = jpeg;
    for (int i = 2; i < 200 && i < badHeader.size(); ++i)
        badHeader[i] = static_cast<char>(0xFF);

    QTest::newRow("JPEG cut in half") << int(QUARN_CODEC_MJPEG) << jpeg.left(jpeg.size() / 2);
    QTest::newRow("JPEG start marker only") << int(QUARN_CODEC_MJPEG) << jpeg.left(2);
    QTest::newRow("JPEG headers overwritten") << int(QUARN_CODEC_MJPEG) << badHeader;
    QTest::newRow("noise as JPEG") << int(QUARN_CODEC_MJPEG) << noise;
    QTest::newRow("noise as H.264") << int(QUARN_CODEC_H264) << noise;
    QTest::newRow("one byte") << int(QUARN_CODEC_MJPEG) << QByteArray(1, '\xff');

    const auto units = reference::h264({reference::colourPicture(320, 240, 0)});
    if (!units.empty()) {
        const QByteArray key(reinterpret_cast<const char *>(units[0].data()), static_cast<int>(units[0].size()));
        QTest::newRow("H.264 key frame cut in half") << int(QUARN_CODEC_H264) << key.left(key.size() / 2);
    }
}

void QrnCoderTest::brokenDataGivesANegativeCode()
{
    QFETCH(int, codec);
    QFETCH(QByteArray, data);
    Vdec decoder(quarn_vdec_create(codec, QUARN_PIX_RGB24));
    QVERIFY(decoder);
    auto out = outputBuffer();
    int width = -1, height = -1;
    const int result = quarn_vdec_process(decoder.get(), reinterpret_cast<const uint8_t *>(data.constData()),
                                          data.size(), out.data(), &width, &height);
    QVERIFY2(result < 0, qPrintable(QString::number(result)));
    QCOMPARE(QSize(width, height), QSize(-1, -1));
}

void QrnCoderTest::decoderGoesOnAfterBrokenData()
{
    Vdec decoder(quarn_vdec_create(QUARN_CODEC_MJPEG, QUARN_PIX_RGB24));
    const auto good = reference::jpeg(reference::rgb(reference::colourPicture(320, 240, 1)));
    auto out = outputBuffer();
    int width = 0, height = 0;
    QVERIFY(quarn_vdec_process(decoder.get(), good.data(), static_cast<int>(good.size() / 3), out.data(), &width,
                               &height) < 0);
    QCOMPARE(quarn_vdec_process(decoder.get(), good.data(), static_cast<int>(good.size()), out.data(), &width,
                                &height),
             0);
    QCOMPARE(QSize(width, height), QSize(320, 240));
}

void QrnCoderTest::unknownCodecsAndFormatsAreRefused()
{
    // This FFmpeg's own numbers for MJPEG and H.264 are 7 and 27.
    for (int codec : {0, 7, 27, 9, 29})
        QVERIFY2(!quarn_vdec_create(codec, QUARN_PIX_RGB24), qPrintable(QString::number(codec)));
    QVERIFY(!quarn_vdec_create(QUARN_CODEC_MJPEG, QUARN_PIX_YUYV422));
    auto out = outputBuffer();
    const std::vector<uint8_t> raw(16 * 2 * 2, 128);
    QCOMPARE(quarn_sws_process(QUARN_PIX_RGB24, raw.data(), QUARN_PIX_RGB24, out.data(), 16, 2),
             int(QUARN_CODER_ERR_ARGUMENT));
    QCOMPARE(quarn_sws_process(QUARN_PIX_YUYV422, raw.data(), QUARN_PIX_RGB24, out.data(), 15, 2),
             int(QUARN_CODER_ERR_ARGUMENT));
    QCOMPARE(quarn_sws_process(QUARN_PIX_YUYV422, raw.data(), QUARN_PIX_RGB24, out.data(), 16, 0),
             int(QUARN_CODER_ERR_ARGUMENT));
    int width = 0, height = 0;
    QCOMPARE(quarn_vdec_process(nullptr, raw.data(), 4, out.data(), &width, &height), int(QUARN_CODER_ERR_ARGUMENT));
}

void QrnCoderTest::rgb32HoldsTheRgb24Pixels_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("JPEG 1280x960") << int(Input::Jpeg) << 1280 << 960 << 0;
    // Not a whole number of swscale's 8-pixel groups: the last pixels of
    // each row take the scratch path.
    QTest::newRow("JPEG 318x240") << int(Input::Jpeg) << 318 << 240 << 0;
    QTest::newRow("H.264 318x240") << int(Input::H264) << 318 << 240 << 0;
    // swscale converts packed YUYV to either output by a different path,
    // whose rounding differs by a few steps.
    QTest::newRow("YUYV 642x482") << int(Input::Yuyv) << 642 << 482 << kFormulaTolerance;
}

// The 32-bit output is the 24-bit picture, each pixel one opaque word.
void QrnCoderTest::rgb32HoldsTheRgb24Pixels()
{
    QFETCH(int, input);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, tolerance);
    const QVector<QImage> rgb24 = decodeStream(Input(input), QUARN_PIX_RGB24, width, height);
    if (rgb24.isEmpty() && Input(input) == Input::H264)
        QSKIP("this machine's libavcodec has no H.264 encoder");
    const QVector<QImage> rgb32 = decodeStream(Input(input), QUARN_PIX_RGB32, width, height);
    QVERIFY(!rgb24.isEmpty());
    QCOMPARE(rgb32.size(), rgb24.size());
    for (int i = 0; i < rgb32.size(); ++i) {
        const int difference = reference::maxDifference(rgb32[i], rgb24[i]);
        QVERIFY2(difference >= 0 && difference <= tolerance, qPrintable(QString::number(difference)));
        for (int y = 0; y < height; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(rgb32[i].constScanLine(y));
            QVERIFY2(std::all_of(line, line + width, [](QRgb p) { return qAlpha(p) == 255; }),
                     qPrintable(QStringLiteral("frame %1, row %2 not opaque").arg(i).arg(y)));
        }
    }
}

void QrnCoderTest::twoStepOutputStaysInItsRoom_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("width");
    // swscale's 32-bit converters write a group of pixels past the row at
    // such widths: the room behind the rows takes them.
    QTest::newRow("RGB32 200 wide") << int(QUARN_PIX_RGB32) << 200;
    QTest::newRow("RGB32 24 wide") << int(QUARN_PIX_RGB32) << 24;
    QTest::newRow("RGB32 318 wide") << int(QUARN_PIX_RGB32) << 318;
    QTest::newRow("RGB24 318 wide") << int(QUARN_PIX_RGB24) << 318;
}

void QrnCoderTest::twoStepOutputStaysInItsRoom()
{
    QFETCH(int, output);
    QFETCH(int, width);
    const int height = 100;
    const auto jpeg = reference::jpeg(reference::rgb(reference::colourPicture(width, height, 2)));
    Vdec decoder(quarn_vdec_create(QUARN_CODEC_MJPEG, output));
    QVERIFY(decoder);
    int w = 0, h = 0;
    QCOMPARE(quarn_vdec_decode(decoder.get(), jpeg.data(), static_cast<int>(jpeg.size()), &w, &h), 0);
    QCOMPARE(QSize(w, h), QSize(width, height));

    const int64_t room = quarn_output_bytes(output, width, height);
    std::vector<uint8_t> out(static_cast<size_t>(room) + 4096, 0xA5);
    QCOMPARE(quarn_vdec_output(decoder.get(), out.data(), room - 1), int(QUARN_CODER_ERR_TOO_LARGE));
    QVERIFY2(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }), "nothing written");
    QCOMPARE(quarn_vdec_output(decoder.get(), out.data(), room), 0);
    QVERIFY2(std::all_of(out.begin() + room, out.end(), [](uint8_t b) { return b == 0xA5; }), "written past the room");

    // The same picture as the one-step call gives.
    auto whole = outputBuffer();
    QCOMPARE(quarn_vdec_process(decoder.get(), jpeg.data(), static_cast<int>(jpeg.size()), whole.data(), &w, &h), 0);
    const int64_t stride = quarn_output_stride(output, width);
    QVERIFY(std::equal(out.begin(), out.begin() + stride * height, whole.begin()));
}

QTEST_GUILESS_MAIN(QrnCoderTest)
#include "qrn_coder_test.moc"
