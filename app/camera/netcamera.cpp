#include "netcamera.h"

#include <QByteArray>

#include <cmath>

#include "framedecoder.h"
#include "frametrace.h"

namespace KelvoWifi {

namespace {

// Video control ids of the module's control table.
constexpr uint32_t kBrightness = 0;
constexpr uint32_t kContrast = 1;
constexpr uint32_t kSaturation = 2;
constexpr uint32_t kGamma = 5;
constexpr uint32_t kGain = 6;
constexpr uint32_t kSharpness = 7;
constexpr uint32_t kExposure = 9;

constexpr const char *kDefaultAddress = "192.168.100.254";
// Modules accept one of two access strings; the first is tried first.
constexpr const char *kAccessString = "org.pelmora.tisquad";
constexpr const char *kAlternateAccessString = "vexim";
constexpr unsigned kPollWaitMs = 1000;
constexpr int kScanSeconds = 1;
constexpr size_t kScanBufferSize = 2200;
static_assert(kScanBufferSize == QRN_SCAN_MAX_DEVICES * sizeof(ScanDeviceInfo), "one scan table");

QByteArray moduleAddress()
{
    const QByteArray address = qgetenv("KELVO_QRN_ADDRESS");
    return address.isEmpty() ? QByteArray(kDefaultAddress) : address;
}

}  // namespace

NetCamera::NetCamera() = default;

NetCamera::~NetCamera()
{
    setStreaming(false);
    disconnect();
    // The scanner runs until stopped; stop the one scan() started.
    if (mScanBuffer)
        QRN_NET_ScanDevice_UnInit();
}

int NetCamera::record(int result)
{
    if (result != 0)
        mLastError = result;
    return result;
}

int NetCamera::scan()
{
    if (record(QRN_NET_ScanDevice_Init(kScanSeconds)) != 0)
        return CameraScanNotStarted;
    if (!mScanBuffer)
        mScanBuffer.reset(new ScanDeviceInfo[QRN_SCAN_MAX_DEVICES]);
    int count = 0;
    if (record(QRN_NET_Scan_GetDeviceInfo(mScanBuffer.get(), &count)) != 0)
        return CameraScanUnreadable;
    mDeviceCount = count > 0 ? static_cast<uint32_t>(count) : 0;
    return mDeviceCount == 0 ? CameraNoDevice : CameraOk;
}

int NetCamera::connect(int)
{
    // A second connect would leave the first session without an owner.
    if (mHandle != 0)
        return CameraOk;
    const QByteArray address = moduleAddress();
    int handle = 0;
    int result = QRN_NET_ConnectDevice(&handle, address.constData(), kAccessString);
    if (result == QRN_ERR_LOGIN_REFUSED)
        result = QRN_NET_ConnectDevice(&handle, address.constData(), kAlternateAccessString);
    // 1 is a peer-to-peer session: the address held a device ID, and the
    // session must keep its owner like a LAN one.
    if (result != 0 && result != 1) {
        record(result);
        return CameraConnectFailed;
    }
    mHandle = handle;
    return CameraOk;
}

int NetCamera::disconnect()
{
    if (mHandle == 0)
        return CameraNoDevice;
    setStreaming(false);
    if (record(QRN_NET_Disconnect(mHandle)) != 0)
        return CameraCloseFailed;
    mHandle = 0;
    return CameraOk;
}

int NetCamera::setStreaming(bool on)
{
    if (on) {
        if (mRunning)
            return CameraOk;
        mRunning = true;
        if (mHandle != 0)
            record(QRN_NET_Video_Begin(mHandle));
        start();
    } else {
        if (!mRunning)
            return CameraOk;
        mRunning = false;
        if (mHandle != 0)
            record(QRN_NET_Video_End(mHandle));
        quit();
        wait();
    }
    return CameraOk;
}

int NetCamera::getControl(uint32_t id, float *value)
{
    if (mHandle == 0)
        return CameraNoDevice;
    VideoCtrlEntry entry{};
    if (record(QRN_NET_Video_GetVideoCtrl(mHandle, id, &entry)) != 0)
        return CameraGetFailed;
    if (value)
        *value = static_cast<float>(entry.current);
    return CameraOk;
}

int NetCamera::setControl(uint32_t id, float value)
{
    if (mHandle == 0)
        return CameraNoDevice;
    VideoCtrlEntry entry{};
    if (record(QRN_NET_Video_GetVideoCtrl(mHandle, id, &entry)) != 0)
        return CameraGetFailed;
    if (entry.present == 0)
        return CameraControlAbsent;
    // Written so that NaN is outside every range too.
    if (!(value >= static_cast<float>(entry.minimum) && value <= static_cast<float>(entry.maximum)))
        return CameraOutOfRange;
    if (entry.reserved24 != 0)
        entry.mode = 0;
    entry.current = static_cast<int32_t>(std::trunc(value));
    if (record(QRN_NET_Video_SetVideoCtrl(mHandle, id, &entry)) != 0)
        return CameraSetFailed;
    return CameraOk;
}

int NetCamera::setBrightness(float value) { return setControl(kBrightness, value); }
int NetCamera::getBrightness(float *value) { return getControl(kBrightness, value); }
int NetCamera::setExposure(float value) { return setControl(kExposure, value); }
int NetCamera::getExposure(float *value) { return getControl(kExposure, value); }
int NetCamera::setGamma(float value) { return setControl(kGamma, value); }
int NetCamera::getGamma(float *value) { return getControl(kGamma, value); }
int NetCamera::setContrast(float value) { return setControl(kContrast, value); }
int NetCamera::getContrast(float *value) { return getControl(kContrast, value); }
int NetCamera::setSharpness(float value) { return setControl(kSharpness, value); }
int NetCamera::getSharpness(float *value) { return getControl(kSharpness, value); }
int NetCamera::setSaturation(float value) { return setControl(kSaturation, value); }
int NetCamera::getSaturation(float *value) { return getControl(kSaturation, value); }
int NetCamera::getGain(float *value) { return getControl(kGain, value); }
int NetCamera::setGain(float value) { return setControl(kGain, value); }

int NetCamera::setResolution(int width, int height, int, int)
{
    if (mHandle == 0)
        return CameraNoDevice;
    const uint32_t code = static_cast<uint32_t>(QRN_Video_GroupResolu(width, height));
    if (record(QRN_NET_Video_SetResolu(mHandle, code)) != 0)
        return CameraSetFailed;
    return CameraOk;
}

int NetCamera::getResolution(int *size)
{
    if (mHandle == 0)
        return CameraNoDevice;
    if (!size)
        return CameraGetFailed;
    int code = 0;
    if (record(QRN_NET_Video_GetResolu(mHandle, &code)) != 0)
        return CameraGetFailed;
    QRN_Video_AnalysisResolu(code, &size[0], &size[1]);
    return CameraOk;
}

int NetCamera::setFps(int fps)
{
    return QRN_NET_Video_SetFPS(mHandle, static_cast<uint32_t>(fps));
}

int NetCamera::getFps(int *fps)
{
    return QRN_NET_Video_GetFPS(mHandle, fps);
}

bool NetCamera::linkState()
{
    return mHandle != 0;
}

int NetCamera::capture()
{
    if (mHandle == 0)
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

int NetCamera::videoBegin()
{
    if (mHandle == 0)
        return CameraNoDevice;
    return record(QRN_NET_Video_Begin(mHandle)) != 0 ? CameraStreamNotStarted : CameraOk;
}

int NetCamera::videoEnd()
{
    if (mHandle == 0)
        return CameraNoDevice;
    return record(QRN_NET_Video_End(mHandle)) != 0 ? CameraStreamNotStopped : CameraOk;
}

int NetCamera::lastError() const
{
    return mLastError;
}

void NetCamera::setLastError(int error)
{
    mLastError = error;
}

void NetCamera::run()
{
    // The handle does not change while the loop runs: disconnect() ends the
    // loop before it lets the session go.
    const int handle = mHandle;
    FrameDecoder decoder;
    while (mRunning) {
        int flags = 0;
        const int polled = QRN_NET_Poll(handle, &flags, kPollWaitMs);
        if (polled == QRN_ERR_INVALID_HANDLE || polled == QRN_ERR_CLOSED)
            break;
        if (polled == QRN_ERR_TIMEOUT)
            continue;
        if (flags & POLL_VIDEO)
            takeVideo(handle, decoder);
        if (flags & POLL_PICTURE)
            takePicture(handle, decoder);
        if (flags & POLL_SERIAL)
            drainSerial(handle);
        if (flags & POLL_AUDIO)
            drainAudio(handle);
        if (flags & POLL_PARAM)
            drainParamChange(handle);
    }
    endStream();
}

void NetCamera::takeVideo(int handle, FrameDecoder &decoder)
{
    FrameElement *element = nullptr;
    int remaining = 0;
    if (QRN_NET_Video_RequestVideoData1(handle, &element, &remaining) < 0 || !element)
        return;
    const FrameHeader &header = *QRN_FrameElement_Header(element);
    const uint32_t sequence = header.sequence;
    const QImage frame = decoder.decode(header, QRN_FrameElement_Data(element));
    QRN_NET_Video_ReleaseVideoData1(handle, element);
    if (frame.isNull())
        return;
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(mFrameMutex);
        mLastFrame = frame;
        id = ++mCaptureId;
    }
    if (FrameTrace::enabled())
        FrameTrace::decoded(id, sequence);
    emit videoCaptured(id, frame);
}

void NetCamera::takePicture(int handle, FrameDecoder &decoder)
{
    FrameHeader *header = nullptr;
    if (QRN_NET_Video_RequestPicData(handle, &header) < 0 || !header)
        return;
    const QImage picture = decoder.decode(*header, QRN_FrameHeader_Data(header));
    QRN_NET_Video_ReleasePicData(handle, header);
    if (picture.isNull())
        return;
    int id = 0;
    {
        // capture() keeps answering with the last video frame.
        std::lock_guard<std::mutex> lock(mFrameMutex);
        id = ++mCaptureId;
    }
    emit imageCaptured(id, picture);
}

void NetCamera::drainSerial(int handle)
{
    void *data = nullptr;
    int length = 0;
    if (QRN_NET_Serial_RequestData(handle, &data, &length) >= 0 && data)
        QRN_NET_Serial_ReleaseData(handle, data);
}

void NetCamera::drainAudio(int handle)
{
    void *block = nullptr;
    if (QRN_NET_Audio_RequestData(handle, &block) >= 0 && block)
        QRN_NET_Audio_ReleaseData(handle, block);
}

void NetCamera::drainParamChange(int handle)
{
    // Size changes reach the loop through each frame's header; the notice
    // itself only has to leave the queue.
    int type = 0;
    QRN_NET_GetParamChangeType(handle, &type);
}

void NetCamera::endStream()
{
    {
        std::lock_guard<std::mutex> lock(mFrameMutex);
        mLastFrame = QImage();
        mCaptureId = -1;
    }
    emit videoCaptured(-1, QImage());
}

}  // namespace KelvoWifi
