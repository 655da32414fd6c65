// What the end face would look like without flaws: the polished face is
// rotationally symmetric, so its look is a radial profile around the fibre
// centre, times a smooth field for the probe's uneven lighting. What departs
// from that model is a candidate flaw; unlike a square rank-filter window,
// the model does not flag the core or the edges of the cladding and the ring.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace endface {

struct FaceModel {
    cv::Rect roi;        // the part of the picture modelled, around the fibre
    cv::Point2d centre;  // in roi coordinates
    cv::Mat radius_px;   // CV_32F: each pixel's distance from the centre
    cv::Mat depth;       // CV_32F: model minus picture; positive where darker than the face
    cv::Mat level;       // CV_32F: the model's level
    cv::Mat slope;       // CV_32F: how fast the level changes along the radius, per px
};

// Models the face around centre out to outer_radius_px.
FaceModel model_face(const cv::Mat &grey, cv::Point2d centre, double outer_radius_px);

// Robust noise (median absolute value as a Gaussian sigma) of a CV_32F map
// in radial bands of band_px, by the radius map of the model.
std::vector<float> band_noise(const cv::Mat &values, const cv::Mat &radius_px, double band_px, double outer_radius_px);

}  // namespace endface
