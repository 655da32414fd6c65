// ml_camera against the simulator's second kind of module on loopback: the
// commands as the module stores them, and the preview through every stream
// fault. Each test owns its 127.0.52.x address.
#include <ml_camera.h>
#include <ml_http_server.h>

#include <QImage>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

// Below 2048: the SDK binds its data ports at random from 2048 up on every
// interface, and one of those may be open while a module here starts.
constexpr uint16_t kPort = 1880;

// Points the library at this test's module.
QByteArray useAddress(int last)
{
    const QByteArray address = "127.0.52." + QByteArray::number(last);
    qputenv("KELVO_ML_ADDRESS", address + ":" + QByteArray::number(kPort));
    return address;
}

// The frames a preview delivers, taken as a frame loop takes them.
struct FrameTaker {
    explicit FrameTaker(int previewHandle) : handle(previewHandle) {}
    int handle;
    std::vector<char> buffer = std::vector<char>(ML_FRAME_BUFFER_SIZE + 64, '\x5A');
    QList<QByteArray> frames;
    QList<int> numbers;

    int takeAll()
    {
        int info = 0;
        int length;
        while ((length = ML_GetVideoFrame(handle, buffer.data(), &info)) > 0) {
            frames.append(QByteArray(buffer.data(), length));
            numbers.append(info);
        }
        return frames.size();
    }
    // The library never writes past the frame buffer.
    bool guardIntact() const
    {
        return std::all_of(buffer.end() - 64, buffer.end(), [](char c) { return c == '\x5A'; });
    }
};

} // namespace

class MlCameraTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void commandsReachTheModule();
    void badArgumentsAreRefusedLocally();
    void unreachableModuleIsReported();
    void previewKeepsFramesWhole_data();
    void previewKeepsFramesWhole();
    void previewReconnectsAfterReboot();
    void lostStreamClearsTheLink_data();
    void lostStreamClearsTheLink();

private:
    int mHandle = 0;
};

void MlCameraTest::cleanup()
{
    if (mHandle != 0)
        ML_StopPreview(mHandle);
    mHandle = 0;
}

void MlCameraTest::commandsReachTheModule()
{
    const QByteArray address = useAddress(1);
    probesim::MlHttpServer module;
    QVERIFY(module.start(address.toStdString(), kPort));

    QCOMPARE(ML_SendGetDeviceType(ML_DEFAULT_ADDRESS), 0x1000);
    QCOMPARE(ML_SendSetDeviceType(ML_DEFAULT_ADDRESS, 0x1001), int(ML_OK));
    QCOMPARE(ML_SendGetDeviceType(ML_DEFAULT_ADDRESS), 0x1001);

    // One press is reported once.
    QCOMPARE(ML_SendGetKeyStatus(ML_DEFAULT_ADDRESS), 0);
    module.press_key();
    QCOMPARE(ML_SendGetKeyStatus(ML_DEFAULT_ADDRESS), 1);
    QCOMPARE(ML_SendGetKeyStatus(ML_DEFAULT_ADDRESS), 0);

    const QByteArray ssid = QString::fromUtf8("Lab-探头").toUtf8();
    QCOMPARE(ML_SendSetSSID(ML_DEFAULT_ADDRESS, ssid.constData()), int(ML_OK));
    QCOMPARE(QByteArray::fromStdString(module.state().device.ssid), ssid);

    const char extra[] = {1, 2, 0, 3};
    QCOMPARE(ML_SendSetCameraParams(ML_DEFAULT_ADDRESS, 70, 40, -3, 9, extra, 4), int(ML_OK));
    const probesim::MlCameraParams stored = module.state().device.params;
    QCOMPARE(stored.brightness, 70);
    QCOMPARE(stored.contrast, 40);
    QCOMPARE(stored.exposure, -3);
    QCOMPARE(stored.gain, 9);
    QCOMPARE(QByteArray::fromStdString(stored.extra), QByteArray(extra, 4));

    unsigned char block[ML_CAMERA_PARAMS_BLOCK_SIZE] = {};
    block[0] = 10;
    QCOMPARE(ML_SendGetCameraParams(ML_DEFAULT_ADDRESS, block), int(ML_OK));
    QCOMPARE(int(block[0]), 5);
    const int32_t expected[] = {70, 40, -3, 9, 4};
    for (int i = 0; i < 5; ++i) {
        int32_t value;
        std::memcpy(&value, block + 4 + 4 * i, 4);  // little-endian host
        QCOMPARE(value, expected[i]);
    }
    QVERIFY(std::all_of(block + 24, block + sizeof block, [](unsigned char b) { return b == 0; }));

    QCOMPARE(ML_SendReboot(ML_DEFAULT_ADDRESS), int(ML_OK));
    QTRY_COMPARE(module.state().device.reboots, uint64_t(1));
}

void MlCameraTest::badArgumentsAreRefusedLocally()
{
    const QByteArray address = useAddress(2);
    probesim::MlHttpServer module;
    QVERIFY(module.start(address.toStdString(), kPort));

    QCOMPARE(ML_SendSetSSID(ML_DEFAULT_ADDRESS, nullptr), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendSetSSID(ML_DEFAULT_ADDRESS, ""), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendSetSSID(ML_DEFAULT_ADDRESS, QByteArray(ML_SSID_MAX + 1, 's').constData()), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendSetCameraParams(ML_DEFAULT_ADDRESS, 1, 2, 3, 4, nullptr, 8), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendSetCameraParams(ML_DEFAULT_ADDRESS, 1, 2, 3, 4, "x", -1), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendSetDeviceType(ML_DEFAULT_ADDRESS, -1), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_SendGetCameraParams(ML_DEFAULT_ADDRESS, nullptr), int(ML_ERR_ARGUMENT));
    QCOMPARE(QByteArray::fromStdString(module.state().device.ssid), QByteArray("ML-PROBE"));

    char frame[16];
    QCOMPARE(ML_GetVideoFrame(0, frame, nullptr), int(ML_ERR_ARGUMENT));
    QCOMPARE(ML_IsDeviceConnected(12345), 0);
    qputenv("KELVO_ML_ADDRESS", "not-an-address");
    QCOMPARE(ML_StartPreview(ML_DEFAULT_ADDRESS), 0);
    QCOMPARE(ML_SendGetDeviceType(ML_DEFAULT_ADDRESS), int(ML_ERR_ARGUMENT));
}

void MlCameraTest::unreachableModuleIsReported()
{
    useAddress(3);  // nothing listens there
    QCOMPARE(ML_SendGetDeviceType(ML_DEFAULT_ADDRESS), int(ML_ERR_UNREACHABLE));
    QCOMPARE(ML_SendGetKeyStatus(ML_DEFAULT_ADDRESS), int(ML_ERR_UNREACHABLE));
    mHandle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    QVERIFY(mHandle > 0);
    QCOMPARE(ML_StartPreview(ML_DEFAULT_ADDRESS), mHandle);
    QCOMPARE(ML_IsDeviceConnected(mHandle), 0);
}

void MlCameraTest::previewKeepsFramesWhole_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("address");
    QTest::newRow("none") << "none" << 10;
    QTest::newRow("split boundaries") << "ml-split-boundary" << 11;
    QTest::newRow("oversized frames") << "ml-oversized-frame" << 12;
    QTest::newRow("corrupt JPEG") << "ml-corrupt-jpeg" << 13;
}

void MlCameraTest::previewKeepsFramesWhole()
{
    QFETCH(QString, fault);
    QFETCH(int, address);
    const QByteArray where = useAddress(address);
    probesim::MlHttpServer module;
    // Slow enough that polling takes every frame, the faulty ones included.
    module.set_video(160, 120, 10);
    module.set_fault(*probesim::fault_named(fault.toStdString()));
    QVERIFY(module.start(where.toStdString(), kPort));

    mHandle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    QVERIFY(mHandle > 0);
    FrameTaker taker{mHandle};
    QTRY_VERIFY_WITH_TIMEOUT(taker.takeAll() >= 12, 10000);
    QVERIFY(ML_IsDeviceConnected(mHandle));
    QVERIFY(taker.guardIntact());

    int decoded = 0;
    for (const QByteArray &frame : taker.frames) {
        QVERIFY(frame.size() < int(probesim::kMlOversizedPart));
        const QImage image = QImage::fromData(frame, "jpg");
        if (!image.isNull()) {
            QCOMPARE(image.size(), QSize(160, 120));
            ++decoded;
        }
    }
    // Only the corrupt frames (every fifth) fail to decode.
    if (fault == "ml-corrupt-jpeg")
        QVERIFY(decoded < taker.frames.size() && decoded > 0);
    else
        QCOMPARE(decoded, taker.frames.size());
    for (int i = 1; i < taker.numbers.size(); ++i)
        QVERIFY(taker.numbers[i] > taker.numbers[i - 1]);
}

void MlCameraTest::previewReconnectsAfterReboot()
{
    const QByteArray where = useAddress(20);
    probesim::MlHttpServer module;
    module.set_video(160, 120, 30);
    module.set_reboot_pause(std::chrono::milliseconds(300));
    QVERIFY(module.start(where.toStdString(), kPort));
    mHandle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    FrameTaker taker{mHandle};
    QTRY_VERIFY_WITH_TIMEOUT(taker.takeAll() >= 3, 10000);

    QCOMPARE(ML_SendReboot(ML_DEFAULT_ADDRESS), int(ML_OK));
    QTRY_VERIFY_WITH_TIMEOUT(module.state().stream_connections >= 2, 10000);
    const int before = taker.takeAll();
    QTRY_VERIFY_WITH_TIMEOUT(taker.takeAll() >= before + 3, 10000);
    QVERIFY(ML_IsDeviceConnected(mHandle));
}

void MlCameraTest::lostStreamClearsTheLink_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("deviceTypeAfter");  // a stalled stream leaves the commands working
    QTest::newRow("stalled") << "ml-stalled-stream" << 30 << 0x1000;
    QTest::newRow("vanished") << "ml-vanished" << 31 << int(ML_ERR_UNREACHABLE);
}

void MlCameraTest::lostStreamClearsTheLink()
{
    QFETCH(QString, fault);
    QFETCH(int, address);
    QFETCH(int, deviceTypeAfter);
    const QByteArray where = useAddress(address);
    probesim::MlHttpServer module;
    module.set_video(160, 120, 30);
    module.set_fault(*probesim::fault_named(fault.toStdString()));
    QVERIFY(module.start(where.toStdString(), kPort));
    mHandle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    QTRY_VERIFY_WITH_TIMEOUT(ML_IsDeviceConnected(mHandle), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(module.state().frames_sent >= 30, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ML_SendGetDeviceType(ML_DEFAULT_ADDRESS), deviceTypeAfter, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!ML_IsDeviceConnected(mHandle), 15000);
    // Frames that arrived before the loss stay takeable; none come after.
    FrameTaker taker{mHandle};
    taker.takeAll();
    QCOMPARE(taker.takeAll(), taker.frames.size());
}

QTEST_GUILESS_MAIN(MlCameraTest)
#include "ml_camera_test.moc"
