// Completes Motion-JPEG frames that were sent without Huffman tables.
#pragma once

#include <cstdint>

#include "qrn_net.h"

constexpr int kHuffmanBlockSize = 432;

// The four DHT segments of the standard tables, in the order they are inserted.
const uint8_t *standard_huffman_block();

constexpr int kFrameHeaderSize = 28;

// A new malloc'd element for a frame with this 28-byte header: rate words
// zero, the header copied, room for its data and, while completion is on and
// the frame is JPEG, for the tables too (*room_for_tables). NULL when out of
// memory.
FrameElement *allocate_frame_element(const uint8_t *frame_header, bool *room_for_tables);
// Once the data is in: inserts the standard tables just before the first
// SOF0 of a JPEG frame that has none, when there is room for them.
void complete_frame_element(FrameElement *element, bool room_for_tables);

// Turns an assembly buffer (FrameHeader, then data) of assembled_length bytes
// into a new malloc'd FrameElement with zeroed rate words. While completion
// is on, a JPEG frame without DHT segments gets the standard tables just
// before its first SOF0. NULL when the length disagrees with the header or
// the allocation fails.
FrameElement *build_frame_element(const uint8_t *buffer, uint32_t assembled_length);
