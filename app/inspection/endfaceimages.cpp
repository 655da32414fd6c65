#include "endfaceimages.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <exception>

cv::Mat greyMatFromImage(const QImage &image)
{
    if (image.isNull())
        return cv::Mat();
    cv::Mat grey;
    switch (image.format()) {
    case QImage::Format_Grayscale8:
        // The image's rows may be padded: wrap them, then copy.
        cv::Mat(image.height(), image.width(), CV_8UC1, const_cast<uchar *>(image.constBits()),
                size_t(image.bytesPerLine()))
            .copyTo(grey);
        break;
    case QImage::Format_RGB888:
        cv::cvtColor(cv::Mat(image.height(), image.width(), CV_8UC3, const_cast<uchar *>(image.constBits()),
                             size_t(image.bytesPerLine())),
                     grey, cv::COLOR_RGB2GRAY);
        break;
    default: {
        // 32-bit pixels lie in memory as blue, green, red, alpha.
        const QImage rgb32 = image.convertToFormat(QImage::Format_RGB32);
        cv::cvtColor(cv::Mat(rgb32.height(), rgb32.width(), CV_8UC4, const_cast<uchar *>(rgb32.constBits()),
                             size_t(rgb32.bytesPerLine())),
                     grey, cv::COLOR_BGRA2GRAY);
    }
    }
    return grey;
}

QImage imageFromMat(const cv::Mat &mat)
{
    if (mat.empty() || mat.depth() != CV_8U)
        return QImage();
    cv::Mat rgb;
    switch (mat.channels()) {
    case 1:
        cv::cvtColor(mat, rgb, cv::COLOR_GRAY2RGB);
        break;
    case 3:
        cv::cvtColor(mat, rgb, cv::COLOR_BGR2RGB);
        break;
    case 4:
        cv::cvtColor(mat, rgb, cv::COLOR_BGRA2RGB);
        break;
    default:
        return QImage();
    }
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

ZoneOverlay overlayFromResult(const endface::InspectionResult &result, const QSize &imageSize)
{
    ZoneOverlay overlay;
    overlay.imageSize = imageSize;
    switch (result.overall) {
    case endface::Verdict::Pass:
        overlay.verdict = ZoneOverlay::Pass;
        break;
    case endface::Verdict::Fail:
        overlay.verdict = ZoneOverlay::Fail;
        break;
    case endface::Verdict::CannotInspect:
        overlay.verdict = ZoneOverlay::CannotInspect;
        overlay.note = QString::fromStdString(result.cannot_inspect_reason);
        break;
    }
    const double umPerPx = result.fibre.um_per_px;
    if (!(umPerPx > 0.0) || !std::isfinite(umPerPx))
        return overlay;
    overlay.centre = QPointF(result.fibre.centre_px.x, result.fibre.centre_px.y);
    for (const endface::Zone &zone : result.zones)
        overlay.zoneRadii << zone.outer_diameter_um / 2.0 / umPerPx;
    for (const endface::Defect &defect : result.defects) {
        const cv::Rect &box = defect.bounding_box_px;
        overlay.defects << ZoneOverlay::Defect{QPointF(defect.centre_px.x, defect.centre_px.y),
                                               std::hypot(box.width, box.height) / 2.0};
    }
    for (const endface::Scratch &scratch : result.scratches) {
        ZoneOverlay::Scratch mark;
        for (const cv::Point2d &point : scratch.polyline_px)
            mark.line << QPointF(point.x, point.y);
        mark.halfWidth = scratch.width_um / umPerPx / 2.0;
        overlay.scratches << mark;
    }
    return overlay;
}

ZoneOverlay inspectFrame(const QImage &frame)
{
    try {
        return overlayFromResult(endface::inspect(greyMatFromImage(frame)), frame.size());
    } catch (const std::exception &error) {
        // Only a fault of the library itself lands here; the live picture goes on.
        ZoneOverlay overlay;
        overlay.imageSize = frame.size();
        overlay.note = QString::fromLocal8Bit(error.what());
        return overlay;
    }
}
