// A bare host made of plain sockets, for holding the simulator to the wire
// format without the SDK: it logs in from a chosen port so that it knows
// where the device will connect back, sends each command on a connection of
// its own, and reads the stream the device opens back.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "probe_simulator.h"
#include "probe_wire.h"

namespace bare_host {

constexpr uint8_t kVideo = static_cast<uint8_t>(probesim::wire::StreamType::Video);
constexpr uint8_t kPicture = static_cast<uint8_t>(probesim::wire::StreamType::Picture);
constexpr uint8_t kParamChange = static_cast<uint8_t>(probesim::wire::StreamType::ParamChange);
constexpr std::chrono::milliseconds kWait{5000};
// Long enough for several frames at 30 a second: a quiet stream is quiet.
constexpr std::chrono::milliseconds kQuietSpell{300};

sockaddr_in loopback(const std::string &address, uint16_t port);
std::vector<uint8_t> u32_payload(uint32_t v);

// One stream packet as it arrived.
struct Packet {
    uint8_t magic[3] = {};
    uint8_t sub_code = 0;
    uint32_t token = 0;
    uint8_t type = 0;
    uint8_t count = 0;
    uint8_t index = 0;
    std::vector<uint8_t> payload;

    bool magic_ok() const { return magic[0] == 'Q' && magic[1] == 'R' && magic[2] == 'N'; }
    uint32_t sub_type() const { return payload.size() >= 4 ? probesim::wire::get_u32(payload.data()) : ~0u; }
};

struct Frame {
    std::vector<Packet> packets;
    std::vector<uint8_t> payload;  // FrameHeader + data, as the host assembles it

    uint32_t format() const { return probesim::wire::get_u32(&payload[4]); }
    uint32_t resolution() const { return probesim::wire::get_u32(&payload[8]); }
    uint32_t sequence() const { return probesim::wire::get_u32(&payload[12]); }
    bool key_frame() const { return payload[16] != 0; }
    uint32_t declared_length() const { return probesim::wire::get_u32(&payload[24]); }
    std::vector<uint8_t> data() const
    {
        return std::vector<uint8_t>(payload.begin() + probesim::wire::kFrameHeaderSize, payload.end());
    }
};

struct Reply {
    bool ok = false;  // an answer arrived
    uint16_t code = 0;
    uint16_t status = 0;
    std::vector<uint8_t> payload;
};

// Reads every packet the device sends on one stream connection into a queue.
class StreamReader {
public:
    explicit StreamReader(int fd);
    ~StreamReader();

    // Removes and returns the first packet that matches, waiting up to timeout.
    std::optional<Packet> take(const std::function<bool(const Packet &)> &match,
                               std::chrono::milliseconds timeout = kWait);
    // The next fragment of any type, in arrival order.
    std::optional<Packet> next(std::chrono::milliseconds timeout = kWait);
    bool wait_closed(std::chrono::milliseconds timeout = kWait);
    // Drops packets of that type until none has come for a while. Bounded,
    // so a stream that never pauses leaves packets behind.
    void drain(uint8_t type);

private:
    void run();

    int fd_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Packet> packets_;
    bool closed_ = false;
    std::thread thread_;
};

class Host {
public:
    explicit Host(std::string device) : device_(std::move(device)) {}
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    bool login();
    Reply command(uint16_t code, const std::vector<uint8_t> &payload = {}) { return exchange(code, payload, 0); }
    // The device does not answer a logout.
    void logout() { exchange(probesim::wire::kLogout, {}, 0, false); }

    // Waits for the device's stream connection and starts reading it.
    bool accept_stream(std::chrono::milliseconds timeout = kWait);
    void close_stream() { stream.reset(); }

    // The next complete frame or picture of that type: its fragments in
    // order, each one checked as it arrives.
    std::optional<Frame> frame(uint8_t type, std::chrono::milliseconds timeout = kWait);
    std::optional<Packet> notice(uint32_t sub_type, std::chrono::milliseconds timeout = kWait);
    // The next frame whose rendering began after everything sent so far:
    // the one in flight may still carry the old settings.
    std::optional<Frame> fresh_frame(const probesim::ProbeSimulator &sim);
    bool quiet(uint8_t type, std::chrono::milliseconds spell = kQuietSpell);

    uint32_t token = 0;
    std::unique_ptr<StreamReader> stream;

private:
    Reply exchange(uint16_t code, const std::vector<uint8_t> &payload, uint16_t from_port, bool await = true);

    std::string device_;
    int listener_ = -1;
};

}  // namespace bare_host
