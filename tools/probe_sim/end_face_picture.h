// The synthetic picture the simulated probe films: a single-mode end face
// (end_face_scene.h) at about 0.4 um per pixel, a few drifting particles, a slowly
// turning scratch, and the frame number in digits so that every frame is
// told apart at a glance.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace probesim {

// Planar YUV 4:2:0; both sides are even, which every offered size is.
struct YuvImage {
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> y;  // width * height
    std::vector<uint8_t> u;  // (width / 2) * (height / 2)
    std::vector<uint8_t> v;
};

struct PictureLook {
    int32_t brightness = 128;  // 0..255, 128 leaves the luminance as rendered
    int32_t contrast = 50;     // 0..100, 50 leaves it as rendered
    uint32_t rotation = 0;     // degrees, turns the particles and the scratch
};

class EndFacePicture {
public:
    // The frame for this frame number; valid until the next call.
    const YuvImage &render(uint16_t width, uint16_t height, uint32_t frame_number, const PictureLook &look);

private:
    void build_background(uint16_t width, uint16_t height);
    void build_tone_curve(const PictureLook &look);
    void draw_particles(uint32_t frame_number, double turn);
    void draw_scratch(uint32_t frame_number, double turn);
    void draw_counter(uint32_t frame_number);
    void fill_luma_row(int x, int y, int length, uint8_t value);

    YuvImage image_;
    static std::shared_ptr<const std::vector<uint8_t>> shared_face(uint16_t width, uint16_t height);

    std::shared_ptr<const std::vector<uint8_t>> background_;  // luminance of the still end face at this size
    uint8_t tone_[256] = {};
    int32_t tone_brightness_ = -1;
    int32_t tone_contrast_ = -1;
};

}  // namespace probesim
