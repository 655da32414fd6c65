// A single-mode fibre end face as a probe films it: the 9 um core, the
// 125 um cladding, a thin dark adhesive ring and the grainy ceramic ferrule
// around it, with dark flaws and scratches drawn in place. The result is
// noiseless luminance; a camera model adds blur, noise and compression.
#pragma once

#include <cstdint>
#include <vector>

namespace probesim {

constexpr double kCoreDiameterUm = 9.0;
constexpr double kCladdingDiameterUm = 125.0;

enum class FlawKind { Particle, Pit, Chip, Contamination };

struct SceneFlaw {
    FlawKind kind = FlawKind::Particle;
    double x = 0.0;  // centre, pixels
    double y = 0.0;
    double diameter_um = 0.0;  // of the circle of equal area
    double darkness = 0.6;     // share of the light the flaw takes away
    uint32_t shape_seed = 0;   // irregular outline of particles and chips
};

struct SceneScratch {
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;  // endpoints, pixels
    double width_um = 1.0;
    double darkness = 0.35;
};

struct EndFaceScene {
    int width = 0;
    int height = 0;
    double centre_x = 0.0;  // the fibre, pixels
    double centre_y = 0.0;
    double um_per_px = 0.4;
    bool fibre = true;  // false films the bare ferrule
    double adhesive_width_um = 2.0;
    uint32_t texture_seed = 1;
    std::vector<SceneFlaw> flaws;
    std::vector<SceneScratch> scratches;
};

// Luminance 0..255, row by row; width * height values.
std::vector<float> render_scene(const EndFaceScene &scene);

// The scale at which the cladding fills the same share of the picture at
// every size: about 0.4 um per pixel at 1280 x 960.
double live_um_per_px(int width, int height);

}  // namespace probesim
