// What the probe's optics and sensor do to a rendered end face: uneven
// lighting, blur, sensor noise, and JPEG compression.
#pragma once

#include "end_face_scene.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace probesim {

struct CameraLook {
    double blur_sigma_px = 0.9;
    double noise_sigma = 2.5;     // grey levels
    double light_gradient = 0.0;  // brightness change from the centre to a corner, as a share
    double light_angle = 0.0;     // radians, where the light comes from
    double vignette = 0.0;        // share of light lost in the corners
    double exposure = 1.0;        // gain before clipping; above 1 saturates the glass
    int jpeg_quality = 90;
};

// The scene as the sensor records it: 8-bit grey, width x height.
cv::Mat film(const std::vector<float> &luminance, int width, int height, const CameraLook &camera, uint32_t noise_seed);

// JPEG bytes of an 8-bit grey picture, or empty on failure.
std::vector<uint8_t> encode_grey_jpeg(const cv::Mat &grey, int quality);

}  // namespace probesim
