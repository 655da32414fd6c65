#include "captureinspection.h"

#include "annotated_image.h"
#include "endfaceimages.h"

#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <exception>

CaptureInspection inspectCapture(const QString &picturePath)
{
    CaptureInspection inspection;
    inspection.picturePath = picturePath;
    const std::string path = QFile::encodeName(picturePath).toStdString();
    try {
        inspection.result = endface::inspect_file(path);
        cv::Mat annotated;
        // Decoded again only once the inspection has measured it: a picture
        // it refused may be corrupt or far too large.
        if (inspection.result.fibre.um_per_px > 0.0)
            annotated = endface::annotate(cv::imread(path, cv::IMREAD_COLOR), inspection.result);
        inspection.annotated = imageFromMat(annotated);
        inspection.report = endface::write_report(path, inspection.result, annotated);
    } catch (const std::exception &error) {
        inspection.result.overall = endface::Verdict::CannotInspect;
        inspection.result.cannot_inspect_reason = error.what();
        inspection.report.error = error.what();
    }
    return inspection;
}
