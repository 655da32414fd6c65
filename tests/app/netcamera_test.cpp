// The network camera against the simulated probe on its own loopback
// address: connect, controls, the frame loop and its end.
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>

#include "frame_forwarder.h"
#include "netcamera.h"
#include "p2p_servers.h"
#include "probe_wire.h"
#include "reference_pictures.h"
#include "test_support.h"

using KelvoWifi::NetCamera;
using probesim::ProbeSimulator;
using probesim::StreamPacket;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

constexpr int kWaitMs = 10000;
constexpr auto kWait = std::chrono::milliseconds(kWaitMs);
constexpr uint8_t kVideoPacket = 0;
constexpr uint8_t kPicturePacket = 1;
constexpr int kJpegTolerance = 5;
constexpr int kFormulaTolerance = 3;
// The module's own frames; the test's frames are of other sizes.
constexpr int kModuleWidth = 640;
constexpr int kModuleHeight = 480;

using Setter = int (NetCamera::*)(float);
using Getter = int (NetCamera::*)(float *);

struct Control {
    const char *name;
    uint32_t index;  // in the module's control table
    Setter set;
    Getter get;
};

// The simulated probe's ranges: brightness 0..255, exposure 1..5000 (with
// an automatic mode), gamma 100..300, contrast, saturation and gain 0..100,
// sharpness 0..7.
const Control kControls[] = {
    {"brightness", 0, &NetCamera::setBrightness, &NetCamera::getBrightness},
    {"exposure", 9, &NetCamera::setExposure, &NetCamera::getExposure},
    {"gamma", 5, &NetCamera::setGamma, &NetCamera::getGamma},
    {"contrast", 1, &NetCamera::setContrast, &NetCamera::getContrast},
    {"sharpness", 7, &NetCamera::setSharpness, &NetCamera::getSharpness},
    {"saturation", 2, &NetCamera::setSaturation, &NetCamera::getSaturation},
    {"gain", 6, &NetCamera::setGain, &NetCamera::getGain},
};

const Control &control(const QString &name)
{
    return *std::find_if(std::begin(kControls), std::end(kControls),
                         [&](const Control &c) { return name == QLatin1String(c.name); });
}

uint32_t word(const std::vector<uint8_t> &bytes, size_t offset)
{
    return probesim::wire::get_u32(bytes.data() + offset);
}

std::vector<probesim::ReceivedPacket> packetsWithCode(const ProbeSimulator &sim, uint16_t code)
{
    std::vector<probesim::ReceivedPacket> found;
    for (const auto &packet : sim.packets())
        if (packet.code == code)
            found.push_back(packet);
    return found;
}

StreamPacket framePacket(uint8_t type, uint32_t format, int width, int height, const std::vector<uint8_t> &data)
{
    StreamPacket packet;
    packet.type = type;
    packet.payload = ProbeSimulator::frame_payload(
        format, probesim::wire::resolution_code(static_cast<uint16_t>(width), static_cast<uint16_t>(height)), 1, true,
        data);
    return packet;
}

std::vector<uint8_t> bytesOf(const QByteArray &data)
{
    return std::vector<uint8_t>(data.begin(), data.end());
}

}  // namespace

class NetCameraTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void interfaceAnswersAsAbstractCamera();
    void scanSeesAModuleAnsweringOnTheLan();
    void connectTriesTheSecondAccessString_data();
    void connectTriesTheSecondAccessString();
    void withoutSessionOperationsSaySo();
    void settersCheckTheControlsRange_data();
    void settersCheckTheControlsRange();
    void absentControlIsRefusedWithoutSending();
    void undecodableFramesAreReleasedSilently_data();
    void undecodableFramesAreReleasedSilently();
    void decodedFramesMatchIndependentDecoders_data();
    void decodedFramesMatchIndependentDecoders();
    void pushedPictureIsAStillAndCaptureKeepsTheVideoFrame();
    void captureWhileStreamingHandsOverWholeFrames();
    void losingTheModuleEndsTheStreamOnce();
    void streamingTwiceStartsOneThread();
    void streamsFromAModuleReachedByItsId_data();
    void streamsFromAModuleReachedByItsId();

private:
    void startSimulator(probesim::DeviceModel model = probesim::DeviceModel());
    bool connectCamera();
    // Stops the module's own frames and shows a marker frame after them;
    // returns the marker's place in the spy, or -1. A module frame that
    // was being encoded may still follow, so checks go by ids and sizes.
    int stopModuleFrames(QSignalSpy &video);
    // Sends a frame of this size and returns the place of its video signal
    // in the spy, or -1.
    int sendMarker(QSignalSpy &video, QSize size);

    testing_support::RunningSim mRunning;
    std::unique_ptr<NetCamera> mCamera;
    std::unique_ptr<FrameForwarder> mForwarder;
};

void NetCameraTest::init()
{
    mCamera = std::make_unique<NetCamera>();
    mForwarder = std::make_unique<FrameForwarder>();
    mForwarder->follow(mCamera.get());
}

void NetCameraTest::cleanup()
{
    mCamera.reset();  // stops the loop, then lets the session go
    mForwarder.reset();
    mRunning = testing_support::RunningSim();
}

void NetCameraTest::startSimulator(probesim::DeviceModel model)
{
    mRunning = testing_support::start_sim(model);
    mRunning.sim->set_video_format(probesim::wire::kFormatMjpeg, kModuleWidth, kModuleHeight, 30);
    qputenv("KELVO_QRN_ADDRESS", QByteArray::fromStdString(mRunning.address));
}

bool NetCameraTest::connectCamera()
{
    if (mCamera->connect(0) != 0)
        return false;
    // Notices and test frames travel on the stream connection.
    return mRunning.sim->wait_until([](const auto &s) { return s.stream_connections_open >= 1; }, kWait);
}

int NetCameraTest::sendMarker(QSignalSpy &video, QSize size)
{
    const int before = video.count();
    QImage picture(size, QImage::Format_RGB888);
    picture.fill(QColor(200, 40, 90));
    if (!mRunning.sim->send_stream_packets({framePacket(kVideoPacket, probesim::wire::kFormatMjpeg, size.width(),
                                                        size.height(), reference::jpeg(picture))}))
        return -1;
    for (;;) {
        for (int i = before; i < video.count(); ++i)
            if (video.at(i).at(1).value<QImage>().size() == size)
                return i;
        if (!video.wait(kWaitMs))
            return -1;
    }
}

int NetCameraTest::stopModuleFrames(QSignalSpy &video)
{
    return mCamera->videoEnd() == 0 ? sendMarker(video, QSize(24, 16)) : -1;
}

namespace {

int idAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(0).toInt();
}

QImage imageAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(1).value<QImage>();
}

}  // namespace

void NetCameraTest::interfaceAnswersAsAbstractCamera()
{
    KelvoWifi::AbstractCamera *interface = mCamera.get();
    QCOMPARE(mCamera->qt_metacast("AbstractCamera"), static_cast<void *>(interface));
    QCOMPARE(mCamera->qt_metacast("KelvoWifi::NetCamera"), static_cast<void *>(mCamera.get()));
}

void NetCameraTest::scanSeesAModuleAnsweringOnTheLan()
{
    startSimulator();
    QVERIFY(mRunning.sim->start_discovery());
    const QByteArray saved = qgetenv("QRN_BCAST_ADDRS");
    qputenv("QRN_BCAST_ADDRS", QByteArray::fromStdString(mRunning.address));
    // The scanner keeps running after the first call; the table fills as
    // answers come.
    QTRY_COMPARE_WITH_TIMEOUT(mCamera->scan(), 0, kWaitMs);
    mCamera.reset();  // stops the scanner before the list goes back
    qputenv("QRN_BCAST_ADDRS", saved);
}

void NetCameraTest::connectTriesTheSecondAccessString_data()
{
    QTest::addColumn<std::vector<std::string>>("accepted");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("logins");
    QTest::newRow("first accepted") << std::vector<std::string>{"org.pelmora.tisquad"} << 0 << 1;
    QTest::newRow("only the second accepted") << std::vector<std::string>{"vexim"} << 0 << 2;
    QTest::newRow("neither accepted") << std::vector<std::string>{"another"} << -5 << 2;
}

void NetCameraTest::connectTriesTheSecondAccessString()
{
    QFETCH(std::vector<std::string>, accepted);
    QFETCH(int, expected);
    QFETCH(int, logins);
    probesim::DeviceModel model;
    model.access_strings = accepted;
    startSimulator(model);

    QCOMPARE(mCamera->connect(0), expected);
    const auto sent = packetsWithCode(*mRunning.sim, probesim::wire::kLogin);
    QCOMPARE(static_cast<int>(sent.size()), logins);
    const char *const strings[] = {"org.pelmora.tisquad", "vexim"};
    for (size_t i = 0; i < sent.size(); ++i) {
        const std::string payload(sent[i].payload.begin(), sent[i].payload.end());
        QVERIFY2(payload.find(strings[i]) != std::string::npos, strings[i]);
    }
    QCOMPARE(mCamera->linkState(), expected == 0);
    if (expected != 0)
        QCOMPARE(mCamera->lastError(), int(QRN_ERR_LOGIN_REFUSED));
    QCOMPARE(mCamera->disconnect(), expected == 0 ? 0 : -3);
    QVERIFY(!mCamera->linkState());
}

void NetCameraTest::withoutSessionOperationsSaySo()
{
    float value = 0;
    int size[2] = {0, 0};
    for (const Control &c : kControls) {
        QCOMPARE(((*mCamera).*(c.set))(1.0f), -3);
        QCOMPARE(((*mCamera).*(c.get))(&value), -3);
    }
    QCOMPARE(mCamera->setResolution(640, 480, 0, 0), -3);
    QCOMPARE(mCamera->getResolution(size), -3);
    QCOMPARE(mCamera->capture(), -5);
    QCOMPARE(mCamera->disconnect(), -3);
    QCOMPARE(mCamera->videoBegin(), -3);
    QCOMPARE(mCamera->videoEnd(), -3);
}

void NetCameraTest::settersCheckTheControlsRange_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("sent");  // the value on the wire, if any
    struct Range {
        const char *control;
        int minimum;
        int maximum;
    };
    const Range ranges[] = {{"brightness", 0, 255}, {"exposure", 1, 5000}, {"gamma", 100, 300},
                            {"contrast", 0, 100},   {"sharpness", 0, 7},    {"saturation", 0, 100},
                            {"gain", 0, 100}};
    for (const Range &r : ranges) {
        const QByteArray name(r.control);
        QTest::newRow(name + " at its minimum") << QString(name) << float(r.minimum) << 0 << r.minimum;
        QTest::newRow(name + " at its maximum") << QString(name) << float(r.maximum) << 0 << r.maximum;
        QTest::newRow(name + " below") << QString(name) << float(r.minimum) - 0.5f << -4 << -1;
        QTest::newRow(name + " above") << QString(name) << float(r.maximum) + 1 << -4 << -1;
    }
    QTest::newRow("fraction is cut toward zero") << QStringLiteral("brightness") << 254.9f << 0 << 254;
    QTest::newRow("not a number") << QStringLiteral("gain") << std::numeric_limits<float>::quiet_NaN() << -4 << -1;
}

void NetCameraTest::settersCheckTheControlsRange()
{
    QFETCH(QString, control);
    QFETCH(float, value);
    QFETCH(int, expected);
    QFETCH(int, sent);
    startSimulator();
    QVERIFY(connectCamera());
    const Control &c = ::control(control);
    mRunning.sim->clear_packets();

    QCOMPARE(((*mCamera).*(c.set))(value), expected);
    const auto sets = packetsWithCode(*mRunning.sim, probesim::wire::kSetVideoCtrl);
    if (sent < 0) {
        QCOMPARE(sets.size(), size_t(0));
        return;
    }
    QCOMPARE(sets.size(), size_t(1));
    // Index, then the 32-byte entry: current value at 8, mode word at 28.
    QCOMPARE(word(sets[0].payload, 0), c.index);
    QCOMPARE(static_cast<int32_t>(word(sets[0].payload, 4 + 8)), sent);
    // Exposure has an automatic mode, which a manual value switches off.
    QCOMPARE(word(sets[0].payload, 4 + 28), 0u);
    float read = -1;
    QCOMPARE(((*mCamera).*(c.get))(&read), 0);
    QCOMPARE(read, float(sent));
}

void NetCameraTest::absentControlIsRefusedWithoutSending()
{
    startSimulator();
    QVERIFY(connectCamera());
    float gain = -1;
    QCOMPARE(mCamera->getGain(&gain), 0);
    // The module reports that gain has gone (present word 0), with a
    // current value that shows when the notice has been taken in.
    std::vector<uint8_t> notice(4 + 32, 0);
    probesim::wire::put_u32(notice.data(), 6);
    probesim::wire::put_u32(notice.data() + 4 + 8, 77);
    QVERIFY(mRunning.sim->send_param_change(QRN_PARAM_VIDEO_CTRL, notice));
    QTRY_VERIFY_WITH_TIMEOUT(mCamera->getGain(&gain) == 0 && gain == 77.0f, kWaitMs);
    mRunning.sim->clear_packets();

    QCOMPARE(mCamera->setGain(50), -13);
    QCOMPARE(packetsWithCode(*mRunning.sim, probesim::wire::kSetVideoCtrl).size(), size_t(0));
}

void NetCameraTest::undecodableFramesAreReleasedSilently_data()
{
    QTest::addColumn<uint32_t>("format");
    QTest::addColumn<QByteArray>("data");
    QByteArray noise(2000, Qt::Uninitialized);
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 31 + 7);
    QTest::newRow("unknown format") << 9u << noise;
    QTest::newRow("format 0") << 0u << noise;
    QTest::newRow("raw YUYV shorter than its size") << uint32_t(probesim::wire::kFormatYuyv) << noise;
    QTest::newRow("noise as JPEG") << uint32_t(probesim::wire::kFormatMjpeg) << noise;
    QTest::newRow("noise as H.264") << uint32_t(probesim::wire::kFormatH264) << noise;
}

void NetCameraTest::undecodableFramesAreReleasedSilently()
{
    QFETCH(uint32_t, format);
    QFETCH(QByteArray, data);
    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    const int first = stopModuleFrames(video);
    QVERIFY(first >= 0);

    QVERIFY(mRunning.sim->send_stream_packets({framePacket(kVideoPacket, format, 320, 240, bytesOf(data))}));
    const int second = sendMarker(video, QSize(40, 30));
    QVERIFY(second > first);
    // Between the two markers only the module's own frames show, each with
    // the next id: the broken frame showed nothing and took no id.
    for (int i = first + 1; i <= second; ++i) {
        QCOMPARE(idAt(video, i), idAt(video, i - 1) + 1);
        if (i < second)
            QCOMPARE(imageAt(video, i).size(), QSize(kModuleWidth, kModuleHeight));
    }
}

void NetCameraTest::decodedFramesMatchIndependentDecoders_data()
{
    QTest::addColumn<uint32_t>("format");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (uint32_t format : {probesim::wire::kFormatMjpeg, probesim::wire::kFormatYuyv, probesim::wire::kFormatH264}) {
        const QByteArray name = format == probesim::wire::kFormatMjpeg ? "JPEG"
                                : format == probesim::wire::kFormatYuyv ? "YUYV"
                                                                        : "H.264";
        QTest::newRow(name + " 320x240") << format << 320 << 240;
        // Rows of 62 * 3 bytes are padded to 188 in the image.
        QTest::newRow(name + " 62x40") << format << 62 << 40;
    }
}

void NetCameraTest::decodedFramesMatchIndependentDecoders()
{
    QFETCH(uint32_t, format);
    QFETCH(int, width);
    QFETCH(int, height);
    const probesim::YuvImage picture = reference::colourPicture(width, height, 11);
    std::vector<uint8_t> frame;
    QImage expected;
    int tolerance = 0;
    QString error;
    if (format == probesim::wire::kFormatMjpeg) {
        frame = reference::jpeg(reference::rgb(picture));
        expected = reference::djpeg(frame, &error);
        tolerance = kJpegTolerance;
    } else if (format == probesim::wire::kFormatYuyv) {
        frame = reference::yuyv(picture);
        expected = reference::bt601(frame, width, height);
        tolerance = kFormulaTolerance;
    } else {
        const auto units = reference::h264({picture});
        if (units.empty())
            QSKIP("this machine's libavcodec has no H.264 encoder");
        frame = units[0];
        const auto frames = reference::ffmpegRgb24(frame, "h264", width, height, &error);
        if (!frames.isEmpty())
            expected = frames[0];
    }
    QVERIFY2(!expected.isNull(), qPrintable(error));

    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    QVERIFY(stopModuleFrames(video) >= 0);
    QVERIFY(mRunning.sim->send_stream_packets({framePacket(kVideoPacket, format, width, height, frame)}));
    QTRY_VERIFY_WITH_TIMEOUT(video.last().at(1).value<QImage>().size() == QSize(width, height), kWaitMs);
    const QImage received = video.last().at(1).value<QImage>();

    // The image is the receiver's own: the source stopping, closing its
    // session and freeing its buffers leaves it as it came.
    QCOMPARE(mCamera->setStreaming(false), 0);
    QCOMPARE(mCamera->disconnect(), 0);
    mCamera.reset();
    QCOMPARE(received.format(), QImage::Format_RGB32);
    const int difference = reference::maxDifference(received, expected);
    QVERIFY2(difference >= 0 && difference <= tolerance, qPrintable(QString::number(difference)));
}

void NetCameraTest::pushedPictureIsAStillAndCaptureKeepsTheVideoFrame()
{
    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QSignalSpy stills(mForwarder.get(), &FrameForwarder::imageCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    const int marker = stopModuleFrames(video);
    QVERIFY(marker >= 0);

    const QImage pushed = reference::rgb(reference::colourPicture(96, 64, 2));
    const std::vector<uint8_t> jpeg = reference::jpeg(pushed);
    QVERIFY(mRunning.sim->send_stream_packets({framePacket(kPicturePacket, probesim::wire::kFormatMjpeg, 96, 64, jpeg)}));
    QVERIFY(stills.wait(kWaitMs));
    QCOMPARE(stills.count(), 1);
    QString error;
    const int difference = reference::maxDifference(imageAt(stills, 0), reference::djpeg(jpeg, &error));
    QVERIFY2(difference >= 0 && difference <= kJpegTolerance, qPrintable(QString::number(difference) + error));

    // Video and pictures share one count: the picture took the id after the
    // video frames shown before it (which arrived before it).
    const int pictureId = idAt(stills, 0);
    int expectedId = idAt(video, marker);
    for (int i = marker + 1; i < video.count() && idAt(video, i) < pictureId; ++i)
        QCOMPARE(idAt(video, i), ++expectedId);
    QCOMPARE(pictureId, expectedId + 1);

    // capture() answers with the id it holds and the last video frame, never
    // the picture: the video frame of the largest id up to it.
    QCOMPARE(mCamera->capture(), 0);
    QVERIFY(stills.count() == 2 || stills.wait(kWaitMs));
    QCoreApplication::processEvents();  // video frames emitted before the capture
    const int capturedId = idAt(stills, 1);
    QVERIFY(capturedId >= pictureId);
    int source = -1;
    for (int i = 0; i < video.count(); ++i)
        if (idAt(video, i) <= capturedId && (source < 0 || idAt(video, i) > idAt(video, source)))
            source = i;
    QVERIFY(source >= marker);
    QVERIFY(idAt(video, source) != pictureId);
    QCOMPARE(imageAt(stills, 1), imageAt(video, source));
}

void NetCameraTest::captureWhileStreamingHandsOverWholeFrames()
{
    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QSignalSpy stills(mForwarder.get(), &FrameForwarder::imageCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    // Each capture comes while the loop decodes the next frame.
    constexpr int kCaptures = 20;
    for (int i = 0; i < kCaptures; ++i) {
        QVERIFY(video.wait(kWaitMs));
        QCOMPARE(mCamera->capture(), 0);
    }
    QCOMPARE(mCamera->setStreaming(false), 0);
    QCoreApplication::processEvents();

    // Every still is the whole video frame of its id, never one half
    // overwritten by the next.
    QCOMPARE(stills.count(), kCaptures);
    for (int s = 0; s < stills.count(); ++s) {
        const int id = idAt(stills, s);
        int match = -1;
        for (int v = 0; v < video.count() && match < 0; ++v)
            if (idAt(video, v) == id)
                match = v;
        QVERIFY2(match >= 0, qPrintable(QString::number(id)));
        QCOMPARE(imageAt(stills, s), imageAt(video, match));
    }
}

void NetCameraTest::losingTheModuleEndsTheStreamOnce()
{
    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QSignalSpy stills(mForwarder.get(), &FrameForwarder::imageCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    QVERIFY(video.wait(kWaitMs));

    mRunning.sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(video.last().at(0).toInt() == -1, kWaitMs);
    // The loop ended by itself; stopping then only joins a finished thread.
    QTRY_VERIFY_WITH_TIMEOUT(mCamera->isFinished(), kWaitMs);
    QCOMPARE(mCamera->setStreaming(false), 0);
    QCoreApplication::processEvents();  // anything still queued from the loop

    const auto ends = std::count_if(video.begin(), video.end(), [](const QList<QVariant> &s) {
        return s.at(0).toInt() == -1;
    });
    QCOMPARE(ends, 1);
    QVERIFY(video.last().at(1).value<QImage>().isNull());
    for (int i = 0; i + 1 < video.count(); ++i)
        QVERIFY(!video.at(i).at(1).value<QImage>().isNull());

    // The session handle is still held: capture gives the null frame.
    QCOMPARE(mCamera->capture(), 0);
    QVERIFY(stills.count() == 1 || stills.wait(kWaitMs));
    QCOMPARE(stills.at(0).at(0).toInt(), -1);
    QVERIFY(stills.at(0).at(1).value<QImage>().isNull());
}

void NetCameraTest::streamsFromAModuleReachedByItsId_data()
{
    // Sessions the module offers only the relay for (-1: all), and whether
    // the library may replace a relayed session by a direct one.
    QTest::addColumn<int>("relayedSessions");
    QTest::addColumn<bool>("switchOn");
    QTest::addColumn<bool>("switched");
    QTest::newRow("direct") << 0 << true << false;
    QTest::newRow("relayed") << -1 << false << false;
    // The handle's session is swapped for a direct one while frames flow;
    // the poll that sees the swap fails once and the source goes on.
    QTest::newRow("relayed, then switched to direct") << 1 << true << true;
}

// A device ID in the address: the library answers 1 for its peer-to-peer
// session, which the source must keep and stream from like a LAN one.
void NetCameraTest::streamsFromAModuleReachedByItsId()
{
    QFETCH(int, relayedSessions);
    QFETCH(bool, switchOn);
    QFETCH(bool, switched);
    testing_support::P2pServers servers;
    QVERIFY(servers.started());
    const std::string id = "SQRN123456VIEWR";
    probesim::DeviceModel model;
    model.id = id;
    ProbeSimulator sim(model);
    sim.set_video_format(probesim::wire::kFormatMjpeg, kModuleWidth, kModuleHeight, 30);
    QRN_NET_ForceP2PTransSwitch(switchOn ? 1 : 0);
    if (relayedSessions != 0) {
        sim.set_relay_sessions(relayedSessions);
        sim.set_fault(probesim::Fault::RelayFirstSessions);
    }
    QVERIFY(sim.start_p2p(id, servers.init_string_a()));
    // The direct session's login is answered 2 s late, so the swap comes
    // while the source is streaming.
    if (switched)
        sim.set_fault(probesim::Fault::LateSecondSession);
    qputenv("KELVO_QRN_ADDRESS", QByteArray::fromStdString(id));

    QCOMPARE(mCamera->connect(0), 0);
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    QCOMPARE(mCamera->setStreaming(true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(video.count() >= 3, kWaitMs);
    // The module's sessions settled: the one the handle holds is its only
    // open one.
    const size_t sessions = switched ? 2 : 1;
    QVERIFY(sim.wait_until(
        [&](const auto &s) { return s.p2p_sessions_accepted == sessions && s.p2p_sessions_open == 1; }, kWait));
    const int settled = video.count();
    QTRY_VERIFY_WITH_TIMEOUT(video.count() >= settled + 3, kWaitMs);
    for (int i = 0; i < video.count(); ++i)
        QCOMPARE(imageAt(video, i).size(), QSize(kModuleWidth, kModuleHeight));

    QCOMPARE(mCamera->setStreaming(false), 0);
    QCOMPARE(mCamera->disconnect(), 0);
    QVERIFY(sim.wait_until([](const auto &s) { return s.p2p_sessions_open == 0; }, kWait));
    QRN_NET_ForceP2PTransSwitch(1);
}

void NetCameraTest::streamingTwiceStartsOneThread()
{
    startSimulator();
    QVERIFY(connectCamera());
    QSignalSpy started(mForwarder.get(), &FrameForwarder::threadStarted);
    QSignalSpy video(mForwarder.get(), &FrameForwarder::videoCaptured);
    mRunning.sim->clear_packets();

    QCOMPARE(mCamera->setStreaming(true), 0);
    QCOMPARE(mCamera->setStreaming(true), 0);
    QVERIFY(video.wait(kWaitMs));
    QCOMPARE(mCamera->setStreaming(false), 0);
    QCOMPARE(mCamera->setStreaming(false), 0);
    QCoreApplication::processEvents();

    QCOMPARE(started.count(), 1);
    QCOMPARE(packetsWithCode(*mRunning.sim, probesim::wire::kVideoBegin).size(), size_t(1));
    QCOMPARE(packetsWithCode(*mRunning.sim, probesim::wire::kVideoEnd).size(), size_t(1));
    QCOMPARE(std::count_if(video.begin(), video.end(), [](const QList<QVariant> &s) { return s.at(0).toInt() == -1; }),
             1L);
    QVERIFY(!mCamera->isRunning());
    // The ids of one run count up from 1 without a gap.
    for (int i = 0; i + 1 < video.count(); ++i)
        QCOMPARE(video.at(i).at(0).toInt(), i + 1);
}

QTEST_GUILESS_MAIN(NetCameraTest)
#include "netcamera_test.moc"
