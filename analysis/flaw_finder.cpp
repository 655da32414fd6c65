#include "flaw_finder.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>

namespace endface {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kGrowZ = 2.5f;      // a flaw's pixels
constexpr float kSeedZ = 5.5f;      // a flaw must reach this somewhere
constexpr float kWideSeedZ = 4.0f;  // ...or this over a wide area
constexpr int kWideArea = 40;
// Least depth of a seed as a share of the face's level: the glass is smooth,
// the ceramic ferrule's grain reaches about a tenth of its level.
constexpr float kGlassContrast = 0.07f;
constexpr float kCeramicContrast = 0.16f;
constexpr int kMaxRegions = 400;
// Main axis over cross axis from which a region is measured as a line.
constexpr double kLineElongation = 3.0;
constexpr double kBandPx = 4.0;  // radial bands of the noise measure
// Grey levels; sizes divide by a depth, so none below this is measured.
constexpr double kMinMeasurableDepth = 1.0;
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

// A line's width from its cross-section averaged along its middle part:
// the averaging cancels the noise that a single pixel's peak carries. False
// when that part holds no depth to measure (its seeds lie at the ends).
bool measure_line(FlawRegion &region, const FaceModel &model, const cv::Mat &mask, const cv::Rect &grown,
                  cv::Point2d middle, cv::Point2d axis, double lo, double hi, double sigma)
{
    constexpr double kBin = 0.5;
    const double reach = (grown.width + grown.height) / 2.0;
    const int bins = static_cast<int>(2 * reach / kBin) + 1;
    std::vector<double> sum(bins, 0.0);
    std::vector<int> count(bins, 0);
    const double keep_lo = lo + 0.15 * (hi - lo);
    const double keep_hi = hi - 0.15 * (hi - lo);
    const cv::Point offset(model.roi.x, model.roi.y);
    for (int y = 0; y < grown.height; ++y)
        for (int x = 0; x < grown.width; ++x) {
            if (!mask.at<uint8_t>(y, x))
                continue;
            const cv::Point p = grown.tl() + cv::Point(x, y);
            const double along = (p.x - middle.x) * axis.x + (p.y - middle.y) * axis.y;
            const double across = -(p.x - middle.x) * axis.y + (p.y - middle.y) * axis.x;
            if (along < keep_lo || along > keep_hi)
                continue;
            const int bin = static_cast<int>((across + reach) / kBin);
            if (bin < 0 || bin >= bins)
                continue;
            sum[bin] += model.depth.at<float>(p - offset);
            ++count[bin];
        }
    std::vector<double> profile(bins, 0.0);
    for (int i = 0; i < bins; ++i)
        profile[i] = count[i] ? sum[i] / count[i] : 0.0;
    double area = 0, peak = 0;
    for (int i = 0; i < bins; ++i) {
        area += profile[i] * kBin;
        if (i > 0 && i + 1 < bins)
            peak = std::max(peak, (profile[i - 1] + profile[i] + profile[i + 1]) / 3.0);
    }
    if (peak < kMinMeasurableDepth)
        return false;
    area = std::max(area, 0.0);
    double true_peak = peak;
    for (int i = 0; i < 8; ++i)
        true_peak = peak / std::max(0.2, line_peak_share(area / true_peak, sigma));
    region.peak_depth = true_peak;
    region.width_px = area / true_peak;
    region.area_px = region.width_px * region.length_px;
    return true;
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

    sum = std::max(sum, 0.0);
    if (region.elongation >= kLineElongation &&
        measure_line(region, model, mask, grown, {mx, my}, {ux, uy}, lo, hi, sigma))
        return;
    // The highest pixel alone sits on the noise's high side: the depth of a
    // blob is the mean of its top tenth.
    std::vector<float> depths;
    for (const cv::Point &p : core)
        depths.push_back(smooth_depth.at<float>(p - offset));
    std::sort(depths.begin(), depths.end(), std::greater<float>());
    const size_t top = std::max<size_t>(1, depths.size() / 10);
    double total = 0;
    for (size_t i = 0; i < top; ++i)
        total += depths[i];
    peak = std::max(total / top, kMinMeasurableDepth);
    const double s = std::sqrt(sigma * sigma + 2.0 / 3.0);  // optics and the 3x3 smoothing
    double true_peak = peak;
    for (int i = 0; i < 8; ++i) {
        const double radius = std::sqrt(sum / (true_peak * kPi));
        true_peak = peak / std::max(0.2, disc_peak_share(radius, s));
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
    cv::dilate(model.level, reference,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kReferenceWindow, kReferenceWindow)));
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

void join_across_ring(std::vector<FlawRegion> &regions, cv::Point2d centre, double cladding_radius_px,
                      double ring_reach_px, double gap_px)
{
    auto near_ring = [&](const FlawRegion &region) {
        for (const cv::Point &p : region.outline) {
            const double r = std::hypot(p.x - centre.x, p.y - centre.y);
            if (r > cladding_radius_px - gap_px && r < cladding_radius_px + ring_reach_px)
                return true;
        }
        return false;
    };
    auto close = [&](const FlawRegion &a, const FlawRegion &b) {
        const cv::Rect wide(a.box.x - static_cast<int>(gap_px) - 2, a.box.y - static_cast<int>(gap_px) - 2,
                            a.box.width + 2 * static_cast<int>(gap_px) + 4,
                            a.box.height + 2 * static_cast<int>(gap_px) + 4);
        if ((wide & cv::boundingRect(b.outline)).empty())
            return false;
        for (const cv::Point &p : a.outline)
            for (const cv::Point &q : b.outline)
                if (std::hypot(p.x - q.x, p.y - q.y) <= gap_px)
                    return true;
        return false;
    };
    for (size_t i = 0; i < regions.size(); ++i) {
        if (regions[i].elongation >= kLineElongation || !near_ring(regions[i]))
            continue;
        for (size_t j = i + 1; j < regions.size();) {
            FlawRegion &a = regions[i];
            const FlawRegion &b = regions[j];
            if (b.elongation >= kLineElongation || !near_ring(b) || !close(a, b)) {
                ++j;
                continue;
            }
            const double total = a.area_px + b.area_px;
            a.centre = (a.centre * a.area_px + b.centre * b.area_px) / std::max(total, 1e-9);
            a.pixels.insert(a.pixels.end(), b.pixels.begin(), b.pixels.end());
            std::vector<cv::Point> both = a.outline;
            both.insert(both.end(), b.outline.begin(), b.outline.end());
            cv::convexHull(both, a.outline);
            a.box = cv::boundingRect(a.outline);
            a.min_radius_px = std::min(a.min_radius_px, b.min_radius_px);
            a.area_px = total;
            a.length_px = std::max(a.length_px, b.length_px);
            a.width_px = a.area_px / a.length_px;
            regions.erase(regions.begin() + static_cast<long>(j));
            j = i + 1;  // the grown region may now reach one passed over
        }
    }
}

}  // namespace endface
