// A UDP port of the simulated module, served by one thread until stop():
// the handler gets the descriptor of each waiting datagram and reads it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "probe_socket.h"

namespace probesim::net {

class UdpService {
public:
    UdpService() = default;
    ~UdpService() { stop(); }
    UdpService(const UdpService &) = delete;
    UdpService &operator=(const UdpService &) = delete;

    // False when it already runs or the address cannot be bound.
    bool start(const std::string &address, uint16_t port, std::function<void(int fd)> on_datagram);
    void stop();
    // Answers go out from the module's own address.
    int reply_fd() const { return port_.reply_fd(); }

private:
    UdpPort port_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace probesim::net
