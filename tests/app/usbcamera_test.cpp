// The USB camera: finding the probe through sysfs (a fixture tree), and the
// frame loop driven by a recorded Motion-JPEG file through the same
// cv::VideoCapture (no video devices can be made here).
#include <QtTest>

#include <QCameraInfo>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>

#include "frame_forwarder.h"
#include "usbcamera.h"
#include "usbdevicelookup.h"

using KelvoWifi::CaptureDevice;
using KelvoWifi::USBCamera;
using KelvoWifi::UsbDeviceLookup;

namespace {

constexpr int kWaitMs = 10000;
const QString kProbeKey = QStringLiteral("vid_0510&pid_9089");
// A solid colour through JPEG comes back within a few steps.
constexpr int kColourTolerance = 6;

// A sysfs tree as Linux lays it out: class/video4linux/videoN/device links
// to the USB interface, whose parent holds idVendor and idProduct.
class SysfsFixture {
public:
    // ids: "vvvv:pppp" (file contents), or "" for a device without them.
    void addVideoDevice(int number, const QString &ids)
    {
        const QString usb = QStringLiteral("devices/pci0000:00/usb1/1-%1").arg(number + 1);
        const QString interface = usb + QStringLiteral("/1-%1:1.0").arg(number + 1);
        QVERIFY(QDir(mDir.path()).mkpath(interface + QStringLiteral("/video4linux")));
        if (!ids.isEmpty()) {
            write(usb + QStringLiteral("/idVendor"), ids.section(QLatin1Char(':'), 0, 0) + QLatin1Char('\n'));
            write(usb + QStringLiteral("/idProduct"), ids.section(QLatin1Char(':'), 1) + QLatin1Char('\n'));
        }
        const QString classDir = QStringLiteral("class/video4linux/video%1").arg(number);
        QVERIFY(QDir(mDir.path()).mkpath(classDir));
        QVERIFY(QFile::link(QStringLiteral("../../../") + interface, mDir.filePath(classDir + QStringLiteral("/device"))));
    }
    QString root() const { return mDir.path(); }

private:
    void write(const QString &relative, const QString &text)
    {
        QFile file(mDir.filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toLatin1());
    }
    QTemporaryDir mDir;
};

struct FixtureDevice {
    int number;
    QString ids;
};

}  // namespace

Q_DECLARE_METATYPE(QVector<FixtureDevice>)

class USBCameraTest : public QObject {
    Q_OBJECT

private slots:
    void interfaceAnswersAsAbstractCamera();
    void lookupFindsTheProbe_data();
    void lookupFindsTheProbe();
    void scanWalksSysfsWhenQtListsNothing();
    void recordingPlaysInTrueColourAndEndsOnce();
    void failedOpenIsReported();
    void noiseFileEndsQuietly();
};

void USBCameraTest::interfaceAnswersAsAbstractCamera()
{
    USBCamera camera;
    KelvoWifi::AbstractCamera *interface = &camera;
    QCOMPARE(camera.qt_metacast("AbstractCamera"), static_cast<void *>(interface));
    QCOMPARE(camera.qt_metacast("KelvoWifi::USBCamera"), static_cast<void *>(&camera));
}

void USBCameraTest::lookupFindsTheProbe_data()
{
    QTest::addColumn<QVector<FixtureDevice>>("devices");
    QTest::addColumn<QStringList>("names");  // what Qt lists; empty: walk sysfs
    QTest::addColumn<int>("expected");
    const QVector<FixtureDevice> secondIsProbe{{0, "046d:0825"}, {1, "0510:9089"}};
    QTest::newRow("only the second device is the probe")
        << secondIsProbe << QStringList{"/dev/video0", "/dev/video1"} << 1;
    QTest::newRow("the same found by walking sysfs") << secondIsProbe << QStringList() << 1;
    QTest::newRow("Qt lists in another order than the numbers")
        << QVector<FixtureDevice>{{0, "0510:9089"}, {1, "046d:0825"}} << QStringList{"/dev/video1", "/dev/video0"}
        << 0;
    QTest::newRow("the index is the device number, not the position")
        << QVector<FixtureDevice>{{4, "0510:9089"}} << QStringList{"/dev/video4"} << 4;
    QTest::newRow("no probe") << QVector<FixtureDevice>{{0, "046d:0825"}} << QStringList{"/dev/video0"} << -3;
    QTest::newRow("no device at all") << QVector<FixtureDevice>() << QStringList() << -3;
    QTest::newRow("a device without USB identifiers")
        << QVector<FixtureDevice>{{0, ""}, {1, "0510:9089"}} << QStringList() << 1;
    QTest::newRow("identifier files that are not four hex digits")
        << QVector<FixtureDevice>{{0, "0510x:9089"}, {1, "0510:9089&pid_9089"}} << QStringList() << -3;
    QTest::newRow("the key in upper case does not match")
        << QVector<FixtureDevice>() << QStringList{"usb#VID_0510&PID_9089#0"} << -3;
    QTest::newRow("a name that carries the key keeps its position")
        << QVector<FixtureDevice>() << QStringList{"usb#vid_046d&pid_0825#0", "usb#vid_0510&pid_9089#0"} << 1;
}

void USBCameraTest::lookupFindsTheProbe()
{
    QFETCH(QVector<FixtureDevice>, devices);
    QFETCH(QStringList, names);
    QFETCH(int, expected);
    SysfsFixture sysfs;
    for (const FixtureDevice &device : devices)
        sysfs.addVideoDevice(device.number, device.ids);
    const UsbDeviceLookup lookup(sysfs.root());
    const QVector<CaptureDevice> found = names.isEmpty() ? lookup.sysfsDevices() : lookup.devices(names);
    QCOMPARE(UsbDeviceLookup::findIndex(found, kProbeKey), expected);
}

void USBCameraTest::scanWalksSysfsWhenQtListsNothing()
{
    if (!QCameraInfo::availableCameras().isEmpty())
        QSKIP("this machine has capture devices of its own");
    SysfsFixture sysfs;
    sysfs.addVideoDevice(0, QStringLiteral("046d:0825"));
    sysfs.addVideoDevice(1, QStringLiteral("0510:9089"));
    USBCamera camera;
    camera.setSysfsRoot(sysfs.root());
    QCOMPARE(camera.scan(), 1);
    camera.setSysfsRoot(sysfs.root() + QStringLiteral("/nothing-here"));
    QCOMPARE(camera.scan(), -3);
}

void USBCameraTest::recordingPlaysInTrueColourAndEndsOnce()
{
    // 62 pixels make rows of 186 bytes: not a multiple of four.
    const cv::Size size(62, 40);
    const QVector<QColor> colours{QColor(220, 30, 30), QColor(30, 200, 40), QColor(20, 40, 210), QColor(240, 240, 60)};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("probe.avi"));
    {
        cv::VideoWriter writer(path.toStdString(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                               size);
        QVERIFY(writer.isOpened());
        for (const QColor &c : colours)
            writer.write(cv::Mat(size, CV_8UC3, cv::Scalar(c.blue(), c.green(), c.red())));
    }

    auto camera = std::make_unique<USBCamera>();
    FrameForwarder forwarder;
    forwarder.follow(camera.get());
    QSignalSpy video(&forwarder, &FrameForwarder::videoCaptured);
    QSignalSpy stills(&forwarder, &FrameForwarder::imageCaptured);
    QCOMPARE(camera->connectRecording(path), 0);
    QVERIFY(camera->linkState());
    int frameSize[2] = {0, 0};
    QCOMPARE(camera->getResolution(frameSize), 0);
    QCOMPARE(QSize(frameSize[0], frameSize[1]), QSize(size.width, size.height));
    // A file takes no settings: the capture library refuses them all.
    QCOMPARE(camera->setBrightness(10), -11);
    QCOMPARE(camera->setResolution(640, 480, 0, 0), -11);

    QCOMPARE(camera->setStreaming(true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!video.isEmpty() && video.last().at(0).toInt() == -1, kWaitMs);
    QCOMPARE(camera->setStreaming(false), 0);
    QCoreApplication::processEvents();
    QCOMPARE(video.count(), colours.size() + 1);
    QVERIFY(video.last().at(1).value<QImage>().isNull());

    // Stopped, but the file is still open: capture gives the null frame.
    QCOMPARE(camera->capture(), 0);
    QVERIFY(stills.count() == 1 || stills.wait(kWaitMs));
    QCOMPARE(stills.at(0).at(0).toInt(), -1);
    QVERIFY(stills.at(0).at(1).value<QImage>().isNull());
    QCOMPARE(camera->disconnect(), 0);
    QCOMPARE(camera->capture(), -5);
    QCOMPARE(camera->disconnect(), -3);
    camera.reset();

    // What arrived stays intact after the source and its matrix are gone.
    for (int i = 0; i < colours.size(); ++i) {
        QCOMPARE(video.at(i).at(0).toInt(), i + 1);
        const QImage image = video.at(i).at(1).value<QImage>();
        QCOMPARE(image.size(), QSize(size.width, size.height));
        int worst = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor p = image.pixelColor(x, y);
                worst = std::max({worst, std::abs(p.red() - colours[i].red()),
                                  std::abs(p.green() - colours[i].green()), std::abs(p.blue() - colours[i].blue())});
            }
        QVERIFY2(worst <= kColourTolerance, qPrintable(QStringLiteral("frame %1: %2").arg(i + 1).arg(worst)));
    }
}

void USBCameraTest::failedOpenIsReported()
{
    USBCamera camera;
    QTest::ignoreMessage(QtDebugMsg, "Can't open the video camera.");
    QCOMPARE(camera.connectRecording(QStringLiteral("/nonexistent/probe.avi")), -5);
    QVERIFY(!camera.linkState());
    QCOMPARE(camera.capture(), -5);
    QCOMPARE(camera.disconnect(), -3);
}

void USBCameraTest::noiseFileEndsQuietly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("noise.avi"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>(i * 2654435761u >> 24);
        file.write("RIFF");
        file.write(noise);
    }
    USBCamera camera;
    FrameForwarder forwarder;
    forwarder.follow(&camera);
    QSignalSpy video(&forwarder, &FrameForwarder::videoCaptured);
    if (camera.connectRecording(path) != 0)
        return;  // refused at the door
    QCOMPARE(camera.setStreaming(true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!video.isEmpty() && video.last().at(0).toInt() == -1, kWaitMs);
    QCOMPARE(video.count(), 1);
}

QTEST_GUILESS_MAIN(USBCameraTest)
#include "usbcamera_test.moc"
