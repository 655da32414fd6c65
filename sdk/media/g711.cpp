// G.711 A-law and mu-law coding between 16-bit linear samples and 8-bit codes.
// Every table is built at compile time, so the calls keep no state, never
// allocate and can run in a caller's real-time audio path.
#include <array>
#include <climits>
#include <cstdint>

#include "qrn_net.h"

namespace {

constexpr int kMaxMagnitude = 32767;
constexpr int kUlawSmallMagnitude = 4;  // below this, a mu-law sample is coded as zero
constexpr int kAlawCompressSize = 2048;
constexpr int kUlawCompressSize = 4096;
static_assert((kMaxMagnitude >> 4) == kAlawCompressSize - 1, "every magnitude has an A-law entry");
static_assert(((kMaxMagnitude - kUlawSmallMagnitude) >> 3) == kUlawCompressSize - 1,
              "every magnitude has a mu-law entry");

// One of the eight segments of a law, in 16-bit scale: the magnitude where
// its first interval starts and the width of each of its sixteen intervals.
struct Segment {
    int lower_edge;
    int interval;
};

// A-law: segments 0 and 1 share the finest interval.
constexpr Segment alaw_segment(int segment)
{
    return segment == 0 ? Segment{0, 16} : Segment{256 << (segment - 1), 16 << (segment - 1)};
}

// Mu-law: the 14-bit magnitude plus a bias of 33 doubles from segment to
// segment; in 16-bit scale segment s starts at (128 << s) - 132. Segment 0
// thus starts at -4, so the zero code's interval is only [0, 4) in magnitude.
constexpr Segment ulaw_segment(int segment)
{
    return Segment{(128 << segment) - 132, 8 << segment};
}

// Magnitude codes 0..127 are segment << 4 | interval; the laws turn them
// into wire codes by inverting even bits (A-law) or all bits (mu-law) and
// setting bit 7 for positive values. A negative value clears bit 7.
constexpr uint8_t alaw_positive_code(int magnitude_code)
{
    return static_cast<uint8_t>(magnitude_code ^ 0xD5);
}
constexpr uint8_t ulaw_positive_code(int magnitude_code)
{
    return static_cast<uint8_t>(magnitude_code ^ 0xFF);
}
constexpr uint8_t negative(uint8_t positive_code)
{
    return static_cast<uint8_t>(positive_code & 0x7F);
}

// Each code decodes to the middle of its interval.
template <typename SegmentOf, typename PositiveCode>
constexpr std::array<int16_t, 256> make_expansion(SegmentOf segment_of, PositiveCode positive_code)
{
    std::array<int16_t, 256> table{};
    for (int magnitude_code = 0; magnitude_code < 128; ++magnitude_code) {
        const Segment segment = segment_of(magnitude_code >> 4);
        int lower = segment.lower_edge + (magnitude_code & 0x0F) * segment.interval;
        const int upper = lower + segment.interval;
        if (lower < 0)
            lower = 0;
        const int middle = (lower + upper) / 2;
        const uint8_t code = positive_code(magnitude_code);
        table[code] = static_cast<int16_t>(middle);
        table[negative(code)] = static_cast<int16_t>(-middle);
    }
    return table;
}

// Entry k holds the positive code of magnitude first + k * stride; every
// decision level of the law falls on that grid, so one look-up is exact.
// Magnitudes past the last interval stay in the top code.
template <int Size, typename SegmentOf, typename PositiveCode>
constexpr std::array<uint8_t, Size> make_compression(SegmentOf segment_of, PositiveCode positive_code, int first,
                                                     int stride)
{
    std::array<uint8_t, Size> table{};
    int magnitude_code = 0;
    for (int k = 0; k < Size; ++k) {
        const int magnitude = first + k * stride;
        while (magnitude_code < 127) {
            const Segment next = segment_of((magnitude_code + 1) >> 4);
            if (magnitude < next.lower_edge + ((magnitude_code + 1) & 0x0F) * next.interval)
                break;
            ++magnitude_code;
        }
        table[k] = positive_code(magnitude_code);
    }
    return table;
}

constexpr std::array<int16_t, 256> kAlawExpansion = make_expansion(alaw_segment, alaw_positive_code);
constexpr std::array<int16_t, 256> kUlawExpansion = make_expansion(ulaw_segment, ulaw_positive_code);
constexpr std::array<uint8_t, kAlawCompressSize> kAlawCompression =
    make_compression<kAlawCompressSize>(alaw_segment, alaw_positive_code, 0, 16);
constexpr std::array<uint8_t, kUlawCompressSize> kUlawCompression =
    make_compression<kUlawCompressSize>(ulaw_segment, ulaw_positive_code, kUlawSmallMagnitude, 8);

// The zero code's interval is [0, 4) on either side, so it decodes to +-2
// rather than 0, and a decoded zero code still encodes to itself.
static_assert(kUlawExpansion[0xFF] == 2 && kUlawExpansion[0x7F] == -2, "mu-law zero codes");

// -32768 has no positive counterpart; it is coded as -32767 so that the
// look-up stays inside the tables.
constexpr int magnitude_of(int16_t sample)
{
    return sample < 0 ? (sample == INT16_MIN ? kMaxMagnitude : -sample) : sample;
}

uint8_t alaw_code(int16_t sample)
{
    const uint8_t code = kAlawCompression[magnitude_of(sample) >> 4];
    return sample < 0 ? negative(code) : code;
}

uint8_t ulaw_code(int16_t sample)
{
    const int magnitude = magnitude_of(sample);
    const uint8_t code = magnitude < kUlawSmallMagnitude ? ulaw_positive_code(0)
                                                         : kUlawCompression[(magnitude - kUlawSmallMagnitude) >> 3];
    return sample < 0 ? negative(code) : code;
}

// The result is a byte count, so a count whose bytes do not fit in an int is
// refused like a count of zero instead of overflowing the result.
int decode(const std::array<int16_t, 256> &expansion, int16_t *out, const uint8_t *in, int count)
{
    if (count <= 0 || count > INT_MAX / 2)
        return 0;
    for (int i = 0; i < count; ++i)
        out[i] = expansion[in[i]];
    return 2 * count;
}

template <uint8_t (*CodeOf)(int16_t)>
int encode(uint8_t *out, const int16_t *in, int in_bytes)
{
    const int count = in_bytes / 2;
    for (int i = 0; i < count; ++i)
        out[i] = CodeOf(in[i]);
    return count > 0 ? count : 0;
}

}  // namespace

extern "C" {

int QRN_Coder_G711a_Decode(int16_t *out, const uint8_t *in, int count)
{
    return decode(kAlawExpansion, out, in, count);
}

int QRN_Coder_G711u_Decode(int16_t *out, const uint8_t *in, int count)
{
    return decode(kUlawExpansion, out, in, count);
}

int QRN_Coder_G711a_Encode(uint8_t *out, const int16_t *in, int in_bytes)
{
    return encode<alaw_code>(out, in, in_bytes);
}

int QRN_Coder_G711u_Encode(uint8_t *out, const int16_t *in, int in_bytes)
{
    return encode<ulaw_code>(out, in, in_bytes);
}

}  // extern "C"
