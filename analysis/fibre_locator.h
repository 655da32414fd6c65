// Finds the cladding boundary: the circle where the bright glass meets the
// dark adhesive ring. A coarse Hough search on a reduced picture proposes
// circles; rays from each proposal find the edge at full resolution, and a
// robust circle fit through those edge points decides.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace endface {

struct FibreFit {
    bool found = false;
    std::string problem;  // why not found
    cv::Point2d centre;
    double radius_px = 0.0;
    double support = 0.0;        // share of rays whose edge lies on the circle
    double edge_sigma_px = 1.0;  // blur of the boundary, a measure of the optics' blur
};

// expected_radius_px narrows the search when the scale is known.
FibreFit locate_fibre(const cv::Mat &grey, std::optional<double> expected_radius_px);

}  // namespace endface
