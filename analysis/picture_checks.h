// Checks that come before any search for the fibre: is this a picture a
// probe could have taken, and is there light in it?
#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace endface {

constexpr int kMinSide = 160;
constexpr int kMaxSide = 8192;
constexpr double kMaxPixels = 40e6;

// Why a picture of this size cannot be inspected, or empty.
std::string check_size(int width, int height);

// 8-bit grey from grey, BGR, BGRA or 16-bit input; empty for any other type.
cv::Mat to_grey(const cv::Mat &image);

// Why this grey picture cannot be inspected (black, white, blank), or empty.
std::string check_exposure(const cv::Mat &grey);

// Why the glass inside this circle cannot be judged (saturated), or empty.
std::string check_glass(const cv::Mat &grey, cv::Point2d centre, double radius_px);

}  // namespace endface
