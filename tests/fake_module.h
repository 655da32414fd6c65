// A hand-driven module for the faults the simulator never commits: it
// answers logins and commands like a module, but opens the stream
// connection back only when told, writes whatever bytes the test gives it
// and can stop reading what the host sends.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class FakeModule {
public:
    static constexpr uint32_t kToken = 0x600DF00D;

    explicit FakeModule(std::string address);
    ~FakeModule();
    FakeModule(const FakeModule &) = delete;
    FakeModule &operator=(const FakeModule &) = delete;

    // Listens for commands on address:34674. False when it cannot bind.
    bool start();
    const std::string &address() const { return address_; }

    // The host's data port and address, known once a host has logged in.
    uint16_t host_data_port() const;
    std::string host_address() const;

    // Opens the stream connection back to the host that logged in last,
    // from the module's own address. A receive_buffer > 0 shrinks the
    // socket's buffer first, so a module that never reads stalls the host
    // soon. The module never reads from this connection.
    bool connect_back(int receive_buffer = 0);
    bool send_stream(const std::vector<uint8_t> &bytes);
    // Closes the stream connection; unread bytes make it a reset.
    void close_stream();

    // Command codes received, oldest first.
    std::vector<uint16_t> codes() const;

    // One stream packet: header (magic, token, type, count, index) and payload.
    static std::vector<uint8_t> stream_packet(uint8_t type, uint8_t count, uint8_t index,
                                              const std::vector<uint8_t> &payload);

private:
    void serve();
    void answer(int connection);

    std::string address_;
    int listener_ = -1;
    int stream_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread server_;
    mutable std::mutex mutex_;
    std::vector<uint16_t> codes_;
    std::string host_address_;
    uint16_t host_port_ = 0;
};

}  // namespace testing_support
