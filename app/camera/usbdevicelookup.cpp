#include "usbdevicelookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include "abstractcamera.h"

namespace KelvoWifi {

namespace {

// videoN/device is the USB interface; its idVendor and idProduct sit on the
// USB device, a level or two up.
constexpr int kLevelsToUsbDevice = 4;

int videoNumber(const QString &text, const QString &prefix)
{
    static const QRegularExpression number(QStringLiteral("^\\d{1,4}$"));
    if (!text.startsWith(prefix))
        return -1;
    const QString digits = text.mid(prefix.size());
    return number.match(digits).hasMatch() ? digits.toInt() : -1;
}

// Four hexadecimal digits, or an empty string for anything else: the file
// is read as hostile input.
QString readUsbId(const QString &path)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromLatin1(file.read(16)).trimmed();
    return hex.match(text).hasMatch() ? text : QString();
}

}  // namespace

UsbDeviceLookup::UsbDeviceLookup(const QString &sysfsRoot) : mSysfsRoot(sysfsRoot) {}

QString UsbDeviceLookup::usbIdentifiers(int number) const
{
    const QString device =
        QFileInfo(QStringLiteral("%1/class/video4linux/video%2/device").arg(mSysfsRoot).arg(number))
            .canonicalFilePath();
    const QString root = QFileInfo(mSysfsRoot).canonicalFilePath();
    if (device.isEmpty() || root.isEmpty())
        return QString();
    QDir dir(device);
    for (int level = 0; level < kLevelsToUsbDevice && dir.absolutePath() != root; ++level) {
        const QString vendor = readUsbId(dir.filePath(QStringLiteral("idVendor")));
        const QString product = readUsbId(dir.filePath(QStringLiteral("idProduct")));
        if (!vendor.isEmpty() && !product.isEmpty())
            return QStringLiteral("vid_%1&pid_%2").arg(vendor, product);
        if (!dir.cdUp())
            break;
    }
    return QString();
}

CaptureDevice UsbDeviceLookup::videoDevice(int number) const
{
    CaptureDevice device;
    device.index = number;
    device.systemName = QStringLiteral("/dev/video%1").arg(number);
    const QString ids = usbIdentifiers(number);
    if (!ids.isEmpty())
        device.systemName += QLatin1Char(' ') + ids;
    return device;
}

QVector<CaptureDevice> UsbDeviceLookup::devices(const QStringList &deviceNames) const
{
    QVector<CaptureDevice> list;
    for (int position = 0; position < deviceNames.size(); ++position) {
        const int number = videoNumber(deviceNames[position], QStringLiteral("/dev/video"));
        if (number >= 0)
            list.append(videoDevice(number));
        else
            list.append({deviceNames[position], position});
    }
    return list;
}

QVector<CaptureDevice> UsbDeviceLookup::sysfsDevices() const
{
    QVector<int> numbers;
    const QStringList entries =
        QDir(mSysfsRoot + QStringLiteral("/class/video4linux")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const int number = videoNumber(entry, QStringLiteral("video"));
        if (number >= 0)
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    QVector<CaptureDevice> list;
    for (int number : numbers)
        list.append(videoDevice(number));
    return list;
}

int UsbDeviceLookup::findIndex(const QVector<CaptureDevice> &devices, const QString &key)
{
    for (const CaptureDevice &device : devices)
        if (device.systemName.indexOf(key, 0, Qt::CaseSensitive) >= 0)
            return device.index;
    return CameraNoDevice;
}

}  // namespace KelvoWifi
