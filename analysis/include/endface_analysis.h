// End-face inspection of a single-mode fibre connector: finds the fibre in a
// probe picture, lays the connector zones around it, finds defects and
// scratches, and judges each zone against a criteria table.
//
// The cladding is 125 um across, so the picture gives its own scale; a probe
// with a known scale may pass it instead. Everything here is plain C++17 over
// OpenCV's core types; nothing depends on Qt. Pixel coordinates are OpenCV's:
// a pixel's centre lies at whole numbers. inspect() keeps no state between
// calls, so threads may inspect different pictures at once.
#pragma once

#include <opencv2/core.hpp>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace endface {

constexpr double kCladdingDiameterUm = 125.0;

enum class ScaleSource {
    Measured,  // from the cladding boundary in the picture
    Given,     // passed by the caller
};

struct Fibre {
    cv::Point2d centre_px;            // centre of the cladding
    double cladding_radius_px = 0.0;  // as found in the picture
    double um_per_px = 0.0;           // the scale every size below is in
    ScaleSource scale_source = ScaleSource::Measured;
};

// A ring around the fibre centre, by diameters as connector criteria give them.
struct Zone {
    std::string name;  // "A", "B", ...
    std::string role;  // "core", "cladding", "adhesive", "contact"
    double inner_diameter_um = 0.0;
    double outer_diameter_um = 0.0;
};

enum class DefectKind {
    Particle,       // loose dirt standing on the face: darker than the surface, compact
    Pit,            // a small hole in the glass: dark, round, sharp-edged
    Chip,           // a piece broken out at an edge: dark, irregular
    Contamination,  // a film or smear: low contrast, spread out
};

struct Defect {
    DefectKind kind = DefectKind::Particle;
    int zone = -1;  // index into InspectionResult::zones: the zone its centre lies in
    cv::Point2d centre_px;
    double diameter_um = 0.0;  // diameter of the circle of equal area
    cv::Rect bounding_box_px;
    std::vector<cv::Point> outline_px;  // closed contour
};

struct Scratch {
    int zone = -1;                         // index of the innermost zone the scratch touches
    std::vector<cv::Point2d> polyline_px;  // at least the two endpoints
    double width_um = 0.0;
    double length_um = 0.0;
};

enum class Verdict {
    Pass,
    Fail,
    CannotInspect,  // the picture does not allow a judgement; never a pass
};

// How many defects or scratches of a size range a zone tolerates. A size is in
// the band when it lies between min_um and max_um, each end inclusive unless
// marked exclusive.
struct SizeBand {
    static constexpr int kUnlimited = -1;
    static constexpr double kNoUpperBound = std::numeric_limits<double>::infinity();

    double min_um = 0.0;
    bool min_exclusive = false;
    double max_um = kNoUpperBound;
    bool max_exclusive = false;
    int max_count = kUnlimited;

    bool contains(double size_um) const;
};

// One zone of a criteria table: a size outside every band is not limited.
struct ZoneCriteria {
    Zone zone;
    std::vector<SizeBand> defects;    // by diameter
    std::vector<SizeBand> scratches;  // by width
};

// A criteria table, e.g. single-mode PC; APC and multimode tables are more rows.
struct Criteria {
    std::string name;
    std::vector<ZoneCriteria> zones;  // innermost first, non-overlapping
};

// Every table the library knows; the first is the default.
const std::vector<Criteria> &criteria_tables();
// The table of that name, or nullptr.
const Criteria *find_criteria(const std::string &name);
// Single-mode PC polished connectors (RL >= 45 dB).
const Criteria &single_mode_pc_criteria();

struct ZoneVerdict {
    std::string zone;  // the zone's name
    Verdict verdict = Verdict::Pass;
    int defect_count = 0;
    int scratch_count = 0;
    std::vector<std::string> reasons;  // one line per broken limit, empty on a pass
};

struct InspectionResult {
    Verdict overall = Verdict::CannotInspect;
    std::string cannot_inspect_reason;  // set when overall is CannotInspect
    std::string criteria;               // name of the table applied
    Fibre fibre;
    std::vector<Zone> zones;
    std::vector<Defect> defects;
    std::vector<Scratch> scratches;
    std::vector<ZoneVerdict> zone_verdicts;  // one per zone, same order as zones
};

struct InspectionOptions {
    // A probe that knows its scale passes it; otherwise it comes from the cladding.
    std::optional<double> um_per_px;
    // nullptr applies single_mode_pc_criteria().
    const Criteria *criteria = nullptr;
};

// Inspects one picture: 8-bit grey, BGR or BGRA. Any size, any content: what
// cannot be judged comes back as CannotInspect with the reason.
InspectionResult inspect(const cv::Mat &image, const InspectionOptions &options = {});

// Reads an image file (JPEG, PNG, BMP) and inspects it; a missing, corrupt,
// tiny or huge file is CannotInspect with the reason.
InspectionResult inspect_file(const std::string &path, const InspectionOptions &options = {});

// Judges found defects and scratches against a table: one verdict per zone of
// the table. Each defect's and scratch's zone indexes criteria.zones.
std::vector<ZoneVerdict> judge(const Criteria &criteria, const std::vector<Defect> &defects,
                               const std::vector<Scratch> &scratches);

// Pass only when every zone passes.
Verdict overall_verdict(const std::vector<ZoneVerdict> &zones);

// The zone a point at this distance from the centre falls into, or -1 beyond
// the outermost zone.
int zone_at(const std::vector<Zone> &zones, double distance_um);

// Short English words for reports: "particle", "pass", "cannot inspect", ...
const char *to_string(DefectKind kind);
const char *to_string(Verdict verdict);
const char *to_string(ScaleSource source);

}  // namespace endface
