// The report of one inspected picture, written beside it: the annotated
// picture as PNG and a page with the zone table, the defects, the scratches
// and the verdict. The picture itself is only ever read.
#pragma once

#include "endface_analysis.h"

#include <opencv2/core.hpp>

#include <string>

namespace endface {

struct ReportPaths {
    std::string image;  // DIR/NAME.inspect.png
    std::string page;   // DIR/NAME.inspect.html
};

// The report's files for a picture: its name without the last extension,
// plus ".inspect.png" and ".inspect.html", in directory, or beside the
// picture when directory is empty. "shots/IMG_7.jpg" gives
// "shots/IMG_7.inspect.png" and "shots/IMG_7.inspect.html".
ReportPaths report_paths(const std::string &picture_path, const std::string &directory = std::string());

// The zone table, the defects and scratches, and the verdict as plain text,
// one line each, for a terminal.
std::string text_summary(const InspectionResult &result);

// The page's HTML; image_name is the PNG's file name, linked from the page.
std::string report_page(const std::string &picture_name, const std::string &image_name, const InspectionResult &result);

struct ReportOutcome {
    bool written = false;
    std::string error;  // why nothing or not all was written, when written is false
    ReportPaths paths;
};

// Writes the annotated picture and the page for picture_path (see
// report_paths; directory is created if missing). Each file is written
// under a temporary name and renamed into place when complete, so a failed
// write leaves no part-written report, and a report name that is the
// picture itself (a link) is refused rather than written. A picture that
// is not there gets no report. annotated is the image from annotate();
// when it is empty only the page is written.
ReportOutcome write_report(const std::string &picture_path, const InspectionResult &result, const cv::Mat &annotated,
                           const std::string &directory = std::string());

}  // namespace endface
