// The probe's WiFi module through the QRN_NET library: one session, a frame
// thread that decodes its video and pushed pictures.
#pragma once

#include <QImage>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "abstractcamera.h"
#include "qrn_net.h"

namespace KelvoWifi {

class FrameDecoder;

class NetCamera : public QThread, public AbstractCamera {
    Q_OBJECT

public:
    NetCamera();
    ~NetCamera() override;

    int scan() override;
    // index is not used: the module has one fixed address (KELVO_QRN_ADDRESS
    // overrides it).
    int connect(int index) override;
    int disconnect() override;
    int setStreaming(bool on) override;
    int setBrightness(float value) override;
    int getBrightness(float *value) override;
    int setExposure(float value) override;
    int getExposure(float *value) override;
    int setGamma(float value) override;
    int getGamma(float *value) override;
    int setContrast(float value) override;
    int getContrast(float *value) override;
    int setSharpness(float value) override;
    int getSharpness(float *value) override;
    int setSaturation(float value) override;
    int getSaturation(float *value) override;
    int getGain(float *value) override;
    int setGain(float value) override;
    int setResolution(int width, int height, int, int) override;
    int getResolution(int *size) override;
    // The library's own result codes.
    int setFps(int fps) override;
    int getFps(int *fps) override;
    bool linkState() override;
    int capture() override;

    int videoBegin();
    int videoEnd();
    int lastError() const;
    void setLastError(int error);

signals:
    void videoCaptured(int mCaptureId, QImage image);
    void imageCaptured(int mCaptureId, QImage image);

protected:
    void run() override;

private:
    int getControl(uint32_t id, float *value);
    int setControl(uint32_t id, float value);
    int record(int result);
    // Frame-thread steps, each taking at most one element of its queue.
    void takeVideo(int handle, FrameDecoder &decoder);
    void takePicture(int handle, FrameDecoder &decoder);
    static void drainSerial(int handle);
    static void drainAudio(int handle);
    static void drainParamChange(int handle);
    void endStream();

    uint32_t mDeviceCount = 0;
    int mHandle = 0;
    std::unique_ptr<ScanDeviceInfo[]> mScanBuffer;
    std::atomic<bool> mRunning{false};
    // The frame thread writes the id and the last frame, capture() reads
    // them: both only under mFrameMutex, which is never held while a signal
    // is emitted or a frame decoded.
    std::mutex mFrameMutex;
    int mCaptureId = 0;
    QImage mLastFrame;
    std::atomic<int> mLastError{0};
};

}  // namespace KelvoWifi
