#include "end_face_sample.h"

#include "endface_analysis.h"

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace probesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPlacementTries = 40;
// Flaws keep this far from a zone boundary, so the truth's zone is not a coin toss.
constexpr double kZoneMarginUm = 1.0;

double uniform(std::mt19937 &rng, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(rng);
}

int pick(std::mt19937 &rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

const std::vector<endface::Zone> &zones()
{
    static const std::vector<endface::Zone> list = [] {
        std::vector<endface::Zone> out;
        for (const endface::ZoneCriteria &zone : endface::single_mode_pc_criteria().zones)
            out.push_back(zone.zone);
        return out;
    }();
    return list;
}

int zone_index(char name)
{
    for (size_t i = 0; i < zones().size(); ++i)
        if (zones()[i].name.size() == 1 && zones()[i].name[0] == name)
            return static_cast<int>(i);
    return -1;
}

double distance_to_segment(double px, double py, const SceneScratch &s)
{
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((px - s.x0) * dx + (py - s.y0) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(px - (s.x0 + t * dx), py - (s.y0 + t * dy));
}

double flaw_darkness(FlawKind kind, std::mt19937 &rng)
{
    switch (kind) {
    case FlawKind::Particle:
        return uniform(rng, 0.45, 0.75);
    case FlawKind::Pit:
        return uniform(rng, 0.4, 0.65);
    case FlawKind::Chip:
        return uniform(rng, 0.55, 0.8);
    case FlawKind::Contamination:
        return uniform(rng, 0.25, 0.4);
    }
    return 0.5;
}

bool inside_picture(const EndFaceScene &scene, double x, double y, double margin_px)
{
    return x >= margin_px && y >= margin_px && x <= scene.width - margin_px && y <= scene.height - margin_px;
}

endface::Defect truth_defect(const EndFaceScene &scene, const SceneFlaw &flaw)
{
    endface::Defect defect;
    defect.kind = static_cast<endface::DefectKind>(flaw.kind);
    defect.centre_px = {flaw.x, flaw.y};
    defect.diameter_um = flaw.diameter_um;
    defect.zone =
        endface::zone_at(zones(), std::hypot(flaw.x - scene.centre_x, flaw.y - scene.centre_y) * scene.um_per_px);
    return defect;
}

endface::Scratch truth_scratch(const EndFaceScene &scene, const SceneScratch &scratch)
{
    endface::Scratch out;
    out.polyline_px = {{scratch.x0, scratch.y0}, {scratch.x1, scratch.y1}};
    out.width_um = scratch.width_um;
    out.length_um = std::hypot(scratch.x1 - scratch.x0, scratch.y1 - scratch.y0) * scene.um_per_px;
    out.zone =
        endface::zone_at(zones(), distance_to_segment(scene.centre_x, scene.centre_y, scratch) * scene.um_per_px);
    return out;
}

void add_incidental(EndFaceSample &sample, std::mt19937 &rng)
{
    // Dust well below the limits of the outer zones, and specks below 1.5 um on the glass.
    for (int i = pick(rng, 0, 2); i > 0; --i)
        add_flaw(sample, {FlawKind::Particle, uniform(rng, 1.5, 6.5), 'D'}, rng);
    for (int i = pick(rng, 0, 2); i > 0; --i)
        add_flaw(sample, {FlawKind::Particle, uniform(rng, 1.5, 12.0), 'C'}, rng);
    for (int i = pick(rng, 0, 2); i > 0; --i)
        add_flaw(sample, {FlawKind::Pit, uniform(rng, 1.0, 1.5), 'B'}, rng);
}

FlawKind glass_kind(std::mt19937 &rng)
{
    const FlawKind kinds[] = {FlawKind::Particle, FlawKind::Particle, FlawKind::Pit};
    return kinds[pick(rng, 0, 2)];
}

}  // namespace

const char *flaw_kind_name(FlawKind kind)
{
    return endface::to_string(static_cast<endface::DefectKind>(kind));
}

EndFaceSample random_clean_sample(int width, int height, std::mt19937 &rng)
{
    EndFaceSample sample;
    EndFaceScene &scene = sample.scene;
    scene.width = width;
    scene.height = height;
    scene.um_per_px = uniform(rng, 0.3, 0.5);
    scene.centre_x = width / 2.0 + uniform(rng, -0.12, 0.12) * width;
    scene.centre_y = height / 2.0 + uniform(rng, -0.1, 0.1) * height;
    scene.adhesive_width_um = uniform(rng, 1.0, 3.0);
    scene.texture_seed = rng();
    CameraLook &camera = sample.camera;
    camera.blur_sigma_px = uniform(rng, 0.6, 1.3);
    camera.noise_sigma = uniform(rng, 1.5, 4.0);
    camera.light_gradient = uniform(rng, 0.0, 1.0) < 0.2 ? uniform(rng, 0.35, 0.6) : uniform(rng, 0.0, 0.35);
    camera.light_angle = uniform(rng, 0.0, 2 * kPi);
    camera.vignette = uniform(rng, 0.0, 0.25);
    camera.jpeg_quality = pick(rng, 75, 95);
    sample.noise_seed = rng();
    return sample;
}

bool add_flaw(EndFaceSample &sample, const FlawRequest &request, std::mt19937 &rng)
{
    const int zone = zone_index(request.zone);
    if (zone < 0)
        return false;
    EndFaceScene &scene = sample.scene;
    double r0 = zones()[zone].inner_diameter_um / 2.0 + (zone > 0 ? kZoneMarginUm : 0.0);
    double r1 = zones()[zone].outer_diameter_um / 2.0 - kZoneMarginUm;
    if (request.kind == FlawKind::Chip && (request.zone == 'B' || request.zone == 'C')) {
        // A chip breaks out of the cladding's rim.
        r0 = std::max(r0, 62.5 - request.diameter_um / 2.0 - 3.0);
        r1 = std::min(r1, 62.0);
    }
    const double radius_px = request.diameter_um / 2.0 / scene.um_per_px;
    for (int attempt = 0; attempt < kPlacementTries; ++attempt) {
        const double r = std::sqrt(uniform(rng, r0 * r0, r1 * r1)) / scene.um_per_px;
        const double angle = uniform(rng, 0.0, 2 * kPi);
        SceneFlaw flaw;
        flaw.kind = request.kind;
        flaw.x = scene.centre_x + r * std::cos(angle);
        flaw.y = scene.centre_y + r * std::sin(angle);
        flaw.diameter_um = request.diameter_um;
        if (!inside_picture(scene, flaw.x, flaw.y, 1.5 * radius_px + 4))
            continue;
        const double clearance = 3.0 / scene.um_per_px;
        bool apart = true;
        for (const SceneFlaw &other : scene.flaws)
            apart &= std::hypot(other.x - flaw.x, other.y - flaw.y) >
                     1.3 * (radius_px + other.diameter_um / 2.0 / scene.um_per_px) + clearance;
        for (const SceneScratch &scratch : scene.scratches)
            apart &= distance_to_segment(flaw.x, flaw.y, scratch) >
                     1.3 * radius_px + scratch.width_um / scene.um_per_px + clearance;
        if (!apart)
            continue;
        flaw.darkness = flaw_darkness(request.kind, rng);
        flaw.shape_seed = rng();
        scene.flaws.push_back(flaw);
        return true;
    }
    return false;
}

bool add_scratch(EndFaceSample &sample, const ScratchRequest &request, std::mt19937 &rng)
{
    const int zone = zone_index(request.zone);
    if (zone < 0)
        return false;
    EndFaceScene &scene = sample.scene;
    // A straight polishing mark whose nearest point to the centre lies in the zone.
    const double d0 = zones()[zone].inner_diameter_um / 2.0 + (zone > 0 ? kZoneMarginUm + request.width_um : 0.0);
    const double d1 = zones()[zone].outer_diameter_um / 2.0 - kZoneMarginUm - request.width_um;
    if (d1 <= d0)
        return false;
    const double px = scene.um_per_px;
    for (int attempt = 0; attempt < kPlacementTries; ++attempt) {
        const double d = uniform(rng, d0, d1) / px;
        const double normal = uniform(rng, 0.0, 2 * kPi);
        const double shift = uniform(rng, -0.25, 0.25) * request.length_um / px;
        const double half = request.length_um / 2.0 / px;
        const double fx = scene.centre_x + d * std::cos(normal);
        const double fy = scene.centre_y + d * std::sin(normal);
        const double tx = -std::sin(normal);
        const double ty = std::cos(normal);
        SceneScratch scratch;
        scratch.x0 = fx + (shift - half) * tx;
        scratch.y0 = fy + (shift - half) * ty;
        scratch.x1 = fx + (shift + half) * tx;
        scratch.y1 = fy + (shift + half) * ty;
        scratch.width_um = request.width_um;
        const double margin = request.width_um / px + 4;
        if (!inside_picture(scene, scratch.x0, scratch.y0, margin) ||
            !inside_picture(scene, scratch.x1, scratch.y1, margin))
            continue;
        bool apart = true;
        for (const SceneFlaw &flaw : scene.flaws)
            apart &= distance_to_segment(flaw.x, flaw.y, scratch) >
                     1.3 * flaw.diameter_um / 2.0 / px + request.width_um / px + 3.0 / px;
        for (const SceneScratch &other : scene.scratches)
            apart &= distance_to_segment((other.x0 + other.x1) / 2, (other.y0 + other.y1) / 2, scratch) > 15.0 / px;
        if (!apart)
            continue;
        scratch.darkness = uniform(rng, 0.25, 0.45);
        scene.scratches.push_back(scratch);
        return true;
    }
    return false;
}

EndFaceSample evaluation_sample(int width, int height, uint32_t set_seed, uint32_t index)
{
    std::seed_seq seeds{set_seed, index, 0x5eedu};
    std::mt19937 rng(seeds);
    EndFaceSample sample = random_clean_sample(width, height, rng);
    const double draw = uniform(rng, 0.0, 1.0);
    if (draw < 0.06) {
        switch (pick(rng, 0, 4)) {
        case 0:
            sample.camera.exposure = 0.03;
            sample.unjudgeable = "black frame";
            break;
        case 1:
            sample.camera.exposure = 6.0;
            sample.unjudgeable = "white frame";
            break;
        case 2:
            sample.camera.exposure = uniform(rng, 1.6, 2.2);
            sample.unjudgeable = "saturated glass";
            break;
        case 3:
            sample.scene.fibre = false;
            sample.unjudgeable = "no fibre";
            break;
        default: {
            const double clad_px = 62.5 / sample.scene.um_per_px;
            sample.scene.centre_x = width - clad_px * uniform(rng, 0.2, 0.8);
            sample.unjudgeable = "fibre out of the picture";
            break;
        }
        }
        return sample;
    }
    add_incidental(sample, rng);
    if (draw < 0.16)
        return sample;
    switch (pick(rng, 0, 7)) {
    case 0:  // anything in the core zone fails
        add_flaw(sample, {glass_kind(rng), uniform(rng, 1.5, 4.0), 'A'}, rng);
        break;
    case 1:  // one defect around the 5 um limit of the cladding
        add_flaw(sample, {pick(rng, 0, 3) == 0 ? FlawKind::Chip : glass_kind(rng), uniform(rng, 3.8, 6.2), 'B'}, rng);
        break;
    case 2: {  // around five defects of 2 to 5 um on the cladding
        for (int n = pick(rng, 4, 7); n > 0; --n)
            add_flaw(sample, {glass_kind(rng), uniform(rng, 2.4, 4.6), 'B'}, rng);
        break;
    }
    case 3: {  // the 2 um edge of the counted band
        for (int n = pick(rng, 4, 7); n > 0; --n)
            add_flaw(sample, {glass_kind(rng), uniform(rng, 1.5, 3.0), 'B'}, rng);
        break;
    }
    case 4:  // around the 10 um limit of the contact zone
        add_flaw(sample, {pick(rng, 0, 1) ? FlawKind::Particle : FlawKind::Contamination, uniform(rng, 8.0, 12.0), 'D'},
                 rng);
        break;
    case 5:  // a scratch around 3 um wide on the cladding
        add_scratch(sample, {uniform(rng, 2.2, 3.8), uniform(rng, 15.0, 50.0), 'B'}, rng);
        break;
    case 6:  // any scratch through the core zone fails
        add_scratch(sample, {uniform(rng, 1.0, 2.5), uniform(rng, 12.0, 40.0), 'A'}, rng);
        break;
    default:  // the adhesive zone has no limit
        add_flaw(sample, {pick(rng, 0, 1) ? FlawKind::Chip : FlawKind::Particle, uniform(rng, 4.0, 12.0), 'C'}, rng);
        add_scratch(sample, {uniform(rng, 2.0, 5.0), uniform(rng, 15.0, 40.0), 'D'}, rng);
        break;
    }
    return sample;
}

// The truth names pixels as OpenCV does, a pixel's centre at whole numbers;
// the scene puts pixel x's centre at x + 0.5.
nlohmann::json picture_point(double x, double y)
{
    return {x - 0.5, y - 0.5};
}

std::string truth_json(const EndFaceSample &sample)
{
    const EndFaceScene &scene = sample.scene;
    nlohmann::json out;
    out["width"] = scene.width;
    out["height"] = scene.height;
    out["um_per_px"] = scene.um_per_px;
    out["fibre"] = scene.fibre;
    out["centre_px"] = picture_point(scene.centre_x, scene.centre_y);
    out["cladding_radius_px"] = 62.5 / scene.um_per_px;
    std::vector<endface::Defect> defects;
    std::vector<endface::Scratch> scratches;
    out["defects"] = nlohmann::json::array();
    for (const SceneFlaw &flaw : scene.flaws) {
        defects.push_back(truth_defect(scene, flaw));
        const endface::Defect &d = defects.back();
        out["defects"].push_back({{"kind", flaw_kind_name(flaw.kind)},
                                  {"zone", d.zone >= 0 ? zones()[d.zone].name : ""},
                                  {"centre_px", picture_point(flaw.x, flaw.y)},
                                  {"diameter_um", flaw.diameter_um}});
    }
    out["scratches"] = nlohmann::json::array();
    for (const SceneScratch &scratch : scene.scratches) {
        scratches.push_back(truth_scratch(scene, scratch));
        const endface::Scratch &s = scratches.back();
        out["scratches"].push_back({{"zone", s.zone >= 0 ? zones()[s.zone].name : ""},
                                    {"from_px", picture_point(scratch.x0, scratch.y0)},
                                    {"to_px", picture_point(scratch.x1, scratch.y1)},
                                    {"width_um", scratch.width_um},
                                    {"length_um", s.length_um}});
    }
    if (!sample.unjudgeable.empty()) {
        out["verdict"] = endface::to_string(endface::Verdict::CannotInspect);
        out["reason"] = sample.unjudgeable;
    } else {
        const auto verdicts = endface::judge(endface::single_mode_pc_criteria(), defects, scratches);
        out["verdict"] = endface::to_string(endface::overall_verdict(verdicts));
    }
    out["camera"] = {{"blur_sigma_px", sample.camera.blur_sigma_px},
                     {"noise_sigma", sample.camera.noise_sigma},
                     {"light_gradient", sample.camera.light_gradient},
                     {"vignette", sample.camera.vignette},
                     {"exposure", sample.camera.exposure},
                     {"jpeg_quality", sample.camera.jpeg_quality}};
    return out.dump(1) + "\n";
}

bool write_sample(const EndFaceSample &sample, const std::string &jpeg_path, const std::string &json_path)
{
    const cv::Mat grey =
        film(render_scene(sample.scene), sample.scene.width, sample.scene.height, sample.camera, sample.noise_seed);
    const std::vector<uint8_t> jpeg = encode_grey_jpeg(grey, sample.camera.jpeg_quality);
    if (jpeg.empty())
        return false;
    std::ofstream picture(jpeg_path, std::ios::binary);
    picture.write(reinterpret_cast<const char *>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    std::ofstream truth(json_path);
    truth << truth_json(sample);
    return picture.good() && truth.good();
}

}  // namespace probesim
