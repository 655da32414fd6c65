#include "usbcamera.h"

#include <QCameraInfo>
#include <QtDebug>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>

#include "usbdevicelookup.h"

namespace KelvoWifi {

namespace {

const QString kProbeKey = QStringLiteral("vid_0510&pid_9089");
// The characters M, J, P, G in little-endian order.
constexpr double kMjpgFourcc = 1196444237.0;
constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr unsigned long kPauseAfterFrameMs = 30;
// Longer than any setting takes, shorter than a device that stalls a read.
constexpr auto kDeviceWait = std::chrono::milliseconds(500);

#ifdef Q_OS_LINUX
// Index N is /dev/videoN only through V4L2; other back ends count their own way.
constexpr int kDeviceApi = cv::CAP_V4L2;
#else
constexpr int kDeviceApi = cv::CAP_ANY;
#endif

}  // namespace

USBCamera::USBCamera() : mCapture(std::make_unique<cv::VideoCapture>()) {}

USBCamera::~USBCamera()
{
    setStreaming(false);
}

int USBCamera::scan()
{
    const UsbDeviceLookup lookup(mSysfsRoot);
    QStringList names;
    for (const QCameraInfo &camera : QCameraInfo::availableCameras(QCamera::UnspecifiedPosition))
        names.append(camera.deviceName());
    const QVector<CaptureDevice> devices = names.isEmpty() ? lookup.sysfsDevices() : lookup.devices(names);
    return UsbDeviceLookup::findIndex(devices, kProbeKey);
}

int USBCamera::opened(bool ok)
{
    mOpen = ok;
    if (!ok) {
        qDebug("Can't open the video camera.");
        return CameraConnectFailed;
    }
    return CameraOk;
}

int USBCamera::connect(int index)
{
    std::lock_guard<SteadyTimedMutex> lock(mCaptureMutex);
    if (!mCapture->open(index, kDeviceApi))
        return opened(false);
    mCapture->set(cv::CAP_PROP_FOURCC, kMjpgFourcc);
    mCapture->set(cv::CAP_PROP_FRAME_WIDTH, kWidth);
    mCapture->set(cv::CAP_PROP_FRAME_HEIGHT, kHeight);
    return opened(true);
}

int USBCamera::connectRecording(const QString &fileName)
{
    std::lock_guard<SteadyTimedMutex> lock(mCaptureMutex);
    return opened(mCapture->open(fileName.toStdString(), cv::CAP_FFMPEG));
}

void USBCamera::setSysfsRoot(const QString &root)
{
    mSysfsRoot = root;
}

int USBCamera::disconnect()
{
    if (!mOpen)
        return CameraNoDevice;
    setStreaming(false);
    std::lock_guard<SteadyTimedMutex> lock(mCaptureMutex);
    mCapture->release();
    mOpen = false;
    return CameraOk;
}

int USBCamera::setStreaming(bool on)
{
    if (on) {
        if (mRunning)
            return CameraOk;
        mRunning = true;
        start();
    } else {
        if (!mRunning)
            return CameraOk;
        mRunning = false;
        quit();
        wait();
    }
    return CameraOk;
}

int USBCamera::setProperty(int property, double value)
{
    std::unique_lock<SteadyTimedMutex> lock(mCaptureMutex, kDeviceWait);
    if (!lock.owns_lock())
        return CameraSetFailed;
    return mCapture->set(property, value) ? CameraOk : CameraSetFailed;
}

int USBCamera::getProperty(int property, double *value)
{
    std::unique_lock<SteadyTimedMutex> lock(mCaptureMutex, kDeviceWait);
    if (!lock.owns_lock())
        return CameraGetFailed;
    *value = mCapture->get(property);
    return CameraOk;
}

int USBCamera::getControl(int property, float *value)
{
    double read = 0;
    const int result = getProperty(property, &read);
    if (result == CameraOk && value)
        *value = static_cast<float>(read);
    return result;
}

int USBCamera::setBrightness(float value) { return setProperty(cv::CAP_PROP_BRIGHTNESS, value); }
int USBCamera::getBrightness(float *value) { return getControl(cv::CAP_PROP_BRIGHTNESS, value); }
int USBCamera::setExposure(float value) { return setProperty(cv::CAP_PROP_EXPOSURE, value); }
int USBCamera::getExposure(float *value) { return getControl(cv::CAP_PROP_EXPOSURE, value); }
int USBCamera::setGamma(float value) { return setProperty(cv::CAP_PROP_GAMMA, value); }
int USBCamera::getGamma(float *value) { return getControl(cv::CAP_PROP_GAMMA, value); }
int USBCamera::setContrast(float value) { return setProperty(cv::CAP_PROP_CONTRAST, value); }
int USBCamera::getContrast(float *value) { return getControl(cv::CAP_PROP_CONTRAST, value); }
int USBCamera::setSharpness(float value) { return setProperty(cv::CAP_PROP_SHARPNESS, value); }
int USBCamera::getSharpness(float *value) { return getControl(cv::CAP_PROP_SHARPNESS, value); }
int USBCamera::setSaturation(float value) { return setProperty(cv::CAP_PROP_SATURATION, value); }
int USBCamera::getSaturation(float *value) { return getControl(cv::CAP_PROP_SATURATION, value); }
int USBCamera::getGain(float *value) { return getControl(cv::CAP_PROP_GAIN, value); }
int USBCamera::setGain(float value) { return setProperty(cv::CAP_PROP_GAIN, value); }

int USBCamera::setResolution(int width, int height, int, int)
{
    const int result = setProperty(cv::CAP_PROP_FRAME_WIDTH, width);
    if (result != CameraOk)
        return result;
    return setProperty(cv::CAP_PROP_FRAME_HEIGHT, height);
}

int USBCamera::getResolution(int *size)
{
    double width = 0;
    double height = 0;
    if (!size || getProperty(cv::CAP_PROP_FRAME_WIDTH, &width) != CameraOk ||
        getProperty(cv::CAP_PROP_FRAME_HEIGHT, &height) != CameraOk)
        return CameraGetFailed;
    size[0] = static_cast<int>(width);
    size[1] = static_cast<int>(height);
    return CameraOk;
}

int USBCamera::setFps(int fps)
{
    return setProperty(cv::CAP_PROP_FPS, fps);
}

int USBCamera::getFps(int *fps)
{
    double value = 0;
    if (!fps || getProperty(cv::CAP_PROP_FPS, &value) != CameraOk)
        return CameraGetFailed;
    *fps = static_cast<int>(value);
    return CameraOk;
}

bool USBCamera::linkState()
{
    return mOpen;
}

int USBCamera::capture()
{
    if (!mOpen)
        return CameraConnectFailed;
    int id = 0;
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(mFrameMutex);
        id = mCaptureId;
        frame = mLastFrame;
    }
    emit imageCaptured(id, frame.copy());
    return CameraOk;
}

void USBCamera::run()
{
    {
        std::lock_guard<std::mutex> lock(mFrameMutex);
        mCaptureId = 0;
    }
    cv::Mat frame;
    cv::Mat rgb;  // reused: converting into a fresh matrix costs several times more
    while (mRunning) {
        bool read = false;
        {
            std::lock_guard<SteadyTimedMutex> lock(mCaptureMutex);
            read = mCapture->read(frame);
        }
        if (!read)
            break;
        if (frame.empty() || frame.total() == 0)
            continue;
        // OpenCV delivers blue, green, red; the image is red, green, blue.
        if (frame.type() == CV_8UC3)
            cv::cvtColor(frame, rgb, cv::COLOR_BGR2RGB);
        else if (frame.type() == CV_8UC1)
            cv::cvtColor(frame, rgb, cv::COLOR_GRAY2RGB);
        else
            continue;
        const QImage image =
            QImage(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888).copy();
        int id = 0;
        {
            std::lock_guard<std::mutex> lock(mFrameMutex);
            mLastFrame = image;
            id = ++mCaptureId;
        }
        emit videoCaptured(id, image);
        msleep(kPauseAfterFrameMs);
    }
    {
        std::lock_guard<std::mutex> lock(mFrameMutex);
        mLastFrame = QImage();
        mCaptureId = -1;
    }
    emit videoCaptured(-1, QImage());
}

}  // namespace KelvoWifi
