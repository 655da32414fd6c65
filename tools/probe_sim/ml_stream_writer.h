// The bytes of one stream connection of the second kind of module: the end
// face as a multipart/x-mixed-replace Motion-JPEG stream, paced at the frame
// rate, with the ml faults applied.
#pragma once

#include "end_face_picture.h"
#include "fault.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace probesim {

constexpr const char *kMlBoundary = "mlframe";
// A part this large does not fit the host's 1,228,800-byte frame buffer.
constexpr size_t kMlOversizedPart = 1228800 + 4096;
// Every this-many-th frame is hit by ml-corrupt-jpeg and ml-oversized-frame.
constexpr uint32_t kMlFaultPeriod = 5;

struct MlStreamSettings {
    uint16_t width = 1280;
    uint16_t height = 960;
    uint32_t fps = 15;
    Fault fault = Fault::None;
};

class MlStreamWriter {
public:
    // Waits for the given time; false when the connection must end instead.
    using Pause = std::function<bool(std::chrono::steady_clock::duration)>;
    // Called before each frame; false ends the connection (the module went away).
    using BeforeFrame = std::function<bool()>;

    MlStreamWriter(const MlStreamSettings &settings, Pause pause, BeforeFrame before_frame);

    // Fills at most max bytes of out; 0 when the connection must end.
    size_t next(char *out, size_t max);

private:
    bool make_part();

    MlStreamSettings settings_;
    Pause pause_;
    BeforeFrame before_frame_;
    EndFacePicture picture_;
    std::vector<uint8_t> pending_;
    size_t offset_ = 0;
    size_t headers_end_ = 0;  // pending_[headers_end_, data_end_) is the frame itself
    size_t data_end_ = 0;
    uint32_t frames_ = 0;
    std::chrono::steady_clock::time_point first_frame_;
};

}  // namespace probesim
