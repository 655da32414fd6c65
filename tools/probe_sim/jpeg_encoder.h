// Baseline Motion-JPEG frames from the simulated probe's picture.
#pragma once

#include <cstdint>
#include <vector>

#include "end_face_picture.h"

namespace probesim {

// 4:2:0 baseline JPEG with the standard Huffman tables, so that a host can
// restore them when they were stripped. False when libjpeg fails.
bool encode_jpeg(const YuvImage &image, uint32_t quality, std::vector<uint8_t> &out);

// Drops every DHT segment before the start of scan, as many USB camera
// chips send their frames.
void strip_huffman_tables(std::vector<uint8_t> &jpeg);

}  // namespace probesim
