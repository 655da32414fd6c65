#pragma once

#include <QImage>
#include <QMutex>
#include <QWidget>

#include "zoneoverlay.h"

class VideoWidgetSurface;

// Shows the live picture: each image becomes a frame of its own video
// surface, painted centred on black.
class VideoWidget : public QWidget
{
    Q_OBJECT

public:
    explicit VideoWidget(QWidget *parent = nullptr);
    ~VideoWidget() override;

    QSize sizeHint() const override;

    // 0 when the frame was shown; -1 otherwise, and a null image (end of
    // stream) clears the picture.
    int presentImage(const QImage &image);

    // Inspection marks painted over the picture while it is shown; an
    // overlay stays until it is replaced or cleared.
    void setOverlay(const ZoneOverlay &overlay);
    void clearOverlay();
    ZoneOverlay overlay() const { return mOverlay; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QMutex mMutex;
    VideoWidgetSurface *mSurface;
    ZoneOverlay mOverlay;
};
