#pragma once

#include "endface_analysis.h"
#include "inspection_report.h"

#include <QImage>
#include <QString>

// One stored capture, inspected, drawn and reported on.
struct CaptureInspection {
    QString picturePath;
    endface::InspectionResult result;
    QImage annotated;  // null when the picture could not be measured
    endface::ReportOutcome report;
};

// Inspects the picture at picturePath and writes its report beside it. The
// picture is only read. Slow enough (a decode, the analysis, two files) to
// belong on a worker thread; never throws.
CaptureInspection inspectCapture(const QString &picturePath);
