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
// A pixel within this share of the first lighting estimate shapes the final one.
constexpr float kFitShare = 0.04f;
constexpr float kMinLight = 1e-3f;

// Medians per bin from histograms: linear in the pixel count, with no
// per-bin lists to sort. Values are held to a fixed resolution.
class BinnedMedian {
public:
    BinnedMedian(int bins, float resolution, int buckets)
        : buckets_(buckets), resolution_(resolution), counts_(static_cast<size_t>(bins) * buckets, 0), totals_(bins, 0)
    {
    }
    void add(int bin, float value)
    {
        const int bucket = std::clamp(static_cast<int>(value / resolution_), 0, buckets_ - 1);
        ++counts_[static_cast<size_t>(bin) * buckets_ + bucket];
        ++totals_[bin];
    }
    int count(int bin) const { return totals_[bin]; }
    float median(int bin) const
    {
        const int *h = &counts_[static_cast<size_t>(bin) * buckets_];
        const int half = totals_[bin] / 2;
        int seen = 0;
        for (int i = 0; i < buckets_; ++i) {
            seen += h[i];
            if (seen > half)
                return (i + 0.5f) * resolution_;
        }
        return (buckets_ - 0.5f) * resolution_;
    }

private:
    int buckets_;
    float resolution_;
    std::vector<int> counts_;
    std::vector<int> totals_;
};

constexpr float kLevelResolution = 0.25f;  // grey levels
constexpr int kLevelBuckets = 1100;        // up to 275, past any 8-bit level times light

std::vector<float> radial_median(const cv::Mat &values, const cv::Mat &bins, int bin_count)
{
    BinnedMedian medians(bin_count, kLevelResolution, kLevelBuckets);
    for (int y = 0; y < values.rows; ++y) {
        const float *v = values.ptr<float>(y);
        const int *b = bins.ptr<int>(y);
        for (int x = 0; x < values.cols; ++x)
            if (b[x] < bin_count)
                medians.add(b[x], v[x]);
    }
    std::vector<float> profile(bin_count, 0.0f);
    float last = 0.0f;
    for (int i = 0; i < bin_count; ++i)
        profile[i] = last = medians.count(i) > 0 ? medians.median(i) : last;
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

// The smooth lighting field: picture over radial model, averaged per cell
// over the pixels that fit (all when fit is empty) and median-filtered so
// that a flaw does not bend it.
cv::Mat lighting(const cv::Mat &picture, const cv::Mat &radial, const cv::Mat &fit)
{
    cv::Mat ratio;
    cv::divide(picture, cv::max(radial, 1.0f), ratio);
    const cv::Size cells((picture.cols + kLightCell - 1) / kLightCell, (picture.rows + kLightCell - 1) / kLightCell);
    cv::Mat coarse;
    if (fit.empty()) {
        cv::resize(ratio, coarse, cells, 0, 0, cv::INTER_AREA);
    } else {
        cv::Mat weight, weighted, coarse_weight;
        fit.convertTo(weight, CV_32F, 1.0 / 255.0);
        cv::resize(ratio.mul(weight), weighted, cells, 0, 0, cv::INTER_AREA);
        cv::resize(weight, coarse_weight, cells, 0, 0, cv::INTER_AREA);
        // A cell with no fitting pixel keeps the plain average.
        cv::Mat plain;
        cv::resize(ratio, plain, cells, 0, 0, cv::INTER_AREA);
        coarse = plain.clone();
        for (int y = 0; y < cells.height; ++y)
            for (int x = 0; x < cells.width; ++x)
                if (coarse_weight.at<float>(y, x) > 0.05f)
                    coarse.at<float>(y, x) = weighted.at<float>(y, x) / coarse_weight.at<float>(y, x);
    }
    if (coarse.cols >= 5 && coarse.rows >= 5)
        cv::medianBlur(coarse, coarse, 5);
    cv::Mat field;
    cv::resize(coarse, field, picture.size(), 0, 0, cv::INTER_LINEAR);
    // The picture is divided by the field: a black region must not make that 0/0.
    return cv::max(field, kMinLight);
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
    model.radius_px.create(picture.size(), CV_32F);
    cv::Mat bins(picture.size(), CV_32S);
    for (int y = 0; y < bins.rows; ++y) {
        float *r = model.radius_px.ptr<float>(y);
        int *b = bins.ptr<int>(y);
        const double dy = y - model.centre.y;
        for (int x = 0; x < bins.cols; ++x) {
            const double dx = x - model.centre.x;
            r[x] = static_cast<float>(std::sqrt(dx * dx + dy * dy));
            b[x] = std::max(kCentreBin, static_cast<int>(r[x] + 0.5f));
        }
    }

    cv::Mat radial = profile_image(radial_median(picture, bins, bin_count), bins);
    cv::Mat field = lighting(picture, radial, cv::Mat());
    cv::Mat flattened;
    cv::divide(picture, field, flattened);
    const std::vector<float> profile = radial_median(flattened, bins, bin_count);
    radial = profile_image(profile, bins);
    // The final field leaves out pixels far off the first one (flaws, the
    // steep edges), which would pull the light down around a long scratch.
    cv::Mat ratio;
    cv::divide(picture, cv::max(radial, 1.0f), ratio);
    const cv::Mat fit = cv::abs(ratio - field) < kFitShare * field;
    field = lighting(picture, radial, fit);
    model.level = radial.mul(field);
    std::vector<float> slope(profile.size(), 0.0f);
    for (size_t i = 1; i + 1 < profile.size(); ++i)
        slope[i] = std::max(std::fabs(profile[i + 1] - profile[i]), std::fabs(profile[i] - profile[i - 1]));
    model.slope = profile_image(slope, bins).mul(field);
    model.depth = model.level - picture;
    return model;
}

std::vector<float> band_noise(const cv::Mat &values, const cv::Mat &radius_px, double band_px, double outer_radius_px)
{
    constexpr float kResolution = 0.05f;
    constexpr int kBuckets = 2000;
    const int bands = static_cast<int>(outer_radius_px / band_px) + 2;
    BinnedMedian medians(bands, kResolution, kBuckets);
    for (int y = 0; y < values.rows; ++y) {
        const float *v = values.ptr<float>(y);
        const float *r = radius_px.ptr<float>(y);
        for (int x = 0; x < values.cols; ++x) {
            const int band = static_cast<int>(r[x] / band_px);
            if (band < bands)
                medians.add(band, std::fabs(v[x]));
        }
    }
    std::vector<float> noise(bands, 1.0f);
    float last = 1.0f;
    for (int i = 0; i < bands; ++i) {
        if (medians.count(i) < 16) {
            noise[i] = last;
            continue;
        }
        noise[i] = last = std::max(0.5f, 1.4826f * medians.median(i));
    }
    return noise;
}

}  // namespace endface
