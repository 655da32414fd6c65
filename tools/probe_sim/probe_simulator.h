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

namespace probesim {

struct DeviceModel {
    uint32_t protocol_version = 0x00010203;  // 1.2.3
    uint32_t token = 0x5A17C0DE;
    std::array<uint8_t, 6> mac{{0x02, 0x51, 0x52, 0x4E, 0x00, 0x01}};
    std::string id = "SQRN123456ABCDE";
    std::string alias = "probe-sim";
    std::string company = "Kelvo Optics";
    std::array<uint8_t, 44> device_info{};   // filled with a fixed pattern by default
    uint32_t peer_max_frame = 30;
    std::array<uint8_t, 256> custom{};
    // Access strings the login accepts; empty accepts any (including none).
    std::vector<std::string> access_strings;
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

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace probesim
