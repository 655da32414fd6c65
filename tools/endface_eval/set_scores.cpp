#include "set_scores.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace evaluation {

namespace {

constexpr double kAgreementTarget = 0.97;
constexpr double kKeyDefectUm = 3.0;

struct Segment {
    double x0, y0, x1, y1;
};

double distance_to_segment(double px, double py, const Segment &s)
{
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((px - s.x0) * dx + (py - s.y0) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(px - (s.x0 + t * dx), py - (s.y0 + t * dy));
}

double angle_between(const Segment &a, const Segment &b)
{
    const double ta = std::atan2(a.y1 - a.y0, a.x1 - a.x0);
    const double tb = std::atan2(b.y1 - b.y0, b.x1 - b.x0);
    double d = std::fmod(std::fabs(ta - tb), M_PI);
    return std::min(d, M_PI - d);
}

std::vector<double> magnitudes(std::vector<double> values)
{
    for (double &v : values)
        v = std::fabs(v);
    return values;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * (values.size() - 1) + 0.5));
    return values[at];
}

std::string percent(int part, int whole)
{
    char text[48];
    if (whole == 0)
        std::snprintf(text, sizeof text, "n/a (0)");
    else
        std::snprintf(text, sizeof text, "%.1f %% (%d/%d)", 100.0 * part / whole, part, whole);
    return text;
}

std::string zone_name(const endface::InspectionResult &result, int zone)
{
    return zone >= 0 && zone < static_cast<int>(result.zones.size()) ? result.zones[zone].name : "";
}

}  // namespace

std::string SetScores::add(const nlohmann::json &truth, const endface::InspectionResult &result, int width, int height,
                           double ms, double cpu_ms)
{
    ++images_;
    if (width == 1280 && height == 960) {
        frame_ms_.push_back(ms);
        frame_cpu_ms_.push_back(cpu_ms);
    }
    const std::string truth_verdict = truth.value("verdict", "");
    const std::string found_verdict = endface::to_string(result.overall);
    std::string note;
    if (truth_verdict == found_verdict) {
        ++agreeing_;
    } else {
        if (found_verdict == "pass")
            ++false_passes_;
        else if (truth_verdict == "pass")
            ++false_fails_;
        note = "truth " + truth_verdict + ", found " + found_verdict +
               (result.cannot_inspect_reason.empty() ? "" : " (" + result.cannot_inspect_reason + ")");
    }
    if (truth_verdict == "cannot inspect" || result.overall == endface::Verdict::CannotInspect)
        return note;

    const double um = truth.value("um_per_px", 0.4);
    // Defects: the biggest truth first takes the nearest found one within its reach.
    std::vector<nlohmann::json> defects(truth["defects"].begin(), truth["defects"].end());
    std::sort(defects.begin(), defects.end(),
              [](const auto &a, const auto &b) { return a.value("diameter_um", 0.0) > b.value("diameter_um", 0.0); });
    std::vector<bool> taken(result.defects.size(), false);
    found_defects_ += static_cast<int>(result.defects.size());
    for (const auto &defect : defects) {
        const std::string zone = defect.value("zone", "");
        if (zone.empty())
            continue;
        const double x = defect["centre_px"][0], y = defect["centre_px"][1];
        const double size = defect.value("diameter_um", 0.0);
        const double reach = size / 2.0 / um + 4.0;
        ++truth_defects_;
        const bool key = size >= kKeyDefectUm && (zone == "A" || zone == "B");
        truth_key_defects_ += key ? 1 : 0;
        int best = -1;
        double best_distance = reach;
        for (size_t i = 0; i < result.defects.size(); ++i) {
            const double d = std::hypot(result.defects[i].centre_px.x - x, result.defects[i].centre_px.y - y);
            if (!taken[i] && d <= best_distance) {
                best = static_cast<int>(i);
                best_distance = d;
            }
        }
        if (best < 0) {
            if (key) {
                char text[128];
                std::snprintf(text, sizeof text, "%smissed %.1f um defect in zone %s at (%.0f, %.0f)",
                              note.empty() ? "" : "; ", size, zone.c_str(), x, y);
                note += text;
            }
            continue;
        }
        taken[best] = true;
        ++matched_truth_defects_;
        ++matched_found_defects_;
        matched_key_defects_ += key ? 1 : 0;
        size_errors_um_.push_back(result.defects[best].diameter_um - size);
        ++zone_pairs_;
        zone_agreeing_ += zone_name(result, result.defects[best].zone) == zone ? 1 : 0;
    }

    for (size_t i = 0; i < result.defects.size(); ++i)
        if (!taken[i])
            ++false_defects_by_zone_[zone_name(result, result.defects[i].zone)];

    std::vector<bool> scratch_taken(result.scratches.size(), false);
    found_scratches_ += static_cast<int>(result.scratches.size());
    for (const auto &scratch : truth["scratches"]) {
        const std::string zone = scratch.value("zone", "");
        if (zone.empty())
            continue;
        ++truth_scratches_;
        const Segment line{scratch["from_px"][0], scratch["from_px"][1], scratch["to_px"][0], scratch["to_px"][1]};
        const double reach = std::max(4.0, scratch.value("width_um", 1.0) / um);
        for (size_t i = 0; i < result.scratches.size(); ++i) {
            const auto &poly = result.scratches[i].polyline_px;
            if (scratch_taken[i] || poly.size() < 2)
                continue;
            const Segment found{poly.front().x, poly.front().y, poly.back().x, poly.back().y};
            const double mid_x = (found.x0 + found.x1) / 2, mid_y = (found.y0 + found.y1) / 2;
            if (distance_to_segment(mid_x, mid_y, line) <= reach && angle_between(found, line) < 0.26) {
                scratch_taken[i] = true;
                ++matched_truth_scratches_;
                ++matched_found_scratches_;
                width_errors_um_.push_back(result.scratches[i].width_um - scratch.value("width_um", 0.0));
                ++zone_pairs_;
                zone_agreeing_ += zone_name(result, result.scratches[i].zone) == zone ? 1 : 0;
                break;
            }
        }
    }
    for (size_t i = 0; i < result.scratches.size(); ++i)
        if (!scratch_taken[i])
            ++false_scratches_by_zone_[zone_name(result, result.scratches[i].zone)];
    return note;
}

void SetScores::print(std::ostream &out) const
{
    char line[160];
    auto row = [&](const char *name, const std::string &value) {
        std::snprintf(line, sizeof line, "%-46s %s\n", name, value.c_str());
        out << line;
    };
    auto number = [](double value, const char *unit) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f %s", value, unit);
        return std::string(text);
    };
    row("pictures", std::to_string(images_));
    row("pass/fail agreement", percent(agreeing_, images_));
    row("false passes (truth fail or unjudgeable)", std::to_string(false_passes_));
    row("false fails (truth pass)", std::to_string(false_fails_));
    row("defect recall", percent(matched_truth_defects_, truth_defects_));
    row("defect precision", percent(matched_found_defects_, found_defects_));
    auto by_zone = [](const std::map<std::string, int> &counts) {
        std::string text;
        for (const auto &[zone, count] : counts)
            text += (text.empty() ? "" : ", ") + zone + " " + std::to_string(count);
        return text.empty() ? std::string("none") : text;
    };
    row("unmatched found defects by zone", by_zone(false_defects_by_zone_));
    row("defects >= 3 um in zones A and B found", percent(matched_key_defects_, truth_key_defects_));
    row("defect size error, median", number(percentile(magnitudes(size_errors_um_), 0.5), "um"));
    row("defect size error, 95th percentile", number(percentile(magnitudes(size_errors_um_), 0.95), "um"));
    row("defect size bias (median found - truth)", number(percentile(size_errors_um_, 0.5), "um"));
    row("scratch recall", percent(matched_truth_scratches_, truth_scratches_));
    row("scratch precision", percent(matched_found_scratches_, found_scratches_));
    row("unmatched found scratches by zone", by_zone(false_scratches_by_zone_));
    row("scratch width error, median", number(percentile(magnitudes(width_errors_um_), 0.5), "um"));
    row("scratch width bias (median found - truth)", number(percentile(width_errors_um_, 0.5), "um"));
    row("zone assignment accuracy", percent(zone_agreeing_, zone_pairs_));
    for (const auto *times : {&frame_ms_, &frame_cpu_ms_}) {
        const bool wall = times == &frame_ms_;
        double total = 0;
        for (double ms : *times)
            total += ms;
        row(wall ? "ms per 1280 x 960 picture, wall, mean" : "ms per 1280 x 960 picture, processor, mean",
            times->empty() ? "n/a" : number(total / times->size(), "ms"));
        row(wall ? "ms per 1280 x 960 picture, wall, 95th pct" : "ms per 1280 x 960 picture, processor, 95th pct",
            times->empty() ? "n/a" : number(percentile(*times, 0.95), "ms"));
    }
}

bool SetScores::targets_met() const
{
    return images_ > 0 && agreeing_ >= kAgreementTarget * images_ && matched_key_defects_ == truth_key_defects_;
}

}  // namespace evaluation
