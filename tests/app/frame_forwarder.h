// Carries a camera's frame signals from its frame thread into the test
// thread, where a QSignalSpy can count them safely.
#pragma once

#include <QImage>
#include <QObject>
#include <QThread>

class FrameForwarder : public QObject {
    Q_OBJECT

public:
    template <typename Camera>
    void follow(Camera *camera)
    {
        connect(camera, &Camera::videoCaptured, this, &FrameForwarder::videoCaptured, Qt::QueuedConnection);
        connect(camera, &Camera::imageCaptured, this, &FrameForwarder::imageCaptured, Qt::QueuedConnection);
        connect(camera, &QThread::started, this, &FrameForwarder::threadStarted, Qt::QueuedConnection);
    }

signals:
    void videoCaptured(int id, QImage image);
    void imageCaptured(int id, QImage image);
    void threadStarted();
};
