#include "videowidgetsurface.h"

#include <QPainter>
#include <QVideoSurfaceFormat>
#include <QWidget>

#include <algorithm>

VideoWidgetSurface::VideoWidgetSurface(QWidget *widget, QObject *parent)
    : QAbstractVideoSurface(parent), mWidget(widget)
{
}

QList<QVideoFrame::PixelFormat> VideoWidgetSurface::supportedPixelFormats(
    QAbstractVideoBuffer::HandleType handleType) const
{
    if (handleType != QAbstractVideoBuffer::NoHandle)
        return {};
    return {QVideoFrame::Format_RGB32, QVideoFrame::Format_ARGB32, QVideoFrame::Format_ARGB32_Premultiplied,
            QVideoFrame::Format_RGB565, QVideoFrame::Format_RGB555};
}

// Only the mapping to a QImage format is checked, so the 24-bit RGB frames of
// the camera sources are accepted although they are not in the list above.
bool VideoWidgetSurface::start(const QVideoSurfaceFormat &format)
{
    const QImage::Format imageFormat = QVideoFrame::imageFormatFromPixelFormat(format.pixelFormat());
    if (imageFormat == QImage::Format_Invalid)
        return false;
    if (format.frameSize().width() <= 0 || format.frameSize().height() <= 0)
        return false;
    mImageFormat = imageFormat;
    mSourceRect = format.viewport();
    QAbstractVideoSurface::start(format);
    updateTargetRect();
    return true;
}

void VideoWidgetSurface::stop()
{
    mCurrentFrame = QVideoFrame();
    mTargetRect = QRect();
    QAbstractVideoSurface::stop();
    mWidget->update();
}

bool VideoWidgetSurface::present(const QVideoFrame &frame)
{
    if (surfaceFormat().pixelFormat() != frame.pixelFormat() || surfaceFormat().frameSize() != frame.size()) {
        setError(IncorrectFormatError);
        stop();
        return false;
    }
    mCurrentFrame = frame;
    mWidget->update();
    return true;
}

void VideoWidgetSurface::updateTargetRect()
{
    const QSize frameSize = surfaceFormat().sizeHint();
    const QSize widgetSize = mWidget->size();
    // A frame is shrunk to fit but never enlarged.
    const QSize bound(std::min(frameSize.width(), widgetSize.width()),
                      std::min(frameSize.height(), widgetSize.height()));
    const QSize target = frameSize.scaled(bound, Qt::KeepAspectRatio);
    const int left = (widgetSize.width() - 1) / 2 - (target.width() - 1) / 2;
    const int top = (widgetSize.height() - 1) / 2 - (target.height() - 1) / 2;
    mTargetRect = QRect(QPoint(left, top), target);
}

void VideoWidgetSurface::paintFrame(QPainter *painter)
{
    if (!mCurrentFrame.map(QAbstractVideoBuffer::ReadOnly))
        return;
    if (surfaceFormat().scanLineDirection() == QVideoSurfaceFormat::BottomToTop) {
        // Left in place: the painter ends with the paint event.
        painter->scale(1, -1);
        painter->translate(0, -mWidget->height());
    }
    const QImage image(mCurrentFrame.bits(), mCurrentFrame.width(), mCurrentFrame.height(),
                       mCurrentFrame.bytesPerLine(), mImageFormat);
    painter->drawImage(QRectF(mTargetRect), image, QRectF(mSourceRect));
    mCurrentFrame.unmap();
}
