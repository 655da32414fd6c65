#include "face_model.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace endface {

namespace {

constexpr int kLightCell = 16;  // px per cell of the lighting field
// Bins nearer the centre than this hold too few pixels for a median that a
// flaw on the core cannot sway; they share one bin, inside the core at every
// usable scale.
constexpr int kCentreBin = 6;

// Median of the values in each 1 px radius bin.
std::vector<float> radial_median(const cv::Mat &values, const cv::Mat &bins, int bin_count)
{
    std::vector<std::vector<float>> by_bin(bin_count);
    for (int y = 0; y < values.rows; ++y) {
        const float *v = values.ptr<float>(y);
        const int *b = bins.ptr<int>(y);
        for (int x = 0; x < values.cols; ++x)
            if (b[x] < bin_count)
                by_bin[b[x]].push_back(v[x]);
    }
    std::vector<float> profile(bin_count, 0.0f);
    float last = 0.0f;
    for (int i = 0; i < bin_count; ++i) {
        std::vector<float> &bin = by_bin[i];
        if (bin.empty()) {
            profile[i] = last;
            continue;
        }
        std::nth_element(bin.begin(), bin.begin() + bin.size() / 2, bin.end());
        profile[i] = last = bin[bin.size() / 2];
    }
    return profile;
}

cv::Mat profile_image(const std::vector<float> &profile, const cv::Mat &bins)
{
    cv::Mat out(bins.size(), CV_32F);
    for (int y = 0; y < bins.rows; ++y) {
        const int *b = bins.ptr<int>(y);
        float *o = out.ptr<float>(y);
        for (int x = 0; x < bins.cols; ++x)
            o[x] = profile[std::min<int>(b[x], static_cast<int>(profile.size()) - 1)];
    }
    return out;
}

// The smooth lighting field: picture over radial model, averaged per cell and
// median-filtered so that a flaw does not bend it.
cv::Mat lighting(const cv::Mat &picture, const cv::Mat &radial)
{
    cv::Mat ratio;
    cv::divide(picture, cv::max(radial, 1.0f), ratio);
    const cv::Size cells((picture.cols + kLightCell - 1) / kLightCell, (picture.rows + kLightCell - 1) / kLightCell);
    cv::Mat coarse;
    cv::resize(ratio, coarse, cells, 0, 0, cv::INTER_AREA);
    if (coarse.cols >= 5 && coarse.rows >= 5)
        cv::medianBlur(coarse, coarse, 5);
    cv::Mat field;
    cv::resize(coarse, field, picture.size(), 0, 0, cv::INTER_LINEAR);
    return field;
}

}  // namespace

FaceModel model_face(const cv::Mat &grey, cv::Point2d centre, double outer_radius_px)
{
    FaceModel model;
    const cv::Rect wanted(cvFloor(centre.x - outer_radius_px), cvFloor(centre.y - outer_radius_px),
                          cvCeil(2 * outer_radius_px) + 1, cvCeil(2 * outer_radius_px) + 1);
    model.roi = wanted & cv::Rect(0, 0, grey.cols, grey.rows);
    model.centre = centre - cv::Point2d(model.roi.x, model.roi.y);
    cv::Mat picture;
    grey(model.roi).convertTo(picture, CV_32F);

    const int bin_count = static_cast<int>(outer_radius_px) + 2;
    cv::Mat bins(picture.size(), CV_32S);
    for (int y = 0; y < bins.rows; ++y) {
        int *b = bins.ptr<int>(y);
        for (int x = 0; x < bins.cols; ++x)
            b[x] = std::max(kCentreBin,
                            static_cast<int>(std::hypot(x + 0.5 - model.centre.x, y + 0.5 - model.centre.y) + 0.5));
    }

    cv::Mat radial = profile_image(radial_median(picture, bins, bin_count), bins);
    cv::Mat field = lighting(picture, radial);
    cv::Mat flattened;
    cv::divide(picture, field, flattened);
    radial = profile_image(radial_median(flattened, bins, bin_count), bins);
    field = lighting(picture, radial);
    model.level = radial.mul(field);
    model.depth = model.level - picture;

    return model;
}

std::vector<float> band_noise(const cv::Mat &values, cv::Point2d centre, double band_px, double outer_radius_px)
{
    const int bands = static_cast<int>(outer_radius_px / band_px) + 2;
    std::vector<std::vector<float>> by_band(bands);
    for (int y = 0; y < values.rows; ++y) {
        const float *v = values.ptr<float>(y);
        for (int x = 0; x < values.cols; ++x) {
            const int band = static_cast<int>(std::hypot(x + 0.5 - centre.x, y + 0.5 - centre.y) / band_px);
            if (band < bands)
                by_band[band].push_back(std::fabs(v[x]));
        }
    }
    std::vector<float> noise(bands, 1.0f);
    float last = 1.0f;
    for (int i = 0; i < bands; ++i) {
        std::vector<float> &band = by_band[i];
        if (band.size() < 16) {
            noise[i] = last;
            continue;
        }
        std::nth_element(band.begin(), band.begin() + band.size() / 2, band.end());
        noise[i] = last = std::max(0.5f, 1.4826f * band[band.size() / 2]);
    }
    return noise;
}

}  // namespace endface
