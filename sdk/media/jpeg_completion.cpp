#include "jpeg_completion.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "qrn_net.h"

namespace {

constexpr int kElementHeadSize = 8;
constexpr uint32_t kDhtSearchPositions = 2049;

// The standard tables of ITU-T T.81 Annex K.3: code-length counts, then values.
constexpr uint8_t kDcLuminanceCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChrominanceCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLuminanceCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChrominanceCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

template <size_t N>
uint8_t *put_segment(uint8_t *out, uint8_t class_id, const uint8_t (&counts)[16], const uint8_t (&values)[N])
{
    const size_t length = 2 + 1 + 16 + N;
    *out++ = 0xFF;
    *out++ = 0xC4;
    *out++ = static_cast<uint8_t>(length >> 8);
    *out++ = static_cast<uint8_t>(length);
    *out++ = class_id;
    std::memcpy(out, counts, 16);
    std::memcpy(out + 16, values, N);
    return out + 16 + N;
}

std::array<uint8_t, kHuffmanBlockSize> make_block()
{
    std::array<uint8_t, kHuffmanBlockSize> block{};
    uint8_t *out = block.data();
    out = put_segment(out, 0x00, kDcLuminanceCounts, kDcValues);
    out = put_segment(out, 0x10, kAcLuminanceCounts, kAcLuminanceValues);
    out = put_segment(out, 0x01, kDcChrominanceCounts, kDcValues);
    put_segment(out, 0x11, kAcChrominanceCounts, kAcChrominanceValues);
    return block;
}

// Off when the library is loaded; shared by every session.
std::atomic<int> completion_switch{0};

bool is_marker(const uint8_t *data, uint32_t length, uint32_t p, uint8_t marker)
{
    return p + 1 < length && data[p] == 0xFF && data[p + 1] == marker;
}

// Bounded to the first 2049 positions so the cost does not grow with the
// frame; it also stops at the end of the data rather than reading past it.
bool has_huffman_tables(const uint8_t *jpeg, uint32_t length)
{
    if (is_marker(jpeg, length, 0, 0xDA))
        return false;
    for (uint32_t p = 0; p < kDhtSearchPositions && p < length; ++p) {
        if (is_marker(jpeg, length, p, 0xC4))
            return true;
        if (is_marker(jpeg, length, p + 1, 0xDA))
            return false;
    }
    return false;
}

uint32_t insertion_point(const uint8_t *jpeg, uint32_t length)
{
    for (uint32_t q = 0; q + 1 < length; ++q)
        if (jpeg[q] == 0xFF && jpeg[q + 1] == 0xC0)
            return q;
    return length;
}

}  // namespace

const uint8_t *standard_huffman_block()
{
    static const std::array<uint8_t, kHuffmanBlockSize> block = make_block();
    return block.data();
}

size_t frame_element_size(const uint8_t *frame_header, bool *room_for_tables)
{
    const uint32_t data_length = get_u32le(frame_header + 24);
    const bool room =
        completion_switch.load(std::memory_order_relaxed) == 1 && get_u32le(frame_header + 4) == QRN_FORMAT_JPEG;
    *room_for_tables = room;
    return size_t{kElementHeadSize} + kFrameHeaderSize + data_length + (room ? kHuffmanBlockSize : 0);
}

FrameElement *start_frame_element(void *block, const uint8_t *frame_header)
{
    // Only the rate words are cleared: the frame's bytes overwrite the rest.
    auto *bytes = static_cast<uint8_t *>(block);
    std::memset(bytes, 0, kElementHeadSize);
    std::memcpy(bytes + kElementHeadSize, frame_header, kFrameHeaderSize);
    return reinterpret_cast<FrameElement *>(bytes);
}

void complete_frame_element(FrameElement *element, bool room_for_tables)
{
    const uint32_t length = element->header.length;
    uint8_t *jpeg = element->data;
    if (!room_for_tables || has_huffman_tables(jpeg, length))
        return;
    const uint32_t q = insertion_point(jpeg, length);
    std::memmove(jpeg + q + kHuffmanBlockSize, jpeg + q, length - q);
    std::memcpy(jpeg + q, standard_huffman_block(), kHuffmanBlockSize);
    element->header.length = length + kHuffmanBlockSize;
}

FrameElement *build_frame_element(const uint8_t *buffer, uint32_t assembled_length)
{
    if (assembled_length < kFrameHeaderSize || assembled_length - kFrameHeaderSize != get_u32le(buffer + 24))
        return nullptr;
    bool room = false;
    void *block = std::malloc(frame_element_size(buffer, &room));
    if (!block)
        return nullptr;
    FrameElement *element = start_frame_element(block, buffer);
    std::memcpy(element->data, buffer + kFrameHeaderSize, assembled_length - kFrameHeaderSize);
    complete_frame_element(element, room);
    return element;
}

extern "C" int QRN_Video_JpegFrameHuffmanCheck(int enable)
{
    const int value = enable ? 1 : 0;
    completion_switch = value;
    return value;
}
