// Completes Motion-JPEG frames that were sent without Huffman tables.
#pragma once

#include <cstdint>

#include "qrn_net.h"

constexpr int kHuffmanBlockSize = 432;

// The four DHT segments of the standard tables, in the order they are inserted.
const uint8_t *standard_huffman_block();

// Turns an assembly buffer (FrameHeader, then data) of assembled_length bytes
// into a new malloc'd FrameElement with zeroed rate words. While completion
// is on, a JPEG frame without DHT segments gets the standard tables just
// before its first SOF0. NULL when the length disagrees with the header or
// the allocation fails.
FrameElement *build_frame_element(const uint8_t *buffer, uint32_t assembled_length);
