// A simulated inspection probe: a real device on real sockets, for tests,
// benchmarks and for trying the SDK without hardware. Its packet code is
// written independently of the SDK so that each side checks the other.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery_responder.h"

namespace probesim {

// One general-purpose pin; its number is its place in the table.
struct GpioPin {
    uint8_t mode = 0;
    uint8_t level = 0;
};

struct WirelessNetwork {
    std::string ssid;
    std::string passphrase;
};

// The network type the probe reports for its current role.
constexpr uint32_t kNetTypeAp = 0;
constexpr uint32_t kNetTypeApClient = 1;
constexpr uint32_t kNetTypeStation = 2;

struct WirelessSettings {
    WirelessNetwork ap{"QRN-PROBE-SIM", "probe-sim-1"};
    WirelessNetwork ap_client;  // none until a host sets one
    WirelessNetwork station;
    uint32_t ap_channel = 6;
    uint32_t ap_hidden = 0;
    uint32_t net_type = kNetTypeAp;
};

struct DeviceModel {
    uint32_t protocol_version = 0x00010203;  // 1.2.3
    uint32_t token = 0x5A17C0DE;
    std::array<uint8_t, 6> mac{{0x02, 0x51, 0x52, 0x4E, 0x00, 0x01}};
    std::string id = "SQRN123456ABCDE";
    std::string alias = "probe-sim";
    std::string company = "Kelvo Optics";
    uint32_t device_id = 123456;
    uint32_t peer_max_frame = 30;
    std::array<uint8_t, 256> custom{};
    // Access strings the login accepts; empty accepts any (including none).
    std::vector<std::string> access_strings;
    uint64_t clock_seconds = 1546300800;  // the clock after a reset: 2019-01-01 00:00:00 UTC
    // Devices of protocol version 2.x and older report only the first five.
    std::vector<GpioPin> gpio_pins;        // eight pins by default
    uint8_t i2c_address = 0x50;            // the one device on the I2C bus
    std::array<uint8_t, 256> i2c_registers{};  // filled with a fixed pattern by default
    WirelessSettings wireless;
    DeviceModel();
};

enum class Fault {
    None,
    RefuseLogin,       // login answered with status 0xFFF3
    AnswerLate,        // every answer delayed by 9 s (past the 8 s command time-out)
    WrongMagic,        // answers start with "QRX"
    WrongCode,         // answers carry request code + 1
    WrongToken,        // answers carry token + 1
    NonzeroStatus,     // answers (other than login) carry status 0x0001
    CloseMidResponse,  // header sent announcing a payload, then the connection closes
    LoginNoPayload,    // login answered with a bare header
    LoginShortPayload, // login answered with a 100-byte payload
    VideoInfoShort,    // 0x1000 answered with 700 bytes instead of 736
    AudioParamsShort,  // 0x2002 answered with 8 bytes instead of 12
    AudioParamsLong,   // 0x2002 answered with 16 bytes
    SerialParamsShort, // 0x3001 answered with 16 bytes instead of 20
    SerialParamsLong,  // 0x3001 answered with 24 bytes
    NoConnectBack,     // logins are accepted, but no stream connection is opened back
    AnswerOneByteShort, // answers with a payload (other than login) lose their last byte
    AnswerOneByteLong,  // answers (other than login) carry one zero byte more
    SilentGpio,         // GPIO changes are made without the sub-type 5 notice
    AliasWithoutNul,    // 0x8006 answered with the alias text but no NUL
    // Stream faults: applied once, to the next video frame sent, then they clear themselves.
    StreamWrongMagic,       // that frame's first packet header starts "QRX"
    StreamWrongToken,       // that frame's first packet header carries token + 1
    StreamLengthMismatch,   // that frame's FrameHeader length is 1 more than the data sent
    StreamOversizedPayload, // before that frame, one video packet whose payload is 1 MiB + 64 bytes (count 1, index 0), payload all zero
    StreamUnknownType,      // before that frame, one packet of stream type 7 with 100 bytes
    StreamDropMidFrame,     // the stream connection closes after that frame's first fragment (no reconnect for this one: the host ends the session)
};

struct StreamOptions {
    bool strip_dht = false;          // Motion-JPEG frames without DHT segments
    uint32_t fragment_size = 32768;  // payload bytes per stream packet
    uint32_t drop_every = 0;         // H.264: every n-th encoded frame is not sent, so the host sees a gap
    bool unlimited_rate = false;     // send frames as fast as the connection takes them
    uint32_t distinct_frames = 0;    // > 0: encode this many frames once, then cycle them (benchmarks)
};

// One raw stream packet, for tests that need what the device would never send.
struct StreamPacket {
    uint8_t type = 0;
    uint8_t fragment_count = 1;
    uint8_t fragment_index = 0;
    std::vector<uint8_t> payload;
    bool magic_ok = true;
    uint32_t token_delta = 0;  // added to the session token
};

struct ReceivedPacket {
    uint16_t code = 0;
    uint16_t status = 0;
    uint32_t token = 0;
    uint32_t declared_length = 0;  // length field of the header
    std::vector<uint8_t> payload;  // bytes that actually followed
};

class ProbeSimulator {
public:
    explicit ProbeSimulator(DeviceModel model = DeviceModel());
    ~ProbeSimulator();
    ProbeSimulator(const ProbeSimulator &) = delete;
    ProbeSimulator &operator=(const ProbeSimulator &) = delete;

    // Listens for command connections on address:port. False when it cannot bind.
    bool start(const std::string &address, uint16_t port = 34674);
    void stop();
    // Answers discovery on the command address (UDP 34673) until stop().
    // False before start or when that port cannot be bound.
    bool start_discovery(const DiscoveryModel &model = DiscoveryModel());

    void set_fault(Fault fault);
    DeviceModel model() const;

    // Every command packet received, oldest first.
    std::vector<ReceivedPacket> packets() const;
    void clear_packets();
    bool wait_for_packets(size_t count, std::chrono::milliseconds timeout) const;

    // Stream connections opened back to hosts after a login (total since start),
    // and how many are open right now.
    size_t stream_connections_made() const;
    size_t stream_connections_open() const;
    bool wait_for_stream_connections(size_t count, std::chrono::milliseconds timeout) const;

    void set_stream_options(const StreamOptions &options);
    // Applies format, size and rate as 0x1006..0x1008 would (a part the
    // device would refuse is left as it was), without notices.
    void set_video_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps);

    // FrameHeader + data, as a video or picture payload.
    static std::vector<uint8_t> frame_payload(uint32_t format, uint32_t resolution, uint32_t sequence,
                                              bool key_frame, const std::vector<uint8_t> &data);
    // Writes the packets, in order, on every open stream connection, never in
    // the middle of a frame the sender is writing. False when none is open.
    bool send_stream_packets(const std::vector<StreamPacket> &packets);
    bool send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data);

    std::array<uint8_t, 736> video_info_block() const;  // the bytes 0x1000 answers now
    size_t video_frames_sent() const;                    // total since start
    bool wait_for_video_frames(size_t count, std::chrono::milliseconds timeout) const;
    size_t pictures_sent() const;
    size_t key_frame_requests() const;                   // 0x1019 received

    // Audio: blocks of the tone written to hosts (total since start), and
    // the blocks hosts sent for the speaker, with the last one.
    size_t audio_blocks_sent() const;
    bool wait_for_audio_blocks(size_t count, std::chrono::milliseconds timeout) const;
    size_t host_audio_blocks() const;
    bool wait_for_host_audio(size_t count, std::chrono::milliseconds timeout) const;
    std::vector<uint8_t> last_host_audio() const;

    // Serial: open from 0x3007 until 0x3008 or a logout.
    bool serial_open() const;
    // Bytes arriving on the probe's port, forwarded to the hosts as serial
    // blocks. False when the port is closed or no stream is open.
    bool send_serial(const std::vector<uint8_t> &bytes);

    // Identity, clock, pins and I2C registers as the probe holds them now.
    uint32_t device_id() const;
    std::string alias() const;
    uint64_t clock_seconds() const;
    std::vector<GpioPin> gpio_pins() const;  // five on old-generation devices
    std::array<uint8_t, 256> i2c_registers() const;
    WirelessSettings wireless() const;
    // Control texts received (0x8FF1), oldest first.
    std::vector<std::string> control_texts() const;
    // Reboots and factory resets since start; each drops every stream connection.
    size_t reboots() const;
    size_t resets() const;
    bool wait_for_reboots(size_t count, std::chrono::milliseconds timeout) const;

    // Benchmarks: connects to host:port and writes `frames` video frames of
    // the current settings with the same sender code a session uses (session
    // token of the model), then closes. Returns the bytes written, 0 on failure.
    uint64_t stream_frames_to(const std::string &address, uint16_t port, size_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace probesim
