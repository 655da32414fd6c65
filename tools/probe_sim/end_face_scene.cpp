#include "end_face_scene.h"

#include <algorithm>
#include <cmath>

namespace probesim {

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr float kFerruleLevel = 92.0f;
constexpr float kFerruleRelief = 10.0f;  // amplitude of the ceramic's mottling
constexpr float kAdhesiveLevel = 30.0f;
constexpr float kCladdingLevel = 178.0f;
constexpr float kCoreLevel = 196.0f;
// At the live scale the cladding's radius is this share of the shorter side.
constexpr double kLiveCladdingShare = 0.16;

uint32_t hash(uint32_t a, uint32_t b, uint32_t seed)
{
    uint32_t h = a * 73856093u ^ b * 19349663u ^ seed * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// Uniform in [-1, 1] per lattice point.
float lattice(int x, int y, uint32_t seed)
{
    return static_cast<float>(hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed) % 20001u) / 10000.0f -
           1.0f;
}

// Smooth value noise: random values on a lattice of `cell` pixels,
// interpolated smoothly between. The lattice is drawn once per picture.
class ValueNoise {
public:
    ValueNoise(int width, int height, double cell, uint32_t seed)
        : cell_(std::max(cell, 1.0)), cols_(static_cast<int>(width / cell_) + 3),
          rows_(static_cast<int>(height / cell_) + 3), values_(static_cast<size_t>(cols_) * rows_)
    {
        for (int y = 0; y < rows_; ++y)
            for (int x = 0; x < cols_; ++x)
                values_[static_cast<size_t>(y) * cols_ + x] = lattice(x, y, seed);
    }
    float at(int x, int y) const
    {
        const double fx = x / cell_;
        const double fy = y / cell_;
        const int ix = std::min(static_cast<int>(fx), cols_ - 2);
        const int iy = std::min(static_cast<int>(fy), rows_ - 2);
        const double tx = fx - ix;
        const double ty = fy - iy;
        const double sx = tx * tx * (3 - 2 * tx);
        const double sy = ty * ty * (3 - 2 * ty);
        const float *row = &values_[static_cast<size_t>(iy) * cols_ + ix];
        const double top = row[0] * (1 - sx) + row[1] * sx;
        const double bottom = row[cols_] * (1 - sx) + row[cols_ + 1] * sx;
        return static_cast<float>(top * (1 - sy) + bottom * sy);
    }

private:
    double cell_;
    int cols_;
    int rows_;
    std::vector<float> values_;
};

double smoothstep(double edge0, double edge1, double x)
{
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Zirconia grain: a few octaves of mottling, finer ones weaker.
class Ferrule {
public:
    Ferrule(const EndFaceScene &scene)
        : coarse_(scene.width, scene.height, 9.0 / scene.um_per_px, scene.texture_seed),
          middle_(scene.width, scene.height, 3.5 / scene.um_per_px, scene.texture_seed + 1),
          fine_(scene.width, scene.height, 1.2 / scene.um_per_px, scene.texture_seed + 2)
    {
    }
    float at(int x, int y) const
    {
        const float mottle = 0.55f * coarse_.at(x, y) + 0.30f * middle_.at(x, y) + 0.15f * fine_.at(x, y);
        return kFerruleLevel + kFerruleRelief * mottle;
    }

private:
    ValueNoise coarse_, middle_, fine_;
};

// The polished face without flaws: the ferrule, the adhesive ring, the cladding, the core.
float face_level(const EndFaceScene &scene, float ferrule, double r_um)
{
    if (!scene.fibre)
        return ferrule;
    const double px = scene.um_per_px;
    const double clad_r = kCladdingDiameterUm / 2.0;
    const double ring_r = clad_r + scene.adhesive_width_um;
    const double edge = 0.6 * px;  // a sub-pixel soft edge, as optics give
    if (r_um >= ring_r + edge)
        return ferrule;
    // Cladding dims a little towards its rim, as a domed polish does.
    const double cladding = kCladdingLevel * (1.0 - 0.06 * (r_um / clad_r) * (r_um / clad_r));
    double level = ferrule;
    level += (kAdhesiveLevel - level) * (1.0 - smoothstep(ring_r - edge, ring_r + edge, r_um));
    level += (cladding - level) * (1.0 - smoothstep(clad_r - edge, clad_r + edge, r_um));
    const double core_r = kCoreDiameterUm / 2.0;
    if (r_um < core_r + 1.0)
        level += (kCoreLevel - level) * (1.0 - smoothstep(core_r - 1.0, core_r + 1.0, r_um));
    return static_cast<float>(level);
}

// Outline radius of a flaw at angle theta, scaled so the area matches its diameter.
struct Outline {
    double harmonic[3] = {0, 0, 0};
    double phase[3] = {0, 0, 0};
    double scale = 1.0;

    Outline(const SceneFlaw &flaw, double radius_px)
    {
        const double roughness = flaw.kind == FlawKind::Particle ? 0.18 : flaw.kind == FlawKind::Chip ? 0.25 : 0.0;
        double power = 0.0;
        for (int k = 0; k < 3; ++k) {
            const uint32_t h = hash(flaw.shape_seed, static_cast<uint32_t>(k), 7u);
            harmonic[k] = roughness * (0.4 + 0.6 * (h % 1000) / 1000.0) / (k + 1);
            phase[k] = 2 * kPi * ((h >> 10) % 1000) / 1000.0;
            power += harmonic[k] * harmonic[k] / 2.0;
        }
        scale = radius_px / std::sqrt(1.0 + power);
    }
    double at(double theta) const
    {
        double r = 1.0;
        for (int k = 0; k < 3; ++k)
            r += harmonic[k] * std::cos((k + 2) * theta + phase[k]);
        return scale * r;
    }
};

void draw_flaw(const EndFaceScene &scene, const SceneFlaw &flaw, std::vector<float> &out)
{
    const double radius = flaw.diameter_um / 2.0 / scene.um_per_px;
    const Outline outline(flaw, radius);
    const bool soft = flaw.kind == FlawKind::Contamination;
    const double soft_edge = soft ? std::max(1.0, 1.5 / scene.um_per_px) : 0.5;
    const double reach = radius * 1.6 + soft_edge + 2;
    const int x0 = std::max(0, static_cast<int>(flaw.x - reach));
    const int x1 = std::min(scene.width - 1, static_cast<int>(flaw.x + reach));
    const int y0 = std::max(0, static_cast<int>(flaw.y - reach));
    const int y1 = std::min(scene.height - 1, static_cast<int>(flaw.y + reach));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double dx = x + 0.5 - flaw.x;
            const double dy = y + 0.5 - flaw.y;
            const double beyond = std::hypot(dx, dy) - outline.at(std::atan2(dy, dx));
            const double cover =
                soft ? 1.0 - smoothstep(-soft_edge, soft_edge, beyond) : std::clamp(0.5 - beyond, 0.0, 1.0);
            if (cover <= 0.0)
                continue;
            float &pixel = out[static_cast<size_t>(y) * scene.width + x];
            pixel = static_cast<float>(pixel * (1.0 - flaw.darkness * cover));
        }
}

void draw_scratch(const EndFaceScene &scene, const SceneScratch &scratch, std::vector<float> &out)
{
    const double half = scratch.width_um / 2.0 / scene.um_per_px;
    const double dx = scratch.x1 - scratch.x0;
    const double dy = scratch.y1 - scratch.y0;
    const double length = std::hypot(dx, dy);
    if (length <= 0.0)
        return;
    const double ux = dx / length;
    const double uy = dy / length;
    const double reach = half + 2;
    const int x0 = std::max(0, static_cast<int>(std::min(scratch.x0, scratch.x1) - reach));
    const int x1 = std::min(scene.width - 1, static_cast<int>(std::max(scratch.x0, scratch.x1) + reach));
    const int y0 = std::max(0, static_cast<int>(std::min(scratch.y0, scratch.y1) - reach));
    const int y1 = std::min(scene.height - 1, static_cast<int>(std::max(scratch.y0, scratch.y1) + reach));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double rx = x + 0.5 - scratch.x0;
            const double ry = y + 0.5 - scratch.y0;
            const double along = rx * ux + ry * uy;
            const double across = std::fabs(-rx * uy + ry * ux);
            // Ends taper over a pixel so a scratch has no hard square tip.
            const double end_cover = std::clamp(std::min(along, length - along) + 0.5, 0.0, 1.0);
            const double cover = std::clamp(half + 0.5 - across, 0.0, 1.0) * end_cover;
            if (cover <= 0.0)
                continue;
            float &pixel = out[static_cast<size_t>(y) * scene.width + x];
            pixel = static_cast<float>(pixel * (1.0 - scratch.darkness * cover));
        }
}

}  // namespace

std::vector<float> render_scene(const EndFaceScene &scene)
{
    std::vector<float> out(static_cast<size_t>(std::max(scene.width, 0)) * std::max(scene.height, 0));
    if (out.empty() || scene.um_per_px <= 0.0)
        return out;
    const Ferrule ferrule(scene);
    for (int y = 0; y < scene.height; ++y) {
        const double dy = y + 0.5 - scene.centre_y;
        float *row = &out[static_cast<size_t>(y) * scene.width];
        for (int x = 0; x < scene.width; ++x) {
            const double dx = x + 0.5 - scene.centre_x;
            row[x] = face_level(scene, ferrule.at(x, y), std::sqrt(dx * dx + dy * dy) * scene.um_per_px);
        }
    }
    for (const SceneFlaw &flaw : scene.flaws)
        draw_flaw(scene, flaw, out);
    for (const SceneScratch &scratch : scene.scratches)
        draw_scratch(scene, scratch, out);
    return out;
}

double live_um_per_px(int width, int height)
{
    const int side = std::max(1, std::min(width, height));
    return kCladdingDiameterUm / 2.0 / (kLiveCladdingShare * side);
}

}  // namespace probesim
