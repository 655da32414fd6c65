// Between the viewer's pictures and the analysis library: frames to the
// library's grey matrices, its results to the live overlay, its annotated
// pictures back to images.
#pragma once

#include "endface_analysis.h"
#include "zoneoverlay.h"

#include <QImage>

#include <opencv2/core.hpp>

// An 8-bit grey copy of any frame the sources deliver; empty for a null image.
cv::Mat greyMatFromImage(const QImage &image);

// A copy of an 8-bit grey, BGR or BGRA matrix as an image; null when empty.
QImage imageFromMat(const cv::Mat &mat);

// The marks of one inspected frame of imageSize.
ZoneOverlay overlayFromResult(const endface::InspectionResult &result, const QSize &imageSize);

// Inspects one live frame; never throws.
ZoneOverlay inspectFrame(const QImage &frame);
