#include "end_face_picture.h"

#include "end_face_scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

namespace probesim {

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr uint8_t kParticleLevel = 34;
constexpr uint8_t kCounterInk = 235;
constexpr uint8_t kCounterPaper = 0;
constexpr uint8_t kNeutralChroma = 128;

// One full turn of a particle takes a few minutes at 30 frames a second.
constexpr double kParticleTurnPerFrame = 0.0015;
constexpr double kScratchTurnPerFrame = 0.0006;

struct Particle {
    double orbit;   // share of the cladding radius
    double phase;   // radians at frame 0
    double speed;   // multiple of the base turn
    double radius;  // share of the cladding radius
};

constexpr Particle kParticles[] = {
    {0.55, 0.3, 1.0, 0.030}, {0.75, 2.1, -0.7, 0.020}, {0.40, 4.0, 1.3, 0.015},
    {0.85, 5.2, 0.5, 0.025}, {0.65, 1.2, -1.1, 0.012},
};

constexpr int kDigitColumns = 5;
constexpr int kDigitRows = 7;
constexpr int kCounterDigits = 8;

// 5x7 digit glyphs, one row per byte, the leftmost column in bit 4.
constexpr uint8_t kGlyphs[10][kDigitRows] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

double smoothstep(double edge0, double edge1, double x)
{
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

double cladding_radius(uint16_t width, uint16_t height)
{
    return kCladdingDiameterUm / 2.0 / live_um_per_px(width, height);
}

}  // namespace

const YuvImage &EndFacePicture::render(uint16_t width, uint16_t height, uint32_t frame_number, const PictureLook &look)
{
    if (width != image_.width || height != image_.height)
        build_background(width, height);
    build_tone_curve(look);
    std::memcpy(image_.y.data(), background_->data(), background_->size());
    const double turn = look.rotation * kPi / 180.0;
    draw_particles(frame_number, turn);
    draw_scratch(frame_number, turn);
    for (uint8_t &p : image_.y)
        p = tone_[p];
    draw_counter(frame_number);
    return image_;
}

void EndFacePicture::build_background(uint16_t width, uint16_t height)
{
    image_.width = width;
    image_.height = height;
    image_.y.assign(static_cast<size_t>(width) * height, 0);
    image_.u.assign(static_cast<size_t>(width / 2) * (height / 2), kNeutralChroma);
    image_.v.assign(image_.u.size(), kNeutralChroma);
    background_ = shared_face(width, height);
}

// Rendering the still face costs far more than drawing a frame on it, and
// senders make a picture per connection or per snapshot: every picture of a
// size shares one rendering, kept for the few sizes in use.
std::shared_ptr<const std::vector<uint8_t>> EndFacePicture::shared_face(uint16_t width, uint16_t height)
{
    constexpr size_t kSizesKept = 4;
    static std::mutex lock;
    static std::map<std::pair<uint16_t, uint16_t>, std::shared_ptr<const std::vector<uint8_t>>> faces;
    std::lock_guard<std::mutex> guard(lock);
    const auto found = faces.find({width, height});
    if (found != faces.end())
        return found->second;
    EndFaceScene scene;
    scene.width = width;
    scene.height = height;
    scene.centre_x = width / 2.0;
    scene.centre_y = height / 2.0;
    scene.um_per_px = live_um_per_px(width, height);
    const std::vector<float> levels = render_scene(scene);
    auto pixels = std::make_shared<std::vector<uint8_t>>(levels.size());
    for (size_t i = 0; i < levels.size(); ++i)
        (*pixels)[i] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(levels[i])), 0, 255));
    if (faces.size() >= kSizesKept)
        faces.clear();
    faces[{width, height}] = pixels;
    return pixels;
}

void EndFacePicture::build_tone_curve(const PictureLook &look)
{
    if (look.brightness == tone_brightness_ && look.contrast == tone_contrast_)
        return;
    tone_brightness_ = look.brightness;
    tone_contrast_ = look.contrast;
    const double gain = look.contrast / 50.0;
    const int offset = look.brightness - 128;
    for (int i = 0; i < 256; ++i) {
        const int value = static_cast<int>(std::lround((i - 128) * gain)) + 128 + offset;
        tone_[i] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
}

void EndFacePicture::draw_particles(uint32_t frame_number, double turn)
{
    const int width = image_.width;
    const int height = image_.height;
    const double clad = cladding_radius(image_.width, image_.height);
    for (const Particle &p : kParticles) {
        const double angle = p.phase + turn + frame_number * kParticleTurnPerFrame * p.speed;
        const double px = width / 2.0 + p.orbit * clad * std::cos(angle);
        const double py = height / 2.0 + p.orbit * clad * std::sin(angle);
        const double radius = std::max(1.5, p.radius * clad);
        const int x0 = std::max(0, static_cast<int>(px - radius - 1));
        const int x1 = std::min(width - 1, static_cast<int>(px + radius + 1));
        const int y0 = std::max(0, static_cast<int>(py - radius - 1));
        const int y1 = std::min(height - 1, static_cast<int>(py + radius + 1));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double d = std::hypot(x + 0.5 - px, y + 0.5 - py);
                const double cover = 1.0 - smoothstep(radius - 1.0, radius + 1.0, d);
                uint8_t &pixel = image_.y[static_cast<size_t>(y) * width + x];
                pixel = static_cast<uint8_t>(pixel + (kParticleLevel - pixel) * cover);
            }
        }
    }
}

void EndFacePicture::draw_scratch(uint32_t frame_number, double turn)
{
    const int width = image_.width;
    const int height = image_.height;
    const double clad = cladding_radius(image_.width, image_.height);
    const double angle = 0.7 + turn + frame_number * kScratchTurnPerFrame;
    const double dx = std::cos(angle);
    const double dy = std::sin(angle);
    // A chord through the cladding, off the centre so it crosses the core's edge.
    const double mx = width / 2.0 - 0.2 * clad * dy;
    const double my = height / 2.0 + 0.2 * clad * dx;
    const double half_length = 0.6 * clad;
    const double half_width = std::max(0.8, clad / 300.0);
    const int x0 = std::max(0, static_cast<int>(mx - half_length * std::fabs(dx) - 2));
    const int x1 = std::min(width - 1, static_cast<int>(mx + half_length * std::fabs(dx) + 2));
    const int y0 = std::max(0, static_cast<int>(my - half_length * std::fabs(dy) - 2));
    const int y1 = std::min(height - 1, static_cast<int>(my + half_length * std::fabs(dy) + 2));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double rx = x + 0.5 - mx;
            const double ry = y + 0.5 - my;
            const double along = rx * dx + ry * dy;
            const double across = std::fabs(-rx * dy + ry * dx);
            if (std::fabs(along) > half_length || across > half_width + 1.0)
                continue;
            const double cover = 1.0 - smoothstep(half_width - 0.5, half_width + 1.0, across);
            uint8_t &pixel = image_.y[static_cast<size_t>(y) * width + x];
            pixel = static_cast<uint8_t>(pixel * (1.0 - 0.55 * cover));
        }
    }
}

void EndFacePicture::draw_counter(uint32_t frame_number)
{
    const int scale = std::max(2, image_.height / 120);
    const int margin = scale * 2;
    const int advance = (kDigitColumns + 1) * scale;
    const int box_width = kCounterDigits * advance + scale;
    const int box_height = (kDigitRows + 2) * scale;
    for (int y = margin; y < margin + box_height; ++y)
        fill_luma_row(margin, y, box_width, kCounterPaper);
    uint32_t rest = frame_number;
    for (int digit = kCounterDigits - 1; digit >= 0; --digit) {
        const uint8_t *glyph = kGlyphs[rest % 10];
        rest /= 10;
        const int left = margin + scale + digit * advance;
        const int top = margin + scale;
        for (int row = 0; row < kDigitRows; ++row)
            for (int col = 0; col < kDigitColumns; ++col) {
                if (!(glyph[row] & (0x10 >> col)))
                    continue;
                for (int sy = 0; sy < scale; ++sy)
                    fill_luma_row(left + col * scale, top + row * scale + sy, scale, kCounterInk);
            }
    }
}

// The counter is drawn at a fixed size: on a small picture it is cut at the edges.
void EndFacePicture::fill_luma_row(int x, int y, int length, uint8_t value)
{
    if (y < 0 || y >= image_.height || x >= image_.width)
        return;
    const int end = std::min<int>(x + length, image_.width);
    const int begin = std::max(x, 0);
    if (begin < end)
        std::memset(&image_.y[static_cast<size_t>(y) * image_.width + begin], value, end - begin);
}

}  // namespace probesim
