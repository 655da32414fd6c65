#include "annotated_image.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace endface {

namespace {

// Sub-pixel positions for OpenCV's drawing calls: coordinates times 16.
constexpr int kShift = 4;
constexpr double kOne = 1 << kShift;

// Far beyond any picture, yet well inside int once shifted: a mark from an
// absurd scale is clipped instead of overflowing.
constexpr double kFarPx = 1 << 20;

int fixed(double value)
{
    const double clamped = std::isfinite(value) ? std::clamp(value, -kFarPx, kFarPx) : 0.0;
    return static_cast<int>(std::lround(clamped * kOne));
}

cv::Point fixed(cv::Point2d p)
{
    return {fixed(p.x), fixed(p.y)};
}

// Sizes of lines and text that read the same on a small and a large picture.
struct Pen {
    explicit Pen(const cv::Mat &image)
    {
        const double side = std::min(image.cols, image.rows);
        thickness = std::max(1, static_cast<int>(std::lround(side / 400.0)));
        font_scale = std::max(0.4, side / 900.0);
        margin = 4 * thickness;
    }
    int thickness;
    double font_scale;
    int margin;
};

const int kFont = cv::FONT_HERSHEY_SIMPLEX;

cv::Mat three_channels(const cv::Mat &image)
{
    cv::Mat eight_bit = image;
    if (image.depth() != CV_8U)
        image.convertTo(eight_bit, CV_8U);
    cv::Mat out;
    switch (eight_bit.channels()) {
    case 1:
        cv::cvtColor(eight_bit, out, cv::COLOR_GRAY2BGR);
        break;
    case 4:
        cv::cvtColor(eight_bit, out, cv::COLOR_BGRA2BGR);
        break;
    default:
        out = eight_bit.clone();
    }
    return out;
}

void draw_zones(cv::Mat &out, const InspectionResult &result, const Pen &pen)
{
    const double um_per_px = result.fibre.um_per_px;
    for (size_t i = 0; i < result.zones.size(); ++i) {
        const double radius_px = result.zones[i].outer_diameter_um / 2.0 / um_per_px;
        cv::circle(out, fixed(result.fibre.centre_px), fixed(radius_px), zone_colour_bgr(static_cast<int>(i)),
                   pen.thickness, cv::LINE_AA, kShift);
    }
}

// A ring just outside the defect, so that the defect itself stays visible
// and a speck of two pixels is still found at a glance.
void draw_defects(cv::Mat &out, const InspectionResult &result, const Pen &pen)
{
    for (const Defect &defect : result.defects) {
        const double half_diagonal = std::hypot(defect.bounding_box_px.width, defect.bounding_box_px.height) / 2.0;
        const double radius = std::max(half_diagonal + 3.0 * pen.thickness, 6.0 * pen.thickness);
        cv::circle(out, fixed(defect.centre_px), fixed(radius), kDefectColourBgr, pen.thickness, cv::LINE_AA, kShift);
    }
}

// Two lines along each side of the scratch rather than over it.
void draw_scratches(cv::Mat &out, const InspectionResult &result, const Pen &pen)
{
    for (const Scratch &scratch : result.scratches) {
        const double width_px = scratch.width_um / result.fibre.um_per_px;
        const double offset = width_px / 2.0 + 2.0 * pen.thickness;
        for (size_t i = 1; i < scratch.polyline_px.size(); ++i) {
            const cv::Point2d a = scratch.polyline_px[i - 1];
            const cv::Point2d b = scratch.polyline_px[i];
            const double length = std::hypot(b.x - a.x, b.y - a.y);
            if (length <= 0.0)
                continue;
            const cv::Point2d normal((a.y - b.y) / length * offset, (b.x - a.x) / length * offset);
            for (double side : {1.0, -1.0})
                cv::line(out, fixed(a + side * normal), fixed(b + side * normal), kScratchColourBgr, pen.thickness,
                         cv::LINE_AA, kShift);
        }
    }
}

// Splits text into lines no wider than width pixels at this scale.
std::vector<std::string> wrap(const std::string &text, double scale, int thickness, int width)
{
    std::vector<std::string> lines;
    std::string line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        const std::string candidate = line.empty() ? word : line + " " + word;
        int baseline = 0;
        if (!line.empty() && cv::getTextSize(candidate, kFont, scale, thickness, &baseline).width > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
        start = end + 1;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// Lines of text on a filled box from (x, y) downwards; returns the box's bottom.
int draw_box(cv::Mat &out, int x, int y, const std::vector<std::string> &lines, double scale, int thickness,
             cv::Scalar background, const Pen &pen)
{
    if (lines.empty())
        return y;
    int baseline = 0;
    const int line_height = cv::getTextSize("Ag", kFont, scale, thickness, &baseline).height + baseline + pen.margin;
    int width = 0;
    for (const std::string &line : lines)
        width = std::max(width, cv::getTextSize(line, kFont, scale, thickness, &baseline).width);
    const cv::Rect box(x, y, width + 2 * pen.margin, static_cast<int>(lines.size()) * line_height + pen.margin);
    cv::rectangle(out, box, background, cv::FILLED);
    for (size_t i = 0; i < lines.size(); ++i) {
        const int text_y = y + pen.margin + static_cast<int>(i + 1) * line_height - baseline - pen.margin;
        cv::putText(out, lines[i], {x + pen.margin, text_y}, kFont, scale, cv::Scalar(255, 255, 255), thickness,
                    cv::LINE_AA);
    }
    return box.y + box.height;
}

void draw_verdict(cv::Mat &out, const InspectionResult &result, const Pen &pen)
{
    const int x = pen.margin;
    const double big = pen.font_scale * 1.4;
    int y = draw_box(out, x, pen.margin, {verdict_label(result.overall)}, big, pen.thickness + 1,
                     verdict_colour_bgr(result.overall), pen);

    std::vector<std::string> details;
    const int width = out.cols * 2 / 3;
    if (result.overall == Verdict::CannotInspect) {
        details = wrap(result.cannot_inspect_reason, pen.font_scale, pen.thickness, width);
    } else {
        for (const ZoneVerdict &zone : result.zone_verdicts)
            for (const std::string &reason : zone.reasons)
                for (const std::string &line : wrap(zone.zone + ": " + reason, pen.font_scale, pen.thickness, width))
                    details.push_back(line);
    }
    if (!details.empty())
        draw_box(out, x, y, details, pen.font_scale, pen.thickness, cv::Scalar(40, 40, 40), pen);
}

// Which colour is which zone, and the scale the sizes are in.
void draw_legend(cv::Mat &out, const InspectionResult &result, const Pen &pen)
{
    const double scale = pen.font_scale * 0.8;
    int baseline = 0;
    const int height = cv::getTextSize("Ag", kFont, scale, pen.thickness, &baseline).height;
    int x = pen.margin;
    const int y = out.rows - pen.margin - baseline;
    const auto put = [&](const std::string &text, cv::Scalar colour) {
        cv::putText(out, text, {x, y}, kFont, scale, colour, pen.thickness, cv::LINE_AA);
        x += cv::getTextSize(text, kFont, scale, pen.thickness, &baseline).width + 2 * pen.margin;
    };
    // Darkened, not covered: the band may cross the contact zone.
    const int top = std::max(0, y - height - pen.margin);
    cv::Mat band = out.rowRange(top, out.rows);
    band.convertTo(band, -1, 0.35);
    for (size_t i = 0; i < result.zones.size(); ++i)
        put(result.zones[i].name + " " + result.zones[i].role, zone_colour_bgr(static_cast<int>(i)));
    put("defect", kDefectColourBgr);
    put("scratch", kScratchColourBgr);
    char text[64];
    std::snprintf(text, sizeof text, "%.3f um/px (%s)", result.fibre.um_per_px, to_string(result.fibre.scale_source));
    put(text, cv::Scalar(255, 255, 255));
}

}  // namespace

cv::Scalar zone_colour_bgr(int zone_index)
{
    static const cv::Scalar colours[] = {
        cv::Scalar(255, 255, 0),  // A: cyan
        cv::Scalar(0, 255, 0),    // B: green
        cv::Scalar(0, 255, 255),  // C: yellow
        cv::Scalar(255, 0, 255),  // D: magenta
    };
    const int count = static_cast<int>(sizeof colours / sizeof colours[0]);
    return colours[((zone_index % count) + count) % count];
}

cv::Scalar verdict_colour_bgr(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return cv::Scalar(0, 150, 0);
    case Verdict::Fail:
        return cv::Scalar(0, 0, 210);
    case Verdict::CannotInspect:
        break;
    }
    return cv::Scalar(100, 100, 100);
}

const char *verdict_label(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "PASS";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::CannotInspect:
        break;
    }
    return "CANNOT INSPECT";
}

cv::Mat annotate(const cv::Mat &image, const InspectionResult &result)
{
    if (image.empty())
        return cv::Mat();
    cv::Mat out = three_channels(image);
    const Pen pen(out);
    if (result.fibre.um_per_px > 0.0 && std::isfinite(result.fibre.um_per_px)) {
        draw_zones(out, result, pen);
        draw_defects(out, result, pen);
        draw_scratches(out, result, pen);
        draw_legend(out, result, pen);
    }
    draw_verdict(out, result, pen);
    return out;
}

}  // namespace endface
