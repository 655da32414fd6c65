// The operations every camera source offers the window. A source derives
// from QThread first and from this second; its frame thread is QThread::run.
#pragma once

namespace KelvoWifi {

// Result codes of the camera operations.
enum CameraResult {
    CameraOk = 0,
    CameraScanNotStarted = -1,     // the LAN scan could not be started
    CameraScanUnreadable = -2,     // the LAN scan result could not be read
    CameraNoDevice = -3,           // no session, no open camera, or nothing found
    CameraOutOfRange = -4,         // the value lies outside the control's range
    CameraConnectFailed = -5,      // connect failed, or capture without an open source
    CameraStreamNotStarted = -6,   // the device's video could not be started
    CameraStreamNotStopped = -7,   // the device's video could not be stopped
    CameraCloseFailed = -8,        // closing the session failed
    CameraSetFailed = -11,         // a control, the resolution or the frame rate was refused
    CameraGetFailed = -12,         // a control or the resolution could not be read
    CameraControlAbsent = -13      // the device has no such control
};

// Not a QObject, so it cannot carry the signals: each source declares
// videoCaptured(int, QImage) and imageCaptured(int, QImage) itself, in that
// order. videoCaptured(-1, QImage()) ends every frame-loop run, once.
// Every image a signal carries owns its pixels.
class AbstractCamera {
public:
    virtual int scan() = 0;
    virtual int connect(int index) = 0;
    virtual int disconnect() = 0;
    virtual int setStreaming(bool on) = 0;
    virtual int setBrightness(float value) = 0;
    virtual int getBrightness(float *value) = 0;
    virtual int setExposure(float value) = 0;
    virtual int getExposure(float *value) = 0;
    virtual int setGamma(float value) = 0;
    virtual int getGamma(float *value) = 0;
    virtual int setContrast(float value) = 0;
    virtual int getContrast(float *value) = 0;
    virtual int setSharpness(float value) = 0;
    virtual int getSharpness(float *value) = 0;
    virtual int setSaturation(float value) = 0;
    virtual int getSaturation(float *value) = 0;
    virtual int getGain(float *value) = 0;
    virtual int setGain(float value) = 0;
    // The two trailing integers are the caller's and read by no source.
    virtual int setResolution(int width, int height, int, int) = 0;
    // size[0] = width, size[1] = height.
    virtual int getResolution(int *size) = 0;
    virtual int setFps(int fps) = 0;
    virtual int getFps(int *fps) = 0;
    // True while the source holds its device open.
    virtual bool linkState() = 0;
    // Emits the last live frame once more, as imageCaptured.
    virtual int capture() = 0;

protected:
    // Sources are owned and deleted through their own type, never through
    // this interface, which therefore has no virtual destructor.
    ~AbstractCamera() = default;
};

}  // namespace KelvoWifi
