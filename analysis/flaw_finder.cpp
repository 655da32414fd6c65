#include "flaw_finder.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace endface {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kGrowZ = 2.5f;   // a flaw's pixels
constexpr float kSeedZ = 5.5f;   // a flaw must reach this somewhere
constexpr float kWideSeedZ = 4.0f;  // ...or this over a wide area
constexpr int kWideArea = 40;
// Least depth of a seed as a share of the face's level: the glass is smooth,
// the ceramic ferrule's grain reaches about a tenth of its level.
constexpr float kGlassContrast = 0.07f;
constexpr float kCeramicContrast = 0.16f;
constexpr int kMaxRegions = 400;
constexpr double kBandPx = 4.0;  // radial bands of the noise measure
constexpr int kReferenceWindow = 15;
constexpr float kCentreTolerancePx = 0.5f;

// Depth at the middle of a blurred disc of this radius, as a share of its true depth.
double disc_peak_share(double radius, double sigma)
{
    return 1.0 - std::exp(-radius * radius / (2 * sigma * sigma));
}

// The same for a blurred line of this width.
double line_peak_share(double width, double sigma)
{
    return std::erf(width / (2 * std::sqrt(2.0) * sigma));
}

// Sizes a region by its depth: the summed depth over the region and a rim
// as wide as the blur spreads it does not change with blur, the peak does.
void measure(FlawRegion &region, const FaceModel &model, const cv::Mat &smooth_depth, double sigma)
{
    const cv::Point offset(model.roi.x, model.roi.y);
    double peak = 0;
    for (const cv::Point &p : region.pixels)
        peak = std::max(peak, static_cast<double>(smooth_depth.at<float>(p - offset)));
    // Shape and position from the pixels above half the peak, so the rim
    // that hysteresis lets grow into the surface's grain does not count.
    std::vector<cv::Point> core;
    for (const cv::Point &p : region.pixels)
        if (smooth_depth.at<float>(p - offset) >= 0.5 * peak)
            core.push_back(p);
    if (core.empty())
        core = region.pixels;

    const cv::Rect box = cv::boundingRect(core);
    const int rim = static_cast<int>(std::ceil(2 * sigma)) + 1;
    cv::Rect grown(box.x - rim, box.y - rim, box.width + 2 * rim, box.height + 2 * rim);
    grown &= cv::Rect(offset, model.depth.size());
    cv::Mat mask = cv::Mat::zeros(grown.size(), CV_8U);
    for (const cv::Point &p : region.pixels)
        if (grown.contains(p) && smooth_depth.at<float>(p - offset) >= 0.25 * peak)
            mask.at<uint8_t>(p - grown.tl()) = 255;
    cv::dilate(mask, mask, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * rim + 1, 2 * rim + 1)));
    double sum = 0;
    for (int y = 0; y < grown.height; ++y)
        for (int x = 0; x < grown.width; ++x)
            if (mask.at<uint8_t>(y, x))
                sum += model.depth.at<float>(grown.tl() + cv::Point(x, y) - offset);

    double sx = 0, sy = 0, weight = 0;
    for (const cv::Point &p : core) {
        const double w = std::max(0.0f, smooth_depth.at<float>(p - offset));
        sx += w * p.x;
        sy += w * p.y;
        weight += w;
    }
    region.centre = weight > 0 ? cv::Point2d(sx / weight, sy / weight) : cv::Point2d(box.x, box.y);
    region.box = box;
    region.face_level = model.level.at<float>(cv::Point(cvRound(region.centre.x), cvRound(region.centre.y)) - offset);

    // Main axis from the spread of the core.
    double mx = 0, my = 0;
    for (const cv::Point &p : core) {
        mx += p.x;
        my += p.y;
    }
    mx /= core.size();
    my /= core.size();
    double cxx = 0, cyy = 0, cxy = 0;
    for (const cv::Point &p : core) {
        cxx += (p.x - mx) * (p.x - mx);
        cyy += (p.y - my) * (p.y - my);
        cxy += (p.x - mx) * (p.y - my);
    }
    cxx /= core.size();
    cyy /= core.size();
    cxy /= core.size();
    const double angle = 0.5 * std::atan2(2 * cxy, cxx - cyy);
    const double ux = std::cos(angle), uy = std::sin(angle);
    double lo = 1e9, hi = -1e9;
    for (const cv::Point &p : core) {
        const double along = (p.x - mx) * ux + (p.y - my) * uy;
        lo = std::min(lo, along);
        hi = std::max(hi, along);
    }
    region.length_px = hi - lo + 1;
    region.end_a = {mx + lo * ux, my + lo * uy};
    region.end_b = {mx + hi * ux, my + hi * uy};
    const double tr = cxx + cyy;
    const double det = cxx * cyy - cxy * cxy;
    const double root = std::sqrt(std::max(0.0, tr * tr / 4 - det));
    region.elongation = std::sqrt((tr / 2 + root + 1.0 / 12) / (tr / 2 - root + 1.0 / 12));

    const double s = std::sqrt(sigma * sigma + 2.0 / 3.0);  // optics and the 3x3 smoothing
    sum = std::max(sum, 0.0);
    double true_peak = std::max(peak, 1.0);
    const bool line = region.elongation >= 3.0;
    for (int i = 0; i < 8; ++i) {
        if (line) {
            const double width = sum / (true_peak * region.length_px);
            true_peak = peak / std::max(0.2, line_peak_share(width, s));
        } else {
            const double radius = std::sqrt(sum / (true_peak * kPi));
            true_peak = peak / std::max(0.2, disc_peak_share(radius, s));
        }
    }
    region.peak_depth = true_peak;
    region.area_px = sum / true_peak;
    region.width_px = region.area_px / region.length_px;
}

}  // namespace

std::vector<FlawRegion> find_flaws(const FaceModel &model, double cladding_radius_px, double outer_radius_px,
                                   double blur_sigma_px)
{
    cv::Mat smooth_depth;
    cv::blur(model.depth, smooth_depth, cv::Size(3, 3));
    // The noise is measured after the smoothing: blur and compression make
    // neighbouring pixels' noise alike, so smoothing lowers it less than for white noise.
    const std::vector<float> noise = band_noise(smooth_depth, model.radius_px, kBandPx, outer_radius_px);
    cv::Mat z(model.depth.size(), CV_32F);
    // Where the face changes steeply (the cladding's edge, the ring) the
    // centre's sub-pixel error alone leaves depth; that much is tolerated.
    for (int y = 0; y < z.rows; ++y) {
        const float *d = smooth_depth.ptr<float>(y);
        const float *r = model.radius_px.ptr<float>(y);
        const float *slope = model.slope.ptr<float>(y);
        float *o = z.ptr<float>(y);
        for (int x = 0; x < z.cols; ++x) {
            if (r[x] > outer_radius_px) {
                o[x] = 0.0f;
                continue;
            }
            const float n = noise[static_cast<size_t>(r[x] / kBandPx)];
            const float fit = kCentreTolerancePx * slope[x];
            o[x] = d[x] / std::sqrt(n * n + fit * fit);
        }
    }
    // The least depth of a seed, against the brighter of the face here and
    // nearby (a max ranking filter): beside the dark adhesive ring the grain
    // of the neighbouring ceramic and glass sets the scale, not the ring.
    cv::Mat reference;
    cv::dilate(model.level, reference, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kReferenceWindow, kReferenceWindow)));
    cv::Mat grow = z > kGrowZ;
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(grow, labels, stats, centroids, 8, CV_32S);

    // A seed must stand out from the noise and also from the surface's own
    // grain, which on the ceramic is coarser than any noise measure sees.
    std::vector<float> peak_z(count, 0.0f);
    for (int y = 0; y < z.rows; ++y) {
        const int *l = labels.ptr<int>(y);
        const float *v = z.ptr<float>(y);
        const float *d = smooth_depth.ptr<float>(y);
        const float *level = reference.ptr<float>(y);
        const float *r = model.radius_px.ptr<float>(y);
        for (int x = 0; x < z.cols; ++x) {
            if (l[x] <= 0)
                continue;
            const float floor = (r[x] < cladding_radius_px ? kGlassContrast : kCeramicContrast) * level[x];
            if (d[x] >= floor)
                peak_z[l[x]] = std::max(peak_z[l[x]], v[x]);
        }
    }
    std::vector<int> keep(count, -1);
    std::vector<FlawRegion> regions;
    for (int label = 1; label < count && static_cast<int>(regions.size()) < kMaxRegions; ++label) {
        const int area = stats.at<int>(label, cv::CC_STAT_AREA);
        if (peak_z[label] >= kSeedZ || (area >= kWideArea && peak_z[label] >= kWideSeedZ)) {
            keep[label] = static_cast<int>(regions.size());
            regions.emplace_back();
        }
    }
    const cv::Point offset(model.roi.x, model.roi.y);
    for (int y = 0; y < labels.rows; ++y) {
        const int *l = labels.ptr<int>(y);
        for (int x = 0; x < labels.cols; ++x)
            if (l[x] > 0 && keep[l[x]] >= 0) {
                FlawRegion &region = regions[keep[l[x]]];
                region.pixels.emplace_back(x + offset.x, y + offset.y);
                const double r = model.radius_px.at<float>(y, x);
                region.min_radius_px = region.pixels.size() == 1 ? r : std::min(region.min_radius_px, r);
            }
    }
    for (FlawRegion &region : regions) {
        measure(region, model, smooth_depth, blur_sigma_px);
        // The outline for drawing: the region's contour in picture coordinates.
        const cv::Rect all = cv::boundingRect(region.pixels);
        cv::Mat mask = cv::Mat::zeros(all.height + 2, all.width + 2, CV_8U);
        for (const cv::Point &p : region.pixels)
            mask.at<uint8_t>(p - all.tl() + cv::Point(1, 1)) = 255;
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE, all.tl() - cv::Point(1, 1));
        if (!contours.empty())
            region.outline = *std::max_element(contours.begin(), contours.end(),
                                               [](const auto &a, const auto &b) { return a.size() < b.size(); });
    }
    return regions;
}

}  // namespace endface
