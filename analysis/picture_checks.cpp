#include "picture_checks.h"

#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace endface {

namespace {

constexpr double kDarkMean = 14.0;
constexpr double kWhiteMean = 238.0;
constexpr double kBlankSpread = 2.0;
// Glass this bright or brighter has lost its detail to clipping.
constexpr int kClipLevel = 250;
constexpr double kMaxClippedShare = 0.02;

}  // namespace

std::string check_size(int width, int height)
{
    char text[96];
    if (width < kMinSide || height < kMinSide) {
        std::snprintf(text, sizeof text, "picture too small (%dx%d, at least %dx%d)", width, height, kMinSide,
                      kMinSide);
        return text;
    }
    if (width > kMaxSide || height > kMaxSide || static_cast<double>(width) * height > kMaxPixels) {
        std::snprintf(text, sizeof text, "picture too large (%dx%d)", width, height);
        return text;
    }
    return {};
}

cv::Mat to_grey(const cv::Mat &image)
{
    cv::Mat eight;
    if (image.depth() == CV_8U)
        eight = image;
    else if (image.depth() == CV_16U)
        image.convertTo(eight, CV_8U, 1.0 / 257.0);
    else
        return {};
    cv::Mat grey;
    switch (eight.channels()) {
    case 1:
        grey = eight;
        break;
    case 3:
        cv::cvtColor(eight, grey, cv::COLOR_BGR2GRAY);
        break;
    case 4:
        cv::cvtColor(eight, grey, cv::COLOR_BGRA2GRAY);
        break;
    default:
        break;
    }
    return grey;
}

std::string check_exposure(const cv::Mat &grey)
{
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread);
    if (mean[0] < kDarkMean)
        return "picture too dark: no light on the end face";
    if (mean[0] > kWhiteMean)
        return "picture overexposed: the frame is white";
    if (spread[0] < kBlankSpread)
        return "picture blank: nothing in view";
    return {};
}

std::string check_glass(const cv::Mat &grey, cv::Point2d centre, double radius_px)
{
    cv::Mat disc = cv::Mat::zeros(grey.size(), CV_8U);
    cv::circle(disc, cv::Point(cvRound(centre.x), cvRound(centre.y)), cvRound(radius_px), cv::Scalar(255), cv::FILLED);
    const double glass = cv::countNonZero(disc);
    if (glass <= 0)
        return "no glass in view";
    cv::Mat clipped;
    cv::threshold(grey, clipped, kClipLevel - 1, 255, cv::THRESH_BINARY);
    cv::bitwise_and(clipped, disc, clipped);
    if (cv::countNonZero(clipped) > kMaxClippedShare * glass)
        return "picture saturated: the glass is clipped white, lower the brightness";
    return {};
}

}  // namespace endface
