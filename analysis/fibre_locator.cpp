#include "fibre_locator.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace endface {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRays = 180;
constexpr double kReducedSide = 240.0;  // the coarse search works on this shorter side
// Cladding radius as a share of the shorter side when the scale is not known.
constexpr double kMinRadiusShare = 0.04;
constexpr double kMaxRadiusShare = 0.45;
constexpr double kMinSupport = 0.55;
constexpr double kInlierPx = 2.0;
constexpr int kCandidates = 6;

struct EdgePoint {
    cv::Point2d at;
    double strength;  // fall in level across the edge, as a share of the glass level
    bool valid;
};

// Samples the image along a ray with bilinear interpolation; NaN outside.
double sample(const cv::Mat &grey, double x, double y)
{
    if (x < 0 || y < 0 || x > grey.cols - 1.001 || y > grey.rows - 1.001)
        return std::nan("");
    const int ix = static_cast<int>(x);
    const int iy = static_cast<int>(y);
    const double fx = x - ix;
    const double fy = y - iy;
    const uint8_t *r0 = grey.ptr<uint8_t>(iy);
    const uint8_t *r1 = grey.ptr<uint8_t>(iy + 1);
    return (r0[ix] * (1 - fx) + r0[ix + 1] * fx) * (1 - fy) + (r1[ix] * (1 - fx) + r1[ix + 1] * fx) * fy;
}

// The strongest bright-to-dark step going outwards between r0 and r1.
EdgePoint ray_edge(const cv::Mat &grey, cv::Point2d centre, double angle, double r0, double r1)
{
    const double step = 0.5;
    const double dx = std::cos(angle);
    const double dy = std::sin(angle);
    const int n = static_cast<int>((r1 - r0) / step) + 1;
    std::vector<double> profile(n);
    for (int i = 0; i < n; ++i) {
        const double r = r0 + i * step;
        profile[i] = sample(grey, centre.x + r * dx, centre.y + r * dy);
        if (std::isnan(profile[i]))
            return {{}, 0.0, false};
    }
    // A difference over +-2 px ignores single-pixel noise.
    const int span = 4;
    double best = 0.0;
    int best_i = -1;
    // One sample in from each end: the sub-sample step reads both neighbours.
    for (int i = span + 1; i + span + 1 < n; ++i) {
        const double fall = profile[i - span] - profile[i + span];
        if (fall > best) {
            best = fall;
            best_i = i;
        }
    }
    if (best_i < 0)
        return {{}, 0.0, false};
    // Sub-sample position: the parabola through the fall at best_i and its neighbours.
    const double a = profile[best_i - 1 - span] - profile[best_i - 1 + span];
    const double c = profile[best_i + 1 - span] - profile[best_i + 1 + span];
    const double denom = a - 2 * best + c;
    const double shift = denom < 0 ? std::clamp(0.5 * (a - c) / denom, -1.0, 1.0) : 0.0;
    const double r = r0 + (best_i + shift) * step;
    const double glass = std::max(1.0, profile[std::max(0, best_i - 3 * span)]);
    return {{centre.x + r * dx, centre.y + r * dy}, best / glass, true};
}

// Algebraic (Kasa) circle fit.
bool fit_circle(const std::vector<cv::Point2d> &points, cv::Point2d &centre, double &radius)
{
    if (points.size() < 3)
        return false;
    cv::Mat a(static_cast<int>(points.size()), 3, CV_64F);
    cv::Mat b(static_cast<int>(points.size()), 1, CV_64F);
    for (size_t i = 0; i < points.size(); ++i) {
        a.at<double>(static_cast<int>(i), 0) = points[i].x;
        a.at<double>(static_cast<int>(i), 1) = points[i].y;
        a.at<double>(static_cast<int>(i), 2) = 1.0;
        b.at<double>(static_cast<int>(i), 0) = -(points[i].x * points[i].x + points[i].y * points[i].y);
    }
    cv::Mat solution;
    if (!cv::solve(a, b, solution, cv::DECOMP_SVD))
        return false;
    const double d = solution.at<double>(0), e = solution.at<double>(1), f = solution.at<double>(2);
    centre = {-d / 2, -e / 2};
    const double r2 = centre.x * centre.x + centre.y * centre.y - f;
    if (r2 <= 0)
        return false;
    radius = std::sqrt(r2);
    return true;
}

struct Refined {
    cv::Point2d centre;
    double radius = 0.0;
    double support = 0.0;
    int rays_in_view = 0;
};

// Edges along rays from a proposal, then a fit that drops outliers twice.
Refined refine(const cv::Mat &grey, cv::Point2d centre, double radius)
{
    Refined out{centre, radius, 0.0, 0};
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<EdgePoint> edges;
        const double r0 = out.radius * (pass == 0 ? 0.8 : 0.93);
        const double r1 = out.radius * (pass == 0 ? 1.2 : 1.07);
        int in_view = 0;
        for (int k = 0; k < kRays; ++k) {
            const EdgePoint edge = ray_edge(grey, out.centre, 2 * kPi * k / kRays, r0, r1);
            if (edge.valid)
                ++in_view;
            // A real boundary drops by at least a fifth of the glass level.
            if (edge.valid && edge.strength > 0.2)
                edges.push_back(edge);
        }
        std::vector<cv::Point2d> points;
        for (const EdgePoint &edge : edges)
            points.push_back(edge.at);
        cv::Point2d c = out.centre;
        double r = out.radius;
        for (int round = 0; round < 3 && fit_circle(points, c, r); ++round) {
            std::vector<cv::Point2d> kept;
            for (const cv::Point2d &p : points)
                if (std::fabs(std::hypot(p.x - c.x, p.y - c.y) - r) < kInlierPx * (round == 0 ? 3 : 1))
                    kept.push_back(p);
            points.swap(kept);
        }
        if (points.size() < 10 || !(r > 0))
            return out;
        out.centre = c;
        out.radius = r;
        out.rays_in_view = in_view;
        out.support = in_view > 0 ? static_cast<double>(points.size()) / in_view : 0.0;
    }
    return out;
}

// Width of the boundary: mean profile across it gives the blur as a Gaussian sigma.
double edge_sigma(const cv::Mat &grey, cv::Point2d centre, double radius)
{
    const double step = 0.25;
    const int half = 24;  // +-6 px
    std::vector<double> profile(2 * half + 1, 0.0);
    std::vector<int> counts(profile.size(), 0);
    for (int k = 0; k < kRays; ++k) {
        const double angle = 2 * kPi * k / kRays;
        for (int i = -half; i <= half; ++i) {
            const double r = radius + i * step;
            const double v = sample(grey, centre.x + r * std::cos(angle), centre.y + r * std::sin(angle));
            if (!std::isnan(v)) {
                profile[i + half] += v;
                ++counts[i + half];
            }
        }
    }
    for (size_t i = 0; i < profile.size(); ++i)
        profile[i] = counts[i] ? profile[i] / counts[i] : 0.0;
    // The 25-75 % rise of a blurred step spans 1.35 sigma.
    const double high = profile.front();
    const double low = *std::min_element(profile.begin() + half, profile.end());
    if (high - low < 10)
        return 1.0;
    auto crossing = [&](double level) {
        for (int i = 1; i <= half + half / 2 && i < static_cast<int>(profile.size()); ++i)
            if (profile[i] <= level)
                return (i - 1 + (profile[i - 1] - level) / std::max(1e-6, profile[i - 1] - profile[i])) * step;
        return 0.0;
    };
    const double spread = crossing(low + 0.25 * (high - low)) - crossing(low + 0.75 * (high - low));
    return std::clamp(spread / 1.35, 0.3, 4.0);
}

}  // namespace

FibreFit locate_fibre(const cv::Mat &grey, std::optional<double> expected_radius_px)
{
    FibreFit fit;
    const int side = std::min(grey.cols, grey.rows);
    const double factor = std::max(1.0, side / kReducedSide);
    cv::Mat reduced;
    cv::resize(grey, reduced, cv::Size(), 1.0 / factor, 1.0 / factor, cv::INTER_AREA);
    cv::GaussianBlur(reduced, reduced, cv::Size(5, 5), 1.2);

    double min_r = kMinRadiusShare * side;
    double max_r = kMaxRadiusShare * side;
    if (expected_radius_px) {
        min_r = 0.85 * *expected_radius_px;
        max_r = 1.15 * *expected_radius_px;
    }
    std::vector<cv::Vec3f> circles;
    cv::HoughCircles(reduced, circles, cv::HOUGH_GRADIENT, 1.0, std::max(4.0, min_r / factor), 60.0, 14.0,
                     std::max(2, static_cast<int>(min_r / factor)), static_cast<int>(max_r / factor + 1));
    if (circles.size() > static_cast<size_t>(kCandidates))
        circles.resize(kCandidates);

    Refined best;
    for (const cv::Vec3f &circle : circles) {
        const Refined refined = refine(grey, {circle[0] * factor, circle[1] * factor}, circle[2] * factor);
        if (refined.radius < min_r * 0.9 || refined.radius > max_r * 1.1)
            continue;
        if (refined.support > best.support)
            best = refined;
    }
    if (best.support < kMinSupport || best.rays_in_view < kRays / 3) {
        fit.problem = "no fibre found: no round cladding edge in view";
        return fit;
    }
    fit.found = true;
    fit.centre = best.centre;
    fit.radius_px = best.radius;
    fit.support = best.support;
    fit.edge_sigma_px = edge_sigma(grey, best.centre, best.radius);
    return fit;
}

}  // namespace endface
