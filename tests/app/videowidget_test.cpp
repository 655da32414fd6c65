// The video widget and its surface, painted offscreen and read back pixel by
// pixel.
#include "videowidget.h"
#include "videowidgetsurface.h"
#include "window_helpers.h"

#include <QPainter>
#include <QVideoSurfaceFormat>
#include <QtTest>

namespace {

const QRgb kBlack = qRgb(0, 0, 0);

QImage solidImage(QSize size, QImage::Format format, QColor colour)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

// The first pixel that breaks "inside colour, outside black", or an empty
// text when every pixel is right.
QString firstWrongPixel(const QImage &shot, const QRect &frameRect, QRgb inside)
{
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb want = frameRect.contains(x, y) ? inside : kBlack;
            const QRgb got = shot.pixel(x, y) | 0xff000000u;
            if (got != want)
                return QString("pixel (%1, %2) is #%3, expected #%4")
                    .arg(x).arg(y).arg(got, 8, 16, QChar('0')).arg(want, 8, 16, QChar('0'));
        }
    }
    return QString();
}

// A plain widget that paints a surface's frame on black, to drive the
// surface through formats the video widget never builds itself.
class SurfaceHost : public QWidget
{
public:
    SurfaceHost() : surface(this) {}
    VideoWidgetSurface surface;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        surface.paintFrame(&painter);
    }
};

} // namespace

class VideoWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void framePlacement_data();
    void framePlacement();
    void greyscaleKeepsEveryLevel();
    void nullImageClearsToBlack();
    void resizeRecentresAtOnce();
    void newFrameSizeRestartsSurface();
    void surfaceStart_data();
    void surfaceStart();
    void presentOfWrongSizeStopsSurface();
    void bottomToTopFrameIsFlipped();
    void overlayMarksTheShownFrame();

private:
    QImage present(VideoWidget &widget, QSize widgetSize, const QImage &image, int *result);
};

QImage VideoWidgetTest::present(VideoWidget &widget, QSize widgetSize, const QImage &image, int *result)
{
    widget.resize(widgetSize);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return QImage();
    *result = widget.presentImage(image);
    return widget.grab().toImage();
}

void VideoWidgetTest::framePlacement_data()
{
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRect>("expectedRect");
    QTest::addColumn<QRgb>("expectedColour");

    const QColor rose(200, 40, 90);
    QTest::newRow("640x480 centred in 800x600")
        << QSize(800, 600) << solidImage({640, 480}, QImage::Format_RGB888, rose) << QRect(80, 60, 640, 480)
        << rose.rgb();
    QTest::newRow("1280x960 shrunk into 640x600")
        << QSize(640, 600) << solidImage({1280, 960}, QImage::Format_RGB888, rose) << QRect(0, 60, 640, 480)
        << rose.rgb();
    QTest::newRow("tall frame shrunk by its height")
        << QSize(800, 600) << solidImage({480, 960}, QImage::Format_RGB888, rose) << QRect(250, 0, 300, 600)
        << rose.rgb();
    QTest::newRow("frame of the widget's size fills it")
        << QSize(800, 600) << solidImage({800, 600}, QImage::Format_RGB888, rose) << QRect(0, 0, 800, 600)
        << rose.rgb();
    QTest::newRow("small frame is not enlarged")
        << QSize(800, 600) << solidImage({320, 240}, QImage::Format_RGB32, rose) << QRect(240, 180, 320, 240)
        << rose.rgb();
    QTest::newRow("odd leftover truncates toward the top left")
        << QSize(800, 600) << solidImage({641, 481}, QImage::Format_RGB888, rose) << QRect(79, 59, 641, 481)
        << rose.rgb();
    QTest::newRow("odd widget")
        << QSize(801, 601) << solidImage({640, 480}, QImage::Format_RGB888, rose) << QRect(81, 61, 640, 480)
        << rose.rgb();
    QTest::newRow("greyscale is shown grey")
        << QSize(800, 600) << solidImage({640, 480}, QImage::Format_Grayscale8, QColor(128, 128, 128))
        << QRect(80, 60, 640, 480) << qRgb(128, 128, 128);
}

void VideoWidgetTest::framePlacement()
{
    QFETCH(QSize, widgetSize);
    QFETCH(QImage, image);
    QFETCH(QRect, expectedRect);
    QFETCH(QRgb, expectedColour);

    VideoWidget widget;
    int result = -2;
    const QImage shot = present(widget, widgetSize, image, &result);
    QCOMPARE(result, 0);
    QCOMPARE(shot.size(), widgetSize);
    const QString wrong = firstWrongPixel(shot, expectedRect, expectedColour | 0xff000000u);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(widget.sizeHint(), image.size());
}

void VideoWidgetTest::greyscaleKeepsEveryLevel()
{
    QImage ramp(256, 100, QImage::Format_Grayscale8);
    for (int y = 0; y < ramp.height(); ++y)
        for (int x = 0; x < ramp.width(); ++x)
            ramp.scanLine(y)[x] = uchar((x + y) & 0xff);

    VideoWidget widget;
    int result = -2;
    const QImage shot = present(widget, {300, 200}, ramp, &result);
    QCOMPARE(result, 0);
    const QPoint origin(299 / 2 - 255 / 2, 199 / 2 - 99 / 2);
    for (int y = 0; y < ramp.height(); ++y) {
        for (int x = 0; x < ramp.width(); ++x) {
            const int level = (x + y) & 0xff;
            const QRgb got = shot.pixel(origin + QPoint(x, y)) | 0xff000000u;
            if (got != qRgb(level, level, level))
                QFAIL(qPrintable(QString("ramp pixel (%1, %2) is #%3").arg(x).arg(y).arg(got, 8, 16)));
        }
    }
}

void VideoWidgetTest::nullImageClearsToBlack()
{
    VideoWidget widget;
    int result = -2;
    present(widget, {800, 600}, solidImage({640, 480}, QImage::Format_RGB888, Qt::white), &result);
    QCOMPARE(result, 0);

    QCOMPARE(widget.presentImage(QImage()), -1);
    const QString wrong = firstWrongPixel(widget.grab().toImage(), QRect(), kBlack);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // A stopped surface's format has an empty viewport.
    QVERIFY(widget.sizeHint().isEmpty());

    // The next frame starts the stream again.
    QCOMPARE(widget.presentImage(solidImage({640, 480}, QImage::Format_RGB888, Qt::white)), 0);
    const QString wrongAfter = firstWrongPixel(widget.grab().toImage(), QRect(80, 60, 640, 480), qRgb(255, 255, 255));
    QVERIFY2(wrongAfter.isEmpty(), qPrintable(wrongAfter));
}

void VideoWidgetTest::resizeRecentresAtOnce()
{
    const QColor green(30, 200, 60);
    VideoWidget widget;
    int result = -2;
    present(widget, {800, 600}, solidImage({640, 480}, QImage::Format_RGB888, green), &result);
    QCOMPARE(result, 0);

    const struct {
        QSize widgetSize;
        QRect frameRect;
    } steps[] = {
        {{1000, 700}, {180, 110, 640, 480}},
        {{320, 300}, {0, 30, 320, 240}},
        {{800, 600}, {80, 60, 640, 480}},
    };
    for (const auto &step : steps) {
        widget.resize(step.widgetSize);
        const QImage shot = widget.grab().toImage();
        QCOMPARE(shot.size(), step.widgetSize);
        const QString wrong = firstWrongPixel(shot, step.frameRect, green.rgb());
        QVERIFY2(wrong.isEmpty(), qPrintable(QString("at %1x%2: %3").arg(step.widgetSize.width())
                                                 .arg(step.widgetSize.height()).arg(wrong)));
    }
}

void VideoWidgetTest::newFrameSizeRestartsSurface()
{
    VideoWidget widget;
    int result = -2;
    present(widget, {800, 600}, solidImage({640, 480}, QImage::Format_RGB888, Qt::red), &result);
    QCOMPARE(result, 0);

    const struct {
        QImage image;
        QRect frameRect;
    } frames[] = {
        {solidImage({320, 240}, QImage::Format_RGB888, QColor(0, 0, 255)), {240, 180, 320, 240}},
        {solidImage({320, 240}, QImage::Format_RGB32, QColor(0, 255, 0)), {240, 180, 320, 240}},
        {solidImage({1600, 1200}, QImage::Format_RGB32, QColor(255, 255, 0)), {0, 0, 800, 600}},
    };
    for (const auto &frame : frames) {
        QCOMPARE(widget.presentImage(frame.image), 0);
        QCOMPARE(widget.sizeHint(), frame.image.size());
        const QString wrong = firstWrongPixel(widget.grab().toImage(), frame.frameRect, frame.image.pixel(0, 0));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    }
}

void VideoWidgetTest::surfaceStart_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<int>("pixelFormat");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("RGB32") << QSize(640, 480) << int(QVideoFrame::Format_RGB32) << true;
    QTest::newRow("24-bit RGB, not listed but drawable") << QSize(640, 480) << int(QVideoFrame::Format_RGB24) << true;
    QTest::newRow("JPEG has no image format") << QSize(640, 480) << int(QVideoFrame::Format_Jpeg) << false;
    QTest::newRow("zero width") << QSize(0, 480) << int(QVideoFrame::Format_RGB32) << false;
    QTest::newRow("zero height") << QSize(640, 0) << int(QVideoFrame::Format_RGB32) << false;
}

void VideoWidgetTest::surfaceStart()
{
    QFETCH(QSize, frameSize);
    QFETCH(int, pixelFormat);
    QFETCH(bool, accepted);

    SurfaceHost host;
    const QVideoSurfaceFormat format(frameSize, QVideoFrame::PixelFormat(pixelFormat));
    QCOMPARE(host.surface.start(format), accepted);
    QCOMPARE(host.surface.isActive(), accepted);
}

void VideoWidgetTest::presentOfWrongSizeStopsSurface()
{
    SurfaceHost host;
    host.resize(800, 600);
    QVERIFY(host.surface.start(QVideoSurfaceFormat({640, 480}, QVideoFrame::Format_RGB32)));

    const QVideoFrame wrongSize(solidImage({320, 240}, QImage::Format_RGB32, Qt::white));
    QVERIFY(!host.surface.present(wrongSize));
    QCOMPARE(host.surface.error(), QAbstractVideoSurface::IncorrectFormatError);
    QVERIFY(!host.surface.isActive());
    const QString wrong = firstWrongPixel(host.grab().toImage(), QRect(), kBlack);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void VideoWidgetTest::bottomToTopFrameIsFlipped()
{
    // Red rows on top, blue rows below, as stored.
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));

    SurfaceHost host;
    host.resize(200, 100);
    QVideoSurfaceFormat format(image.size(), QVideoFrame::Format_RGB32);
    format.setScanLineDirection(QVideoSurfaceFormat::BottomToTop);
    QVERIFY(host.surface.start(format));
    QVERIFY(host.surface.present(QVideoFrame(image)));

    const QImage shot = host.grab().toImage();
    QCOMPARE(shot.pixel(100, 10) | 0xff000000u, qRgb(0, 0, 255));
    QCOMPARE(shot.pixel(100, 90) | 0xff000000u, qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(0, 0) | 0xff000000u, qRgb(0, 0, 255));
    QCOMPARE(shot.pixel(199, 99) | 0xff000000u, qRgb(255, 0, 0));
}

void VideoWidgetTest::overlayMarksTheShownFrame()
{
    // A 1280 x 960 frame in a 640 x 600 widget shows at half size from (0, 60).
    VideoWidget widget;
    int result = -2;
    const QColor grey(90, 90, 90);
    present(widget, {640, 600}, solidImage({1280, 960}, QImage::Format_RGB888, grey), &result);
    QCOMPARE(result, 0);

    ZoneOverlay overlay;
    overlay.imageSize = QSize(1280, 960);
    overlay.centre = QPointF(600, 500);
    // The outer zone reaches past the frame's top into the black border.
    overlay.zoneRadii = {40, 160, 200, 640};
    overlay.defects = {{QPointF(600, 200), 6}};
    overlay.verdict = ZoneOverlay::Fail;
    widget.setOverlay(overlay);
    const QImage shot = widget.grab().toImage();

    const QRect frame(0, 60, 640, 480);
    const QPointF centre(300, 60 + 250);
    const QPointF directions[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (int zone = 0; zone < overlay.zoneRadii.size(); ++zone) {
        int seen = 0;
        for (const QPointF &direction : directions) {
            const QPointF point = centre + direction * overlay.zoneRadii[zone] / 2;
            if (!frame.contains(point.toPoint()))
                continue;
            ++seen;
            QVERIFY2(colourNear(shot, point, zoneOverlayColour(zone)),
                     qPrintable(QString("zone %1 at (%2, %3)").arg(zone).arg(point.x()).arg(point.y())));
        }
        QVERIFY(seen > 0);
    }
    // The defect's ring: its radius on screen is 3 + 4, at least 7.
    QVERIFY(colourNear(shot, QPointF(300 + 7, 60 + 100), kOverlayDefectColour));
    QVERIFY(colourNear(shot, QPointF(300, 60 + 100 - 7), kOverlayDefectColour));
    QCOMPARE(QColor(shot.pixel(300, 160)), grey);
    // The verdict box in the frame's top left corner, the face left alone elsewhere.
    QCOMPARE(QColor(shot.pixel(frame.left() + 8, frame.top() + 8)), overlayVerdictColour(ZoneOverlay::Fail));
    QCOMPARE(QColor(shot.pixel(centre.toPoint())), grey);
    // Marks stay on the frame: the border above it is all black.
    const QString wrong = firstWrongPixel(shot.copy(0, 0, 640, 60), QRect(), kBlack);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    widget.clearOverlay();
    const QImage cleared = widget.grab().toImage();
    const QString left = firstWrongPixel(cleared, frame, grey.rgb());
    QVERIFY2(left.isEmpty(), qPrintable(left));
}

QTEST_MAIN(VideoWidgetTest)
#include "videowidget_test.moc"
