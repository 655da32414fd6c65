// Finds the probe among the system's video capture devices. Linux names a
// device "/dev/videoN" and keeps its USB identifiers in sysfs, so each such
// name is given them in the "vid_XXXX&pid_YYYY" form, and is opened as
// OpenCV index N: the same device in both libraries, whatever order either
// lists them in.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace KelvoWifi {

struct CaptureDevice {
    QString systemName;  // the name the key is searched in
    int index = -1;      // what cv::VideoCapture::open takes for it
};

class UsbDeviceLookup {
public:
    // sysfsRoot: where sysfs is mounted; tests point it at a fixture tree.
    explicit UsbDeviceLookup(const QString &sysfsRoot = QStringLiteral("/sys"));

    // The devices of these names (QCameraInfo::deviceName()), in order. A
    // name that is not "/dev/videoN" keeps its position as its index.
    QVector<CaptureDevice> devices(const QStringList &deviceNames) const;
    // Every videoN under class/video4linux, by number: for when the camera
    // list is empty (Qt's multimedia plugins missing).
    QVector<CaptureDevice> sysfsDevices() const;

    // The index of the first device whose name contains key (case matters),
    // or -3 when none does.
    static int findIndex(const QVector<CaptureDevice> &devices, const QString &key);

private:
    CaptureDevice videoDevice(int number) const;
    QString usbIdentifiers(int number) const;

    QString mSysfsRoot;
};

}  // namespace KelvoWifi
