#ifndef MLNETCAMERA_H
#define MLNETCAMERA_H

#include "mlkeyprocess.h"

#include <QImage>
#include <QString>
#include <QThread>

#include <atomic>

namespace KelvoWifi {

// Frame source for the second kind of WiFi module, reached through
// ml_camera. Emits the same two frame signals as the other sources; its
// frame id counts loop turns, not frames.
class MlNetCamera : public QThread
{
    Q_OBJECT

public:
    MlNetCamera();
    ~MlNetCamera() override;

    int open();
    void stop();
    void requestCapture();
    void reboot();

    static int setSsid(const QString &ssid);
    static int setDeviceType(int type);
    static int getDeviceType();
    static int setCameraParams(int brightness, int contrast, int exposure, int gain, const void *extra,
                               int extraSize);
    static int getCameraParams();

signals:
    void videoCaptured(int mCaptureId, QImage image);
    void imageCaptured(int captureId, QImage image);

public slots:
    void onCapKeyPressed();

protected:
    void run() override;

private:
    bool moduleUsable() const;

    char *mFrameBuffer;
    int mPreviewHandle;
    QImage mLastFrame;
    MlKeyProcess mKeyProcess;
    int mCaptureId;
    int mFrameInfo;
    std::atomic<bool> mRunning;
    std::atomic<bool> mCaptureRequested;
};

} // namespace KelvoWifi

#endif // MLNETCAMERA_H
