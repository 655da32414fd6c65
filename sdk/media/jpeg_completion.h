// Completes Motion-JPEG frames that were sent without Huffman tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qrn_net.h"

constexpr int kHuffmanBlockSize = 432;

// The four DHT segments of the standard tables, in the order they are inserted.
const uint8_t *standard_huffman_block();

constexpr int kFrameHeaderSize = 28;

// The bytes an element needs for a frame with this 28-byte header: room for
// its data and, while completion is on and the frame is JPEG, for the tables
// too (*room_for_tables).
size_t frame_element_size(const uint8_t *frame_header, bool *room_for_tables);
// Makes block, of at least frame_element_size bytes, the element of that
// frame: rate words zero, the header copied.
FrameElement *start_frame_element(void *block, const uint8_t *frame_header);
// Once the data is in: inserts the standard tables just before the first
// SOF0 of a JPEG frame that has none, when there is room for them.
void complete_frame_element(FrameElement *element, bool room_for_tables);

// Turns an assembly buffer (FrameHeader, then data) of assembled_length bytes
// into a new malloc'd FrameElement with zeroed rate words. While completion
// is on, a JPEG frame without DHT segments gets the standard tables just
// before its first SOF0. NULL when the length disagrees with the header or
// the allocation fails.
FrameElement *build_frame_element(const uint8_t *buffer, uint32_t assembled_length);
