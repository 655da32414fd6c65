#include "end_face_camera.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace probesim {

cv::Mat film(const std::vector<float> &luminance, int width, int height, const CameraLook &camera, uint32_t noise_seed)
{
    cv::Mat light(height, width, CV_32F);
    if (luminance.size() == static_cast<size_t>(width) * height)
        std::copy(luminance.begin(), luminance.end(), light.ptr<float>());
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double corner = std::max(1.0, std::hypot(cx, cy));
    const double ux = std::cos(camera.light_angle);
    const double uy = std::sin(camera.light_angle);
    for (int y = 0; y < height; ++y) {
        float *row = light.ptr<float>(y);
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / corner;
            const double dy = (y - cy) / corner;
            const double gain = camera.exposure * (1.0 + camera.light_gradient * (dx * ux + dy * uy)) *
                                (1.0 - camera.vignette * (dx * dx + dy * dy));
            row[x] = static_cast<float>(row[x] * std::max(gain, 0.0));
        }
    }
    if (camera.blur_sigma_px > 0.0)
        cv::GaussianBlur(light, light, cv::Size(), camera.blur_sigma_px);
    if (camera.noise_sigma > 0.0) {
        cv::Mat noise(height, width, CV_32F);
        cv::RNG rng(noise_seed);
        rng.fill(noise, cv::RNG::NORMAL, 0.0, camera.noise_sigma);
        light += noise;
    }
    cv::Mat grey;
    light.convertTo(grey, CV_8U);  // rounds and saturates
    return grey;
}

std::vector<uint8_t> encode_grey_jpeg(const cv::Mat &grey, int quality)
{
    std::vector<uint8_t> bytes;
    if (!cv::imencode(".jpg", grey, bytes, {cv::IMWRITE_JPEG_QUALITY, quality}))
        bytes.clear();
    return bytes;
}

}  // namespace probesim
