// The figures of an evaluation: found defects and scratches matched with
// the truth, their sizes and zones, the image-level verdicts and the time.
#pragma once

#include "endface_analysis.h"

#include <nlohmann/json.hpp>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace evaluation {

class SetScores {
public:
    // Scores one picture; returns a note when its verdict differs from the truth.
    // ms: wall time of the inspection; cpu_ms: the processor time it took.
    std::string add(const nlohmann::json &truth, const endface::InspectionResult &result, int width, int height,
                    double ms, double cpu_ms);
    void print(std::ostream &out) const;
    // Image-level agreement of at least 97 % and every defect of 3 um or more in zones A and B found.
    bool targets_met() const;

private:
    int images_ = 0;
    int agreeing_ = 0;
    int false_passes_ = 0;  // the truth fails or cannot be judged, the inspection passes
    int false_fails_ = 0;
    int truth_defects_ = 0, found_defects_ = 0, matched_truth_defects_ = 0, matched_found_defects_ = 0;
    int truth_key_defects_ = 0, matched_key_defects_ = 0;  // 3 um or more in zones A and B
    int truth_scratches_ = 0, found_scratches_ = 0, matched_truth_scratches_ = 0, matched_found_scratches_ = 0;
    int zone_pairs_ = 0, zone_agreeing_ = 0;
    std::map<std::string, int> false_defects_by_zone_;
    std::map<std::string, int> false_scratches_by_zone_;
    std::vector<double> size_errors_um_;  // found minus truth
    std::vector<double> width_errors_um_;
    std::vector<double> frame_ms_;  // 1280 x 960 pictures only
    std::vector<double> frame_cpu_ms_;
};

}  // namespace evaluation
