// A connection the device opens back to a host after its login, and opens
// again when the host drops it. Its thread sends video and audio while they
// are on and serves what the host writes (speaker audio, serial bytes).
#pragma once

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "device_state.h"
#include "host_stream.h"
#include "probe_socket.h"
#include "stream_sender.h"

namespace probesim {

class StreamConnection {
public:
    // local: the address the host reached the device on; host: where it listens for the stream.
    StreamConnection(DeviceState &state, sockaddr_in local, sockaddr_in host, uint32_t token, uint64_t login_order);
    // On a stream that is already open; never opened again once it closes.
    StreamConnection(DeviceState &state, net::Socket attached, uint32_t token, uint64_t login_order);
    ~StreamConnection();
    StreamConnection(const StreamConnection &) = delete;
    StreamConnection &operator=(const StreamConnection &) = delete;

    void start();
    // Ends the connection and keeps it from opening again. With state.mu held.
    void close();

    const uint32_t token;
    const uint64_t login_order;  // of the login's command connection
    // Set and cleared under state.mu by the connection's own thread, which
    // alone may read it without the lock.
    std::shared_ptr<StreamLink> link;
    std::atomic<bool> close_requested{false};
    std::atomic<bool> video_on{false};
    std::atomic<bool> key_frame_wanted{false};
    std::atomic<bool> audio_on{false};
    bool done = false;  // the thread has finished; guarded by state.mu

private:
    enum class End { Stopped, HostClosed, DeviceDropped };

    void run();
    bool connect_back(std::chrono::seconds window);
    End stream_until_closed(VideoSender &sender);
    bool take_host_packets(StreamLink &link, HostStreamParser &parser, const std::vector<uint8_t> &received);
    bool send_audio_block(StreamLink &link);
    FrameOrder take_frame_order();
    void drop_link();

    DeviceState &state_;
    const sockaddr_in local_{};
    const sockaddr_in host_{};
    const bool attached_ = false;
    net::Socket attached_socket_;  // until the first connect_back takes it
    std::thread thread_;
};

}  // namespace probesim
