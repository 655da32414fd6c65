// Byte layout of the packets the simulated probe exchanges with a host.
// Everything is little-endian and written byte by byte, so the simulator
// never depends on the host's struct packing or byte order.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace probesim::wire {

constexpr size_t kHeaderSize = 16;
constexpr uint32_t kMaxPayload = 64 * 1024;

constexpr uint16_t kLogin = 0x0001;
constexpr uint16_t kLogout = 0x0002;
constexpr uint16_t kGetMac = 0x0004;
constexpr uint16_t kGetClock = 0x0005;
constexpr uint16_t kSetClock = 0x0007;
constexpr uint16_t kGetCompany = 0x000C;
constexpr uint16_t kSetEncrypt = 0x000D;
constexpr uint16_t kSetBcastEchoPasswd = 0x000E;
constexpr uint16_t kSetCustom = 0xF000;
constexpr uint16_t kGetCustom = 0xF001;

constexpr uint16_t kSetPeerMaxFrame = 0x000A;
constexpr uint16_t kGetVideoInfo = 0x1000;
constexpr uint16_t kSetVideoCtrl = 0x1005;
constexpr uint16_t kSetFormat = 0x1006;
constexpr uint16_t kSetResolution = 0x1007;
constexpr uint16_t kSetFps = 0x1008;
constexpr uint16_t kVideoBegin = 0x100A;
constexpr uint16_t kVideoEnd = 0x100B;
constexpr uint16_t kSnapshot = 0x100C;
constexpr uint16_t kSetSnapshotResolution = 0x100D;
constexpr uint16_t kResetVideoCtrl = 0x100E;
constexpr uint16_t kGetKeyInterval = 0x100F;
constexpr uint16_t kSetKeyInterval = 0x1010;
constexpr uint16_t kGetQp = 0x1011;
constexpr uint16_t kSetQp = 0x1012;
constexpr uint16_t kGetStreamValue = 0x1013;
constexpr uint16_t kSetStreamValue = 0x1014;
constexpr uint16_t kGetQuality = 0x1015;
constexpr uint16_t kSetQuality = 0x1016;
constexpr uint16_t kSetSnapshotQuality = 0x1017;
constexpr uint16_t kSetFpsLimit = 0x1018;
constexpr uint16_t kForceKeyFrame = 0x1019;
constexpr uint16_t kSetRotation = 0x1020;
constexpr uint16_t kGetRectYuyv = 0x1021;
constexpr uint16_t kSetRectYuyv = 0x1022;
constexpr uint16_t kGetCrop = 0x1023;
constexpr uint16_t kSetCrop = 0x1024;
constexpr uint16_t kSetXuCtrl = 0x1080;

constexpr uint16_t kGetAudioParams = 0x2002;
constexpr uint16_t kAudioBegin = 0x2004;
constexpr uint16_t kAudioEnd = 0x2005;

constexpr uint16_t kGetSerialParams = 0x3001;
constexpr uint16_t kSetSerialSpeed = 0x3002;
constexpr uint16_t kSetSerialDataBits = 0x3003;
constexpr uint16_t kSetSerialStopBits = 0x3004;
constexpr uint16_t kSetSerialParity = 0x3005;
constexpr uint16_t kSetSerialTimeout = 0x3006;
constexpr uint16_t kSerialOpen = 0x3007;
constexpr uint16_t kSerialClose = 0x3008;

constexpr uint16_t kGetPins = 0x4001;
constexpr uint16_t kSetPin = 0x4003;
constexpr uint16_t kSetAllPins = 0x4004;
constexpr uint16_t kI2cRead = 0x5002;
constexpr uint16_t kI2cWrite = 0x5003;

constexpr uint16_t kSetStation = 0x6002;
constexpr uint16_t kSetApClient = 0x6003;
constexpr uint16_t kSetAp = 0x6004;
constexpr uint16_t kRestartNetwork = 0x6005;
constexpr uint16_t kSetApChannel = 0x6006;
constexpr uint16_t kGetStation = 0x6007;
constexpr uint16_t kGetApClient = 0x6008;
constexpr uint16_t kGetAp = 0x6009;
constexpr uint16_t kGetApChannel = 0x600A;
constexpr uint16_t kCloseApClient = 0x6011;
constexpr uint16_t kSetApHidden = 0x6012;
constexpr uint16_t kGetApHidden = 0x6013;
constexpr uint16_t kGetNetType = 0x6016;

constexpr uint16_t kSetId = 0x8003;
constexpr uint16_t kSetAlias = 0x8004;
constexpr uint16_t kGetId = 0x8005;
constexpr uint16_t kGetAlias = 0x8006;
constexpr uint16_t kReboot = 0x8007;
constexpr uint16_t kReset = 0x8008;
constexpr uint16_t kControlText = 0x8FF1;

constexpr uint16_t kStatusOk = 0x0000;
constexpr uint16_t kStatusUnsupported = 0x0001;
constexpr uint16_t kStatusBadArgument = 0x0002;
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
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
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

// Frame formats of the FrameHeader format word.
constexpr uint32_t kFormatYuyv = 1;
constexpr uint32_t kFormatMjpeg = 2;
constexpr uint32_t kFormatH264 = 3;

constexpr size_t kFrameHeaderSize = 28;
constexpr size_t kFrameSequenceOffset = 12;
// The host assembles a frame, FrameHeader included, in a buffer of this size.
constexpr size_t kMaxFramePayload = 1024 * 1024;

inline uint32_t resolution_code(uint16_t width, uint16_t height)
{
    return static_cast<uint32_t>(width) << 16 | height;
}

inline uint16_t resolution_width(uint32_t code)
{
    return static_cast<uint16_t>(code >> 16);
}
inline uint16_t resolution_height(uint32_t code)
{
    return static_cast<uint16_t>(code);
}

// FrameHeader followed by the frame data; length_delta falsifies the length
// word for fault injection.
inline std::vector<uint8_t> frame_payload(uint32_t format, uint32_t resolution, uint32_t sequence, bool key_frame,
                                          const uint8_t *data, size_t size, uint32_t length_delta = 0)
{
    std::array<uint8_t, kFrameHeaderSize> header{};
    put_u32(&header[4], format);
    put_u32(&header[8], resolution);
    put_u32(&header[kFrameSequenceOffset], sequence);
    header[16] = key_frame ? 1 : 0;
    put_u32(&header[24], static_cast<uint32_t>(size) + length_delta);
    std::vector<uint8_t> out(kFrameHeaderSize + size);
    std::copy(header.begin(), header.end(), out.data());
    if (size > 0)
        std::copy(data, data + size, out.data() + kFrameHeaderSize);
    return out;
}

struct StreamHeader {
    uint32_t token = 0;
    uint8_t type = static_cast<uint8_t>(StreamType::Video);
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
    out[8] = h.type;
    out[9] = h.fragment_count;
    out[10] = h.fragment_index;
    put_u32(&out[12], h.length);
    return out;
}

}  // namespace probesim::wire
