// End faces with known flaws, for measuring the inspection: a scene, the
// camera that films it, and the truth written beside the picture as JSON.
#pragma once

#include "end_face_camera.h"
#include "end_face_scene.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace probesim {

struct EndFaceSample {
    EndFaceScene scene;
    CameraLook camera;
    uint32_t noise_seed = 0;
    // Why the picture cannot be judged (a black frame, no fibre, ...); empty
    // for a picture that can.
    std::string unjudgeable;
};

// Where a flaw or scratch is wanted: kind, size and zone ("A" to "D").
struct FlawRequest {
    FlawKind kind = FlawKind::Particle;
    double diameter_um = 0.0;
    char zone = 'B';
};
struct ScratchRequest {
    double width_um = 0.0;
    double length_um = 0.0;
    char zone = 'B';
};

// A clean face at a random scale, position, texture and camera look.
EndFaceSample random_clean_sample(int width, int height, std::mt19937 &rng);

// Adds a flaw or scratch at a random place within its zone; false when the
// zone lies outside the picture.
bool add_flaw(EndFaceSample &sample, const FlawRequest &request, std::mt19937 &rng);
bool add_scratch(EndFaceSample &sample, const ScratchRequest &request, std::mt19937 &rng);

// One sample of an evaluation set: mostly borderline sizes near each limit
// of the single-mode PC table, some clean faces, a few unjudgeable pictures.
EndFaceSample evaluation_sample(int width, int height, uint32_t set_seed, uint32_t index);

// The truth as JSON: scale, fibre, each flaw and scratch with kind, zone and
// size, and the verdict the criteria give.
std::string truth_json(const EndFaceSample &sample);

// Renders, films and writes PICTURE.jpg and PICTURE.json; false on a write failure.
bool write_sample(const EndFaceSample &sample, const std::string &jpeg_path, const std::string &json_path);

const char *flaw_kind_name(FlawKind kind);

}  // namespace probesim
