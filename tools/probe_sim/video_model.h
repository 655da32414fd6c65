// The simulated probe's video settings: what it offers, what is set now, and
// how it answers the video commands. No I/O here; the simulator sends what
// an answer asks for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model_answer.h"

namespace probesim {

constexpr size_t kVideoInfoSize = 736;
constexpr size_t kVideoControlCount = 10;
constexpr size_t kVideoControlSize = 32;

struct FrameSize {
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t max_fps = 0;
};

struct FormatOffer {
    uint32_t format = 0;
    std::vector<FrameSize> sizes;  // at most 12; the first is the format's default
};

// The eight words of one picture control, in wire order.
struct VideoControl {
    uint32_t present = 0;
    int32_t minimum = 0;
    int32_t current = 0;
    int32_t maximum = 0;
    uint32_t step = 0;
    int32_t default_value = 0;
    uint32_t auto_capable = 0;  // the host clears the mode word before a set when this is set
    uint32_t mode = 0;
};

enum ControlIndex : uint32_t { kBrightness = 0, kContrast = 1 };

// Everything the stream side needs to produce frames, copied out at once.
struct VideoSettings {
    uint32_t format = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t fps = 0;
    uint32_t jpeg_quality = 0;
    uint32_t qp = 0;
    uint32_t key_interval = 0;
    int32_t brightness = 0;  // control range 0..255
    int32_t contrast = 0;    // control range 0..100
    uint32_t rotation = 0;   // degrees
};

struct SnapshotSettings {
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t quality = 0;
    int32_t brightness = 0;
    int32_t contrast = 0;
    uint32_t rotation = 0;
};

enum class VideoEvent { None, Begin, End, Snapshot, ForceKeyFrame, PeerMaxFrame };

struct VideoAnswer : ModelAnswer {
    VideoEvent event = VideoEvent::None;
    uint32_t value = 0;  // the new peer maximum for PeerMaxFrame
};

class VideoModel {
public:
    // Format 3 is offered only where the H.264 encoder opens. That is
    // looked up on first need, as it loads the codec library.
    VideoModel();

    static bool handles(uint16_t code);
    VideoAnswer answer(uint16_t code, const std::vector<uint8_t> &payload);

    std::array<uint8_t, kVideoInfoSize> info_block() const;
    VideoSettings settings() const;
    SnapshotSettings snapshot() const;
    void set_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps);

private:
    const std::vector<FormatOffer> &offers() const;
    const FormatOffer *offer(uint32_t format) const;
    const FrameSize *size_of(uint32_t format, uint32_t resolution) const;
    bool select_format(uint32_t format);
    bool select_resolution(uint32_t resolution);
    bool select_fps(uint32_t fps);
    uint32_t max_fps() const;

    std::vector<uint8_t> control_bytes(size_t index) const;
    std::vector<uint8_t> control_table() const;
    std::vector<uint8_t> param_words() const;
    std::vector<uint8_t> h264_words() const;
    VideoAnswer set_control(const std::vector<uint8_t> &payload);

    mutable std::vector<FormatOffer> offers_;  // empty until first needed
    std::array<VideoControl, kVideoControlCount> controls_{};
    uint32_t format_ = 0;
    uint32_t resolution_ = 0;
    uint32_t fps_ = 0;
    uint32_t jpeg_quality_ = 80;
    uint32_t snapshot_resolution_ = 0;
    uint32_t snapshot_quality_ = 90;
    uint32_t qp_ = 26;
    uint32_t key_interval_ = 30;
    uint32_t stream_value_ = 2000;
    uint32_t fps_limit_ = 0;
    uint32_t rotation_ = 0;
    std::array<uint8_t, 16> yuyv_window_{};
    std::array<uint8_t, 16> crop_{};
    std::array<uint8_t, 70> xu_block_{};
};

}  // namespace probesim
