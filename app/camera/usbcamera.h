// The probe plugged in over USB, read through OpenCV's cv::VideoCapture.
#pragma once

#include <QImage>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

#include "abstractcamera.h"
#include "steadytimedmutex.h"

namespace cv {
class VideoCapture;
}

namespace KelvoWifi {

class USBCamera : public QThread, public AbstractCamera {
    Q_OBJECT

public:
    USBCamera();
    ~USBCamera() override;

    // The OpenCV index of the probe, or -3.
    int scan() override;
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
    int setFps(int fps) override;
    int getFps(int *fps) override;
    bool linkState() override;
    int capture() override;

    // Opens a recorded video instead of a device: the frame loop then
    // replays it once, to its end.
    int connectRecording(const QString &fileName);
    // Where sysfs is mounted, "/sys" unless changed.
    void setSysfsRoot(const QString &root);

signals:
    void videoCaptured(int captureId, QImage image);
    void imageCaptured(int captureId, QImage image);

protected:
    void run() override;

private:
    int opened(bool ok);
    int setProperty(int property, double value);
    int getProperty(int property, double *value);
    int getControl(int property, float *value);

    // Used by the frame thread's reads and the GUI thread's settings, never
    // at once. The GUI thread waits for it only a bounded time, so a device
    // that stops answering cannot freeze the window.
    std::unique_ptr<cv::VideoCapture> mCapture;
    SteadyTimedMutex mCaptureMutex;
    std::atomic<bool> mOpen{false};
    // The frame thread writes the id and the last frame, capture() reads
    // them: both only under mFrameMutex.
    std::mutex mFrameMutex;
    QImage mLastFrame;
    std::atomic<bool> mRunning{false};
    int mCaptureId = 0;
    QString mSysfsRoot = QStringLiteral("/sys");
};

}  // namespace KelvoWifi
