#include "videowidget.h"

#include "frametrace.h"
#include "videowidgetsurface.h"

#include <QMutexLocker>
#include <QPaintEvent>
#include <QPainter>
#include <QVideoSurfaceFormat>

VideoWidget::VideoWidget(QWidget *parent)
    : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::black, Qt::SolidPattern));
    setPalette(black);
    mSurface = new VideoWidgetSurface(this, nullptr);
}

VideoWidget::~VideoWidget()
{
    delete mSurface;
}

QSize VideoWidget::sizeHint() const
{
    return mSurface->surfaceFormat().sizeHint();
}

int VideoWidget::presentImage(const QImage &image)
{
    // QVideoFrame cannot hold 8-bit greyscale.
    const QVideoFrame frame(image.format() == QImage::Format_Grayscale8
                                ? image.convertToFormat(QImage::Format_RGB888)
                                : image);
    if (!frame.isValid()) {
        mSurface->stop();
        return -1;
    }

    const QVideoSurfaceFormat current = mSurface->surfaceFormat();
    if (frame.pixelFormat() != current.pixelFormat() || frame.size() != current.frameSize()) {
        // start() on a running surface just takes the new format.
        if (!mSurface->start(QVideoSurfaceFormat(frame.size(), frame.pixelFormat(), QAbstractVideoBuffer::NoHandle)))
            return -1;
    }

    QMutexLocker lock(&mMutex);
    if (!mSurface->present(frame)) {
        mSurface->stop();
        return -1;
    }
    return 0;
}

void VideoWidget::setOverlay(const ZoneOverlay &overlay)
{
    QMutexLocker lock(&mMutex);
    mOverlay = overlay;
    lock.unlock();
    update();
}

void VideoWidget::clearOverlay()
{
    setOverlay(ZoneOverlay());
}

void VideoWidget::paintEvent(QPaintEvent *event)
{
    QMutexLocker lock(&mMutex);
    QPainter painter(this);
    const QBrush background = palette().brush(QPalette::Window);

    if (mSurface->isActive()) {
        const QRect target = mSurface->targetRect();
        if (!target.contains(event->rect())) {
            for (const QRect &rect : event->region().subtracted(target))
                painter.fillRect(rect, background);
        }
        // The frame may leave the painter flipped; the marks use their own mapping.
        painter.save();
        mSurface->paintFrame(&painter);
        painter.restore();
        paintZoneOverlay(&painter, mOverlay, target);
        if (FrameTrace::enabled())
            FrameTrace::painted();
    } else {
        painter.fillRect(event->rect(), background);
    }
}

void VideoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    mSurface->updateTargetRect();
}
