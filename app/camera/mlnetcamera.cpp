#include "mlnetcamera.h"

#include <ml_camera.h>

#include <QByteArray>

namespace KelvoWifi {

namespace {
const int DEVICE_TYPE_ML = 0x1000;
const unsigned long kFramePauseMs = 30;
const unsigned long kOpenRetryPauseMs = 200;
// The link is checked in turns 11, 31, 51, ...
const int kLinkCheckPeriod = 20;
const int kLinkCheckTurn = 11;
}

MlNetCamera::MlNetCamera()
    : QThread(nullptr)
    , mFrameBuffer(new char[ML_FRAME_BUFFER_SIZE])
    , mPreviewHandle(0)
    , mCaptureId(0)
    , mFrameInfo(0)
    , mRunning(true)
    , mCaptureRequested(false)
{
    // Returns at once: the library connects in the background.
    mPreviewHandle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    connect(&mKeyProcess, &MlKeyProcess::capKeyPressed, this, &MlNetCamera::onCapKeyPressed);
}

MlNetCamera::~MlNetCamera()
{
    stop();
    // After a frame loop that ended by itself stop() leaves the poller
    // running; it must not be destroyed so.
    mKeyProcess.stopPolling();
    delete[] mFrameBuffer;
}

bool MlNetCamera::moduleUsable() const
{
    // The link state is local and instant; the device type costs a request,
    // so without a link the module is refused without waiting on the network.
    return mPreviewHandle != 0 && ML_IsDeviceConnected(mPreviewHandle) &&
           ML_SendGetDeviceType(ML_DEFAULT_ADDRESS) == DEVICE_TYPE_ML;
}

int MlNetCamera::open()
{
    stop();
    if (!moduleUsable()) {
        msleep(kOpenRetryPauseMs);
        if (!moduleUsable())
            return -1;
    }
    // Set before the thread starts, so that a loop started right after stop() runs.
    mRunning = true;
    mCaptureRequested = false;
    start();
    mKeyProcess.startPolling();
    return 0;
}

void MlNetCamera::stop()
{
    if (!isRunning() || mPreviewHandle == 0)
        return;
    mRunning = false;
    quit();
    wait();
    mKeyProcess.stopPolling();
}

void MlNetCamera::requestCapture()
{
    mCaptureRequested = true;
}

void MlNetCamera::onCapKeyPressed()
{
    mCaptureRequested = true;
}

void MlNetCamera::reboot()
{
    stop();
    ML_SendReboot(ML_DEFAULT_ADDRESS);
}

int MlNetCamera::setSsid(const QString &ssid)
{
    const QByteArray bytes = ssid.toLocal8Bit();
    return ML_SendSetSSID(ML_DEFAULT_ADDRESS, bytes.constData());
}

int MlNetCamera::setDeviceType(int type)
{
    return ML_SendSetDeviceType(ML_DEFAULT_ADDRESS, type);
}

int MlNetCamera::getDeviceType()
{
    return ML_SendGetDeviceType(ML_DEFAULT_ADDRESS);
}

int MlNetCamera::setCameraParams(int brightness, int contrast, int exposure, int gain, const void *extra,
                                 int extraSize)
{
    return ML_SendSetCameraParams(ML_DEFAULT_ADDRESS, brightness, contrast, exposure, gain, extra, extraSize);
}

int MlNetCamera::getCameraParams()
{
    unsigned char block[ML_CAMERA_PARAMS_BLOCK_SIZE] = {};
    block[0] = 10;
    ML_SendGetCameraParams(ML_DEFAULT_ADDRESS, block);
    return 0;
}

void MlNetCamera::run()
{
    mCaptureId = 0;
    while (mRunning) {
        const int length = ML_GetVideoFrame(mPreviewHandle, mFrameBuffer, &mFrameInfo);
        if (length > 0 && length <= ML_FRAME_BUFFER_SIZE) {
            // A frame that does not decode gives a null image, sent like any other.
            // Each frame is a new image that nothing changes afterwards, so
            // sharing it costs no copy and nobody sees a difference.
            mLastFrame = QImage::fromData(reinterpret_cast<const uchar *>(mFrameBuffer), length, "jpg");
            emit videoCaptured(mCaptureId, mLastFrame);
            // A still is a picture: a request waits for the next frame that decodes.
            if (!mLastFrame.isNull() && mCaptureRequested.exchange(false))
                emit imageCaptured(mCaptureId, mLastFrame);
        }
        const int turn = mCaptureId++;
        if (turn % kLinkCheckPeriod == kLinkCheckTurn && !ML_IsDeviceConnected(mPreviewHandle))
            break;
        msleep(kFramePauseMs);
    }
    mLastFrame = QImage();
    emit videoCaptured(-1, QImage());
}

} // namespace KelvoWifi
