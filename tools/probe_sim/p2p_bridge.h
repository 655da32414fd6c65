// One peer-to-peer session of the device, joined to the device's own
// connections: channel 1 to a command connection, channel 2 to a stream
// connection, each through a local socket pair, so the command server and
// the stream sender serve it exactly as they serve the LAN.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "probe_socket.h"

namespace probesim {

class P2pBridge {
public:
    // session: accepted from the layer; the bridge closes it.
    // command_delay: how long channel 1 waits before its first byte is passed on.
    P2pBridge(int session, net::Socket command_end, net::Socket stream_end, std::chrono::milliseconds command_delay);
    ~P2pBridge();
    P2pBridge(const P2pBridge &) = delete;
    P2pBridge &operator=(const P2pBridge &) = delete;

    void start();
    // Either side closed: the bridge has closed the other.
    bool finished() const { return finished_; }
    // Closes both sides and joins the threads.
    void stop();

private:
    void channel_to_socket(int channel, int fd, std::chrono::milliseconds delay);
    void socket_to_channel(int fd, int channel);
    void end();

    const int session_;
    net::Socket command_end_;
    net::Socket stream_end_;
    const std::chrono::milliseconds command_delay_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> closed_{false};
    std::thread threads_[4];
};

}  // namespace probesim
