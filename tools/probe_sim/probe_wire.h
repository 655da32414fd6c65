// Byte layout of the packets the simulated probe exchanges with a host.
// Everything is little-endian and written byte by byte, so the simulator
// never depends on the host's struct packing or byte order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace probesim::wire {

constexpr size_t kHeaderSize = 16;
constexpr uint32_t kMaxPayload = 64 * 1024;

constexpr uint16_t kLogin = 0x0001;
constexpr uint16_t kLogout = 0x0002;
constexpr uint16_t kGetCompany = 0x000C;
constexpr uint16_t kSetEncrypt = 0x000D;
constexpr uint16_t kSetBcastEchoPasswd = 0x000E;
constexpr uint16_t kSetCustom = 0xF000;
constexpr uint16_t kGetCustom = 0xF001;

constexpr uint16_t kStatusOk = 0x0000;
constexpr uint16_t kStatusUnsupported = 0x0001;
constexpr uint16_t kStatusLoginRefused = 0xFFF3;

inline void put_u16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t get_u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t get_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct CommandHeader {
    std::array<uint8_t, 3> magic{{'Q', 'R', 'N'}};
    uint16_t code = 0;
    uint16_t status = 0;
    uint32_t token = 0;
    uint32_t length = 0;

    bool magic_ok() const { return magic[0] == 'Q' && magic[1] == 'R' && magic[2] == 'N'; }
};

inline std::array<uint8_t, kHeaderSize> encode(const CommandHeader &h)
{
    std::array<uint8_t, kHeaderSize> out{};
    out[0] = h.magic[0];
    out[1] = h.magic[1];
    out[2] = h.magic[2];
    put_u16(&out[4], h.code);
    put_u16(&out[6], h.status);
    put_u32(&out[8], h.token);
    put_u32(&out[12], h.length);
    return out;
}

inline CommandHeader decode_command_header(const uint8_t *p)
{
    CommandHeader h;
    h.magic = {{p[0], p[1], p[2]}};
    h.code = get_u16(p + 4);
    h.status = get_u16(p + 6);
    h.token = get_u32(p + 8);
    h.length = get_u32(p + 12);
    return h;
}

enum class StreamType : uint8_t { Video = 0, Picture = 1, Audio = 2, Serial = 3, ParamChange = 4 };

struct StreamHeader {
    uint32_t token = 0;
    StreamType type = StreamType::Video;
    uint8_t fragment_count = 1;
    uint8_t fragment_index = 0;
    uint32_t length = 0;
};

inline std::array<uint8_t, kHeaderSize> encode(const StreamHeader &h)
{
    std::array<uint8_t, kHeaderSize> out{};
    out[0] = 'Q';
    out[1] = 'R';
    out[2] = 'N';
    out[3] = 0;  // sub-code
    put_u32(&out[4], h.token);
    out[8] = static_cast<uint8_t>(h.type);
    out[9] = h.fragment_count;
    out[10] = h.fragment_index;
    put_u32(&out[12], h.length);
    return out;
}

}  // namespace probesim::wire
