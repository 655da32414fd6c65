// The picture of an inspection: the end face with its zone circles, every
// defect ringed in red, every scratch bracketed, and the verdict in the top
// left corner. The viewer's live overlay draws the same marks in the same
// colours, so a report and the screen read alike.
#pragma once

#include "endface_analysis.h"

#include <opencv2/core.hpp>

namespace endface {

// Colours as blue, green, red: one per zone (A to D, then repeated), the
// defects, the scratches, and the verdict boxes.
cv::Scalar zone_colour_bgr(int zone_index);
const cv::Scalar kDefectColourBgr(0, 0, 255);
const cv::Scalar kScratchColourBgr(0, 140, 255);
cv::Scalar verdict_colour_bgr(Verdict verdict);

// The verdict as the corner shows it: "PASS", "FAIL", "CANNOT INSPECT".
const char *verdict_label(Verdict verdict);

// A 3-channel copy of image (grey, BGR or BGRA) with the marks drawn on it.
// Marks need a found fibre (a scale above zero); without one only the
// verdict and its reason are drawn. An empty image gives an empty result.
cv::Mat annotate(const cv::Mat &image, const InspectionResult &result);

}  // namespace endface
