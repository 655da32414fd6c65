// MlNetCamera against the simulator's second kind of module on loopback,
// each test on its own 127.0.53.x address. Its signals come from the frame
// thread, so they are forwarded through queued connections to a helper in
// the test thread, and the spies watch the helper.
#include <mlnetcamera.h>

#include <ml_camera.h>
#include <ml_http_server.h>

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

using KelvoWifi::MlNetCamera;

namespace {

// Below 2048: the SDK binds its data ports at random from 2048 up on every
// interface, and one of those may be open while a module here starts.
constexpr uint16_t kPort = 1880;

class Forwarder : public QObject
{
    Q_OBJECT
signals:
    void video(int id, QImage image);
    void still(int id, QImage image);
};

// A module of the second kind, the camera that watches it, and spies.
struct Rig {
    explicit Rig(int last, int32_t deviceType = probesim::kMlDeviceType,
                 probesim::Fault fault = probesim::Fault::None)
        : module(deviceType)
    {
        address = "127.0.53." + QByteArray::number(last);
        qputenv("KELVO_ML_ADDRESS", address + ":" + QByteArray::number(kPort));
        module.set_video(320, 240, 30);
        module.set_fault(fault);
        started = module.start(address.toStdString(), kPort);
        camera = std::make_unique<MlNetCamera>();
        QObject::connect(camera.get(), &MlNetCamera::videoCaptured, &forwarder, &Forwarder::video,
                         Qt::QueuedConnection);
        QObject::connect(camera.get(), &MlNetCamera::imageCaptured, &forwarder, &Forwarder::still,
                         Qt::QueuedConnection);
    }
    ~Rig()
    {
        camera.reset();
        ML_StopPreview(previewHandle());
    }
    // The library hands out one preview per address: the camera's.
    static int previewHandle() { return ML_StartPreview(ML_DEFAULT_ADDRESS); }
    static bool linkUp() { return ML_IsDeviceConnected(previewHandle()) == 1; }

    int endsOfStream() const
    {
        int ends = 0;
        for (const QList<QVariant> &args : videoSpy)
            ends += args[0].toInt() == -1 ? 1 : 0;
        return ends;
    }

    QByteArray address;
    probesim::MlHttpServer module;
    bool started = false;
    Forwarder forwarder;
    QSignalSpy videoSpy{&forwarder, &Forwarder::video};
    QSignalSpy stillSpy{&forwarder, &Forwarder::still};
    std::unique_ptr<MlNetCamera> camera;
};

} // namespace

class MlNetCameraTest : public QObject
{
    Q_OBJECT

private slots:
    void openRefusesOtherDeviceTypes_data();
    void openRefusesOtherDeviceTypes();
    void keyPressMakesTheNextFrameAStill();
    void corruptFrameGivesNullImageButNeverANullStill();
    void lostModuleEndsTheLoopOnce_data();
    void lostModuleEndsTheLoopOnce();
    void openRightAfterStopRuns();
    void deviceSettingsReachTheModule();
};

void MlNetCameraTest::openRefusesOtherDeviceTypes_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<bool>("moduleThere");
    QTest::newRow("0x1001") << 1 << 0x1001 << true;
    QTest::newRow("no module") << 2 << 0x1000 << false;
}

void MlNetCameraTest::openRefusesOtherDeviceTypes()
{
    QFETCH(int, address);
    QFETCH(int, deviceType);
    QFETCH(bool, moduleThere);
    Rig rig(address, deviceType);
    QVERIFY(rig.started);
    if (moduleThere) {
        QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    } else {
        rig.module.stop();
    }

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(rig.camera->open(), -1);
    // Refused after the one retry 200 ms later, not at once.
    QVERIFY2(timer.elapsed() >= 195, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!rig.camera->isRunning());
}

void MlNetCameraTest::keyPressMakesTheNextFrameAStill()
{
    Rig rig(10);
    QVERIFY(rig.started);
    QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    QCOMPARE(rig.camera->open(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.videoSpy.count() >= 3, 10000);
    QCOMPARE(rig.stillSpy.count(), 0);
    const int lastBefore = rig.videoSpy.last()[0].toInt();

    rig.module.press_key();
    QTRY_COMPARE_WITH_TIMEOUT(rig.stillSpy.count(), 1, 10000);
    const int id = rig.stillSpy[0][0].toInt();
    const QImage still = rig.stillSpy[0][1].value<QImage>();
    QVERIFY(id > lastBefore);
    QCOMPARE(still.size(), QSize(320, 240));
    // The same frame went out as a live frame with the same id.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.videoSpy.isEmpty() && rig.videoSpy.last()[0].toInt() >= id, 5000);
    int sameId = 0;
    for (const QList<QVariant> &args : rig.videoSpy)
        if (args[0].toInt() == id) {
            ++sameId;
            QCOMPARE(args[1].value<QImage>(), still);
        }
    QCOMPARE(sameId, 1);

    rig.camera->stop();
    QTRY_COMPARE(rig.endsOfStream(), 1);
    // The poller reported the press once and then was stopped.
    QCOMPARE(rig.module.state().device.key_reports, uint64_t(1));
    QCOMPARE(rig.stillSpy.count(), 1);
    // A still stays intact after the source stopped.
    QCOMPARE(still.size(), QSize(320, 240));
    QVERIFY(still.pixel(160, 120) != 0 || still.pixel(10, 10) != 0);
}

void MlNetCameraTest::corruptFrameGivesNullImageButNeverANullStill()
{
    Rig rig(20, probesim::kMlDeviceType, probesim::Fault::MlCorruptJpeg);
    QVERIFY(rig.started);
    QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    QCOMPARE(rig.camera->open(), 0);
    const auto seen = [&](bool null) {
        for (const QList<QVariant> &args : rig.videoSpy)
            if (args[0].toInt() >= 0 && args[1].value<QImage>().isNull() == null)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(true) && seen(false), 10000);
    QVERIFY(rig.camera->isRunning());
    // One frame in five is broken: key presses land on some of them, and
    // each still is the next frame that decodes.
    constexpr int kPresses = 15;
    for (int press = 1; press <= kPresses; ++press) {
        rig.module.press_key();
        QTRY_COMPARE_WITH_TIMEOUT(rig.stillSpy.count(), press, 10000);
        QTest::qWait(37);
    }
    for (const QList<QVariant> &args : rig.stillSpy)
        QCOMPARE(args[1].value<QImage>().size(), QSize(320, 240));
    rig.camera->stop();
    QTRY_COMPARE(rig.endsOfStream(), 1);
}

void MlNetCameraTest::lostModuleEndsTheLoopOnce_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("fault");
    QTest::newRow("vanished") << 30 << "ml-vanished";
    QTest::newRow("stalled") << 31 << "ml-stalled-stream";
}

void MlNetCameraTest::lostModuleEndsTheLoopOnce()
{
    QFETCH(int, address);
    QFETCH(QString, fault);
    Rig rig(address, probesim::kMlDeviceType, *probesim::fault_named(fault.toStdString()));
    QVERIFY(rig.started);
    QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    QCOMPARE(rig.camera->open(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(rig.endsOfStream(), 1, 20000);
    QTRY_VERIFY(rig.camera->isFinished());
    QCoreApplication::processEvents();  // anything still queued from the finished thread
    QCOMPARE(rig.endsOfStream(), 1);
    QCOMPARE(rig.videoSpy.last()[0].toInt(), -1);
    QVERIFY(rig.videoSpy.last()[1].value<QImage>().isNull());
    QVERIFY(rig.videoSpy.count() > 1);
    // stop() after a loop that ended by itself finds nothing to stop; the
    // destructor (in ~Rig) must still end the key poller.
    rig.camera->stop();
    QCOMPARE(rig.endsOfStream(), 1);
}

void MlNetCameraTest::openRightAfterStopRuns()
{
    Rig rig(40);
    QVERIFY(rig.started);
    QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    QCOMPARE(rig.camera->open(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.videoSpy.count() >= 2, 10000);
    rig.camera->stop();
    QCOMPARE(rig.camera->open(), 0);
    QTRY_COMPARE(rig.endsOfStream(), 1);
    const int afterFirstRun = rig.videoSpy.count();
    QTRY_VERIFY_WITH_TIMEOUT(rig.videoSpy.count() >= afterFirstRun + 2, 10000);
    QVERIFY(rig.camera->isRunning());
    // The second run counts its turns from 0 again.
    QVERIFY(rig.videoSpy[afterFirstRun][0].toInt() < 20);
}

void MlNetCameraTest::deviceSettingsReachTheModule()
{
    Rig rig(50);
    QVERIFY(rig.started);
    QCOMPARE(MlNetCamera::setDeviceType(0x1001), 0);
    QCOMPARE(MlNetCamera::getDeviceType(), 0x1001);
    QCOMPARE(MlNetCamera::setSsid(QString::fromUtf8("探头-7")), 0);
    QCOMPARE(QString::fromLocal8Bit(QByteArray::fromStdString(rig.module.state().device.ssid)),
             QString::fromUtf8("探头-7"));
    QCOMPARE(MlNetCamera::setCameraParams(66, 40, 0, 0, nullptr, 0), 0);
    QCOMPARE(rig.module.state().device.params.brightness, 66);
    QCOMPARE(MlNetCamera::getCameraParams(), 0);

    // Reboot stops a running loop, which ends its stream once.
    MlNetCamera::setDeviceType(0x1000);
    QTRY_VERIFY_WITH_TIMEOUT(Rig::linkUp(), 10000);
    QCOMPARE(rig.camera->open(), 0);
    rig.camera->reboot();
    QVERIFY(!rig.camera->isRunning());
    QTRY_COMPARE(rig.endsOfStream(), 1);
    QTRY_COMPARE(rig.module.state().device.reboots, uint64_t(1));
}

QTEST_GUILESS_MAIN(MlNetCameraTest)
#include "mlnetcamera_test.moc"
