#pragma once

#include <QAbstractVideoSurface>
#include <QImage>
#include <QRect>
#include <QVideoFrame>

class QPainter;
class QWidget;

// Receives frames and paints the current one, never enlarged, centred in the
// widget it was made for.
class VideoWidgetSurface : public QAbstractVideoSurface
{
    Q_OBJECT

public:
    VideoWidgetSurface(QWidget *widget, QObject *parent = nullptr);

    QList<QVideoFrame::PixelFormat> supportedPixelFormats(
        QAbstractVideoBuffer::HandleType handleType = QAbstractVideoBuffer::NoHandle) const override;
    bool start(const QVideoSurfaceFormat &format) override;
    void stop() override;
    bool present(const QVideoFrame &frame) override;

    QRect targetRect() const { return mTargetRect; }
    void updateTargetRect();
    void paintFrame(QPainter *painter);

private:
    QWidget *mWidget;
    QImage::Format mImageFormat = QImage::Format_Invalid;
    QVideoFrame mCurrentFrame;
    QRect mTargetRect;
    QRect mSourceRect;
};
