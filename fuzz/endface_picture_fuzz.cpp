// Any file given to the inspection as a picture, and any small picture
// handed to it directly: reading without trusting the file, the checks
// before the search, the fibre search and the judgement. Whatever comes
// back must hang together, and a picture that cannot be read never passes.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <string>

#include <opencv2/imgproc.hpp>

#include "endface_analysis.h"
#include "image_file.h"
#include "picture_checks.h"

namespace {

// Bigger pictures are read but not inspected: one would take seconds.
constexpr int kMaxInspectedSide = 512;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void check_result(const endface::InspectionResult &result)
{
    if (result.overall == endface::Verdict::CannotInspect) {
        require(!result.cannot_inspect_reason.empty());
        return;
    }
    require(result.zone_verdicts.size() == result.zones.size());
    require(std::isfinite(result.fibre.um_per_px) && result.fibre.um_per_px > 0);
    const int zones = static_cast<int>(result.zones.size());
    for (const endface::Defect &defect : result.defects)
        require(defect.zone >= 0 && defect.zone < zones && std::isfinite(defect.diameter_um) &&
                defect.diameter_um >= 0);
    for (const endface::Scratch &scratch : result.scratches)
        require(scratch.zone >= 0 && scratch.zone < zones && scratch.polyline_px.size() >= 2 &&
                std::isfinite(scratch.width_um) && std::isfinite(scratch.length_um));
    bool all_pass = true;
    size_t defects = 0, scratches = 0;
    for (const endface::ZoneVerdict &zone : result.zone_verdicts) {
        defects += static_cast<size_t>(zone.defect_count);
        scratches += static_cast<size_t>(zone.scratch_count);
        require(zone.verdict != endface::Verdict::CannotInspect);
        require((zone.verdict == endface::Verdict::Pass) == zone.reasons.empty());
        all_pass = all_pass && zone.verdict == endface::Verdict::Pass;
    }
    require(defects == result.defects.size() && scratches == result.scratches.size());
    require((result.overall == endface::Verdict::Pass) == all_pass);
}

const std::string &picture_path()
{
    static const std::string path = [] {
        char directory[] = "/tmp/endface_picture_fuzz.XXXXXX";
        if (mkdtemp(directory) == nullptr)
            std::abort();
        return std::string(directory) + "/picture";
    }();
    return path;
}

void inspect_file_bytes(const uint8_t *data, size_t size)
{
    const std::string &path = picture_path();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char *>(data), size);
    std::string problem;
    const cv::Mat picture = endface::read_picture(path, problem);
    require(picture.empty() != problem.empty());
    if (!picture.empty()) {
        require(picture.cols >= endface::kMinSide && picture.rows >= endface::kMinSide &&
                picture.cols <= endface::kMaxSide && picture.rows <= endface::kMaxSide);
        if (picture.cols > kMaxInspectedSide || picture.rows > kMaxInspectedSide)
            return;
    }
    const endface::InspectionResult result = endface::inspect_file(path);
    require(!picture.empty() || result.overall == endface::Verdict::CannotInspect);
    check_result(result);
}

// width, height (8..64 each), pixel format, enlargement (2..6), given
// scale (0: measured), then the pixels, row by row; missing ones are black.
void inspect_pixels(const uint8_t *data, size_t size)
{
    if (size < 5)
        return;
    const int width = 8 + data[0] % 57;
    const int height = 8 + data[1] % 57;
    static const int kTypes[] = {CV_8UC1, CV_8UC3, CV_8UC4, CV_16UC1};
    const int type = kTypes[data[2] % 4];
    const int enlargement = 2 + data[3] % 5;
    endface::InspectionOptions options;
    if (data[4] != 0)
        options.um_per_px = data[4] / 50.0;
    cv::Mat small(height, width, type, cv::Scalar::all(0));
    const size_t bytes = small.total() * small.elemSize();
    const size_t given = size - 5 < bytes ? size - 5 : bytes;
    std::copy(data + 5, data + 5 + given, small.data);
    cv::Mat picture;
    cv::resize(small, picture, cv::Size(), enlargement, enlargement, cv::INTER_LINEAR);
    check_result(endface::inspect(picture, options));
}

}  // namespace

// The first byte picks a file or a picture; the rest is its content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] % 2 == 0)
        inspect_file_bytes(data + 1, size - 1);
    else
        inspect_pixels(data + 1, size - 1);
    return 0;
}
