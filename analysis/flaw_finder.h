// Dark flaws against the face model: pixels that stand out from their
// radial band's own noise (a threshold from the zone's statistics, as
// difference-of-min-max-ranking detection uses) grow by hysteresis into
// regions, each measured for size, shape and depth.
#pragma once

#include "face_model.h"

#include <opencv2/core.hpp>

#include <vector>

namespace endface {

struct FlawRegion {
    std::vector<cv::Point> pixels;  // picture coordinates
    std::vector<cv::Point> outline;
    cv::Rect box;
    cv::Point2d centre;        // depth-weighted
    double min_radius_px = 0;  // nearest pixel to the fibre centre
    double area_px = 0;        // effective area: summed depth over peak depth
    double peak_depth = 0;     // grey levels, corrected for blur
    double face_level = 0;     // the model's level at the centre
    double length_px = 0;      // along the main axis
    double width_px = 0;       // across it, effective
    double elongation = 1;     // main axis over cross axis
    cv::Point2d end_a, end_b;  // extent along the main axis
};

// One flaw lying across the dark adhesive ring shows as two regions, one on
// the glass and one on the ceramic: joins such pairs into one region whose
// area is the sum of both. gap_px is the widest gap bridged.
void join_across_ring(std::vector<FlawRegion> &regions, cv::Point2d centre, double cladding_radius_px,
                      double ring_reach_px, double gap_px);

// blur_sigma_px: the optics' blur, used to undo the loss of depth in small flaws.
std::vector<FlawRegion> find_flaws(const FaceModel &model, double cladding_radius_px, double outer_radius_px,
                                   double blur_sigma_px);

}  // namespace endface
