#include "endface_analysis.h"

#include <cmath>
#include <cstdio>

namespace endface {

namespace {

constexpr int kUnlimited = SizeBand::kUnlimited;
constexpr double kOpen = SizeBand::kNoUpperBound;

std::vector<Criteria> build_tables()
{
    Criteria single_mode_pc;
    single_mode_pc.name = "single-mode PC";
    single_mode_pc.zones = {
        {{"A", "core", 0.0, 25.0}, {{0.0, false, kOpen, false, 0}}, {{0.0, false, kOpen, false, 0}}},
        {{"B", "cladding", 25.0, 115.0},
         {{0.0, false, 2.0, true, kUnlimited}, {2.0, false, 5.0, false, 5}, {5.0, true, kOpen, false, 0}},
         {{3.0, true, kOpen, false, 0}}},
        {{"C", "adhesive", 115.0, 135.0}, {}, {}},
        {{"D", "contact", 135.0, 250.0}, {{10.0, false, kOpen, false, 0}}, {}},
    };
    return {single_mode_pc};
}

std::string band_text(const SizeBand &band)
{
    char text[96];
    if (std::isinf(band.max_um))
        std::snprintf(text, sizeof text, "%s %g um", band.min_exclusive ? ">" : ">=", band.min_um);
    else
        std::snprintf(text, sizeof text, "%s%g to %g um%s", band.min_exclusive ? "above " : "", band.min_um,
                      band.max_um, band.max_exclusive ? " (exclusive)" : "");
    return text;
}

// Counts the sizes in each band and names every band holding more than it allows.
void check_bands(const std::vector<SizeBand> &bands, const std::vector<double> &sizes, const char *what,
                 std::vector<std::string> &reasons)
{
    for (const SizeBand &band : bands) {
        if (band.max_count == kUnlimited)
            continue;
        int count = 0;
        for (double size : sizes)
            count += band.contains(size) ? 1 : 0;
        if (count > band.max_count) {
            char text[160];
            std::snprintf(text, sizeof text, "%d %s %s, at most %d allowed", count, what, band_text(band).c_str(),
                          band.max_count);
            reasons.emplace_back(text);
        }
    }
}

}  // namespace

bool SizeBand::contains(double size_um) const
{
    const bool above_min = min_exclusive ? size_um > min_um : size_um >= min_um;
    const bool below_max = max_exclusive ? size_um < max_um : size_um <= max_um;
    return above_min && below_max;
}

const std::vector<Criteria> &criteria_tables()
{
    static const std::vector<Criteria> tables = build_tables();
    return tables;
}

const Criteria *find_criteria(const std::string &name)
{
    for (const Criteria &table : criteria_tables())
        if (table.name == name)
            return &table;
    return nullptr;
}

const Criteria &single_mode_pc_criteria()
{
    return criteria_tables().front();
}

std::vector<ZoneVerdict> judge(const Criteria &criteria, const std::vector<Defect> &defects,
                               const std::vector<Scratch> &scratches)
{
    std::vector<ZoneVerdict> verdicts;
    for (size_t index = 0; index < criteria.zones.size(); ++index) {
        const ZoneCriteria &zone = criteria.zones[index];
        std::vector<double> defect_sizes;
        std::vector<double> scratch_widths;
        for (const Defect &defect : defects)
            if (defect.zone == static_cast<int>(index))
                defect_sizes.push_back(defect.diameter_um);
        for (const Scratch &scratch : scratches)
            if (scratch.zone == static_cast<int>(index))
                scratch_widths.push_back(scratch.width_um);

        ZoneVerdict verdict;
        verdict.zone = zone.zone.name;
        verdict.defect_count = static_cast<int>(defect_sizes.size());
        verdict.scratch_count = static_cast<int>(scratch_widths.size());
        check_bands(zone.defects, defect_sizes, "defects", verdict.reasons);
        check_bands(zone.scratches, scratch_widths, "scratches", verdict.reasons);
        verdict.verdict = verdict.reasons.empty() ? Verdict::Pass : Verdict::Fail;
        verdicts.push_back(std::move(verdict));
    }
    return verdicts;
}

Verdict overall_verdict(const std::vector<ZoneVerdict> &zones)
{
    if (zones.empty())
        return Verdict::CannotInspect;
    for (const ZoneVerdict &zone : zones)
        if (zone.verdict != Verdict::Pass)
            return zone.verdict == Verdict::CannotInspect ? Verdict::CannotInspect : Verdict::Fail;
    return Verdict::Pass;
}

int zone_at(const std::vector<Zone> &zones, double distance_um)
{
    const double diameter = 2.0 * distance_um;
    for (size_t index = 0; index < zones.size(); ++index)
        if (diameter >= zones[index].inner_diameter_um && diameter < zones[index].outer_diameter_um)
            return static_cast<int>(index);
    return -1;
}

const char *to_string(DefectKind kind)
{
    switch (kind) {
    case DefectKind::Particle:
        return "particle";
    case DefectKind::Pit:
        return "pit";
    case DefectKind::Chip:
        return "chip";
    case DefectKind::Contamination:
        return "contamination";
    }
    return "defect";
}

const char *to_string(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::CannotInspect:
        return "cannot inspect";
    }
    return "cannot inspect";
}

const char *to_string(ScaleSource source)
{
    return source == ScaleSource::Given ? "given" : "measured";
}

}  // namespace endface
