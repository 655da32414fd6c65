// The H.264 quality callers see (0..100, higher is better) against the
// encoder QP the module speaks (20 is best, 40 worst).
#pragma once

#include <cstdint>

constexpr uint32_t kMaxH264Quality = 100;

// quality is clamped to 0..100 by the caller.
inline uint32_t h264_qp_from_quality(uint32_t quality)
{
    return (kMaxH264Quality - quality) / 5 + 20;
}

// Unsigned, so a wild answer from the module wraps instead of overflowing.
inline int h264_quality_from_qp(uint32_t qp)
{
    return static_cast<int>(200u - 5u * qp);
}
