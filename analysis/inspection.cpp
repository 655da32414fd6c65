#include "endface_analysis.h"

#include "face_model.h"
#include "fibre_locator.h"
#include "flaw_finder.h"
#include "image_file.h"
#include "picture_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace endface {

namespace {

constexpr double kCladdingRadiusUm = kCladdingDiameterUm / 2.0;
// A region this much longer than wide, and this long, is a scratch.
constexpr double kScratchElongation = 3.0;
constexpr double kScratchMinLengthUm = 8.0;
// Regions smaller than this are noise.
constexpr double kMinDefectAreaPx = 2.0;
// The adhesive ring and the cladding's edge hide what lies on them: flaws
// this close across them are one.
constexpr double kRingReachUm = 6.0;
constexpr double kRingGapUm = 4.0;
// Plausible probe scales; outside them the "cladding" found is something else.
constexpr double kMinUmPerPx = 0.05;
constexpr double kMaxUmPerPx = 5.0;
// The smallest defects the criteria count are 2 um: coarser than this they
// are under two pixels, and a pass would not have seen them.
constexpr double kMaxJudgedUmPerPx = 1.0;

InspectionResult cannot_inspect(InspectionResult result, std::string reason)
{
    result.overall = Verdict::CannotInspect;
    result.cannot_inspect_reason = std::move(reason);
    return result;
}

DefectKind classify(const FlawRegion &region, double radius_um, double diameter_um)
{
    const double contrast = region.face_level > 0 ? region.peak_depth / region.face_level : 1.0;
    if (std::fabs(radius_um - kCladdingRadiusUm) < 4.0)
        return DefectKind::Chip;
    if (contrast < 0.33 && diameter_um > 4.0)
        return DefectKind::Contamination;
    if (radius_um < kCladdingRadiusUm && region.elongation < 1.4 && diameter_um < 4.0)
        return DefectKind::Pit;
    return DefectKind::Particle;
}

}  // namespace

InspectionResult inspect(const cv::Mat &image, const InspectionOptions &options)
{
    const Criteria &criteria = options.criteria ? *options.criteria : single_mode_pc_criteria();
    InspectionResult result;
    result.criteria = criteria.name;
    for (const ZoneCriteria &zone : criteria.zones)
        result.zones.push_back(zone.zone);
    if (image.empty())
        return cannot_inspect(result, "empty picture");
    if (std::string problem = check_size(image.cols, image.rows); !problem.empty())
        return cannot_inspect(result, problem);
    const cv::Mat grey = to_grey(image);
    if (grey.empty())
        return cannot_inspect(result, "unsupported pixel format");
    if (std::string problem = check_exposure(grey); !problem.empty())
        return cannot_inspect(result, problem);
    if (options.um_per_px && !(*options.um_per_px >= kMinUmPerPx && *options.um_per_px <= kMaxUmPerPx))
        return cannot_inspect(result, "given scale out of range");

    std::optional<double> expected_radius;
    if (options.um_per_px)
        expected_radius = kCladdingRadiusUm / *options.um_per_px;
    const FibreFit fit = locate_fibre(grey, expected_radius);
    if (!fit.found)
        return cannot_inspect(result, fit.problem);
    result.fibre.centre_px = fit.centre;
    result.fibre.cladding_radius_px = fit.radius_px;
    result.fibre.um_per_px = options.um_per_px.value_or(kCladdingRadiusUm / fit.radius_px);
    result.fibre.scale_source = options.um_per_px ? ScaleSource::Given : ScaleSource::Measured;
    const double um = result.fibre.um_per_px;
    if (um < kMinUmPerPx || um > kMaxUmPerPx)
        return cannot_inspect(result, "no fibre found: the round edge in view has no plausible size");
    if (um > kMaxJudgedUmPerPx) {
        char reason[120];
        std::snprintf(reason, sizeof reason, "picture too coarse: %.2f um per pixel, at most %.1f shows 2 um defects",
                      um, kMaxJudgedUmPerPx);
        return cannot_inspect(result, reason);
    }
    const double margin = 2.0;
    if (fit.centre.x - fit.radius_px < margin || fit.centre.y - fit.radius_px < margin ||
        fit.centre.x + fit.radius_px > grey.cols - 1 - margin || fit.centre.y + fit.radius_px > grey.rows - 1 - margin)
        return cannot_inspect(result, "fibre partly out of the picture: centre it in view");
    if (std::string problem = check_glass(grey, fit.centre, fit.radius_px); !problem.empty())
        return cannot_inspect(result, problem);

    double outer_um = 0.0;
    for (const Zone &zone : result.zones)
        outer_um = std::max(outer_um, zone.outer_diameter_um / 2.0);
    const double outer_px = outer_um / um;
    const FaceModel model = model_face(grey, fit.centre, outer_px);
    std::vector<FlawRegion> regions = find_flaws(model, fit.radius_px, outer_px, fit.edge_sigma_px);
    join_across_ring(regions, fit.centre, fit.radius_px, kRingReachUm / um, kRingGapUm / um);

    for (const FlawRegion &region : regions) {
        const double radius_um = std::hypot(region.centre.x - fit.centre.x, region.centre.y - fit.centre.y) * um;
        const double length_um = region.length_px * um;
        if (region.elongation >= kScratchElongation && length_um >= kScratchMinLengthUm) {
            Scratch scratch;
            scratch.zone = zone_at(result.zones, region.min_radius_px * um);
            if (scratch.zone < 0)
                continue;
            scratch.polyline_px = {region.end_a, region.end_b};
            scratch.width_um = region.width_px * um;
            scratch.length_um = length_um;
            result.scratches.push_back(scratch);
            continue;
        }
        if (region.area_px < kMinDefectAreaPx)
            continue;
        Defect defect;
        defect.zone = zone_at(result.zones, radius_um);
        if (defect.zone < 0)
            continue;
        defect.diameter_um = 2.0 * std::sqrt(region.area_px / 3.14159265358979323846) * um;
        defect.kind = classify(region, radius_um, defect.diameter_um);
        defect.centre_px = region.centre;
        defect.bounding_box_px = region.box;
        defect.outline_px = region.outline;
        result.defects.push_back(std::move(defect));
    }
    result.zone_verdicts = judge(criteria, result.defects, result.scratches);
    result.overall = overall_verdict(result.zone_verdicts);
    return result;
}

InspectionResult inspect_file(const std::string &path, const InspectionOptions &options)
{
    std::string problem;
    const cv::Mat picture = read_picture(path, problem);
    if (picture.empty()) {
        InspectionResult result;
        const Criteria &criteria = options.criteria ? *options.criteria : single_mode_pc_criteria();
        result.criteria = criteria.name;
        for (const ZoneCriteria &zone : criteria.zones)
            result.zones.push_back(zone.zone);
        return cannot_inspect(result, problem);
    }
    return inspect(picture, options);
}

}  // namespace endface
