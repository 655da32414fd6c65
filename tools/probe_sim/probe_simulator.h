// A simulated inspection probe: a real device on real sockets, for tests,
// benchmarks and for trying the SDK without hardware. Its packet code is
// written independently of the SDK so that each side checks the other.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chaos.h"
#include "discovery_responder.h"
#include "fault.h"

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
    std::vector<GpioPin> gpio_pins;            // eight pins by default
    uint8_t i2c_address = 0x50;                // the one device on the I2C bus
    std::array<uint8_t, 256> i2c_registers{};  // filled with a fixed pattern by default
    WirelessSettings wireless;
    DeviceModel();
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

// The device's counters and state, copied out together under one lock.
struct SimulatorState {
    DeviceModel model;                   // login figures, token, company, custom block
    size_t packets_logged = 0;           // entries in packets()
    size_t stream_connections_made = 0;  // opened back to hosts after a login, since start
    size_t stream_connections_open = 0;
    size_t video_frames_sent = 0;   // since start
    size_t pictures_sent = 0;       // since start
    size_t key_frame_requests = 0;  // 0x1019 received since start
    size_t audio_blocks_sent = 0;   // blocks of the tone written to hosts, since start
    size_t host_audio_blocks = 0;   // blocks hosts sent for the speaker
    std::vector<uint8_t> last_host_audio;
    bool serial_open = false;  // from 0x3007 until 0x3008 or a logout
    // Identity, clock, pins, I2C registers and Wi-Fi as the probe holds them now.
    uint32_t device_id = 0;
    std::string alias;
    uint64_t clock_seconds = 0;
    std::vector<GpioPin> gpio_pins;  // five on old-generation devices
    std::array<uint8_t, 256> i2c_registers{};
    WirelessSettings wireless;
    std::vector<std::string> control_texts;  // received (0x8FF1), oldest first
    // Reboots and factory resets; each drops every stream connection.
    size_t reboots = 0;
    size_t resets = 0;
    // Peer-to-peer sessions hosts opened to the device ID, since start.
    size_t p2p_sessions_accepted = 0;
    size_t p2p_sessions_open = 0;
    uint64_t chaos_faults = 0;  // injected since start, all kinds
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

    // Registers under the device ID on the broker the init string names and
    // serves the sessions hosts open to it, as the command port serves its
    // connections. Until stop(). False when the registration fails.
    bool start_p2p(const std::string &device_id, const std::string &init_string);

    // relay-first-sessions applies to the next relay_sessions P2P sessions
    // (-1: all); set the count before the fault. It stays in force when
    // another fault is set after it, until the fault is set to None.
    void set_fault(Fault fault);
    void set_relay_sessions(int sessions);
    // Seeded random faults on every command and stream connection. Before start().
    void set_chaos(const ChaosSettings &settings);
    // "N faults injected (...)"; empty without chaos.
    std::string chaos_summary() const;

    SimulatorState state() const;
    // Waits until the condition holds for the state, re-checked whenever the
    // device changes it. False when the time-out came first.
    bool wait_until(const std::function<bool(const SimulatorState &)> &condition,
                    std::chrono::milliseconds timeout) const;

    // Every command packet received, oldest first.
    std::vector<ReceivedPacket> packets() const;
    void clear_packets();

    // The bytes 0x1000 answers now. Not part of state(): the first call may
    // load the codec library to see whether H.264 is offered.
    std::array<uint8_t, 736> video_info_block() const;

    void set_stream_options(const StreamOptions &options);
    // Applies format, size and rate as 0x1006..0x1008 would (a part the
    // device would refuse is left as it was), without notices.
    void set_video_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps);

    // FrameHeader + data, as a video or picture payload.
    static std::vector<uint8_t> frame_payload(uint32_t format, uint32_t resolution, uint32_t sequence, bool key_frame,
                                              const std::vector<uint8_t> &data);
    // Writes the packets, in order, on every open stream connection, never in
    // the middle of a frame the sender is writing. False when none is open.
    bool send_stream_packets(const std::vector<StreamPacket> &packets);
    bool send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data);
    // Bytes arriving on the probe's serial port, forwarded to the hosts as
    // serial blocks. False when the port is closed or no stream is open.
    bool send_serial(const std::vector<uint8_t> &bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace probesim
