// The simulated probe's video stream written straight to a plain socket, with
// the same frame sender a session uses, so the benchmark can compare the SDK
// against a reader that does nothing but read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "probe_simulator.h"
#include "video_model.h"

struct PlainStream {
    uint32_t token = 0;  // the session token the packets carry
    probesim::VideoSettings settings;
    probesim::StreamOptions options;
};

// Connects to address:port, writes `frames` video frames, then closes.
// Returns the bytes written, 0 on failure.
uint64_t stream_frames_to(const std::string &address, uint16_t port, size_t frames, const PlainStream &stream);
