#include "alaw_encoder.h"

namespace probesim {

namespace {

// Upper end of each of the eight segments, in 13-bit magnitude.
constexpr int kSegmentEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
// Positive codes carry the sign bit; every code has its even bits inverted.
constexpr uint8_t kPositiveMask = 0xD5;
constexpr uint8_t kNegativeMask = 0x55;

}  // namespace

uint8_t alaw_encode(int16_t sample)
{
    int magnitude = sample >> 3;  // 13 bits kept
    uint8_t mask = kPositiveMask;
    if (magnitude < 0) {
        mask = kNegativeMask;
        magnitude = -magnitude - 1;  // one's complement keeps -4096 in range
    }
    int segment = 0;
    while (segment < 8 && magnitude > kSegmentEnds[segment])
        ++segment;
    if (segment == 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    const int step = segment < 2 ? (magnitude >> 1) & 0x0F : (magnitude >> segment) & 0x0F;
    return static_cast<uint8_t>(((segment << 4) | step) ^ mask);
}

}  // namespace probesim
