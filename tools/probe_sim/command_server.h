// Accepts the hosts' command connections and serves each on a thread of its
// own: reads a request, logs it, answers it with any fault applied, and
// starts the stream connection back after a login.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <thread>

#include "command_answers.h"
#include "device_state.h"
#include "probe_socket.h"
#include "stream_hub.h"

namespace probesim {

class CommandServer {
public:
    CommandServer(DeviceState &state, StreamHub &streams) : state_(state), streams_(streams), answers_(state, streams)
    {
    }
    ~CommandServer() { stop(); }
    CommandServer(const CommandServer &) = delete;
    CommandServer &operator=(const CommandServer &) = delete;

    // Serves connections on the listening socket until stop().
    void start(net::Socket listener);
    // Serves one command connection that arrived another way (a P2P
    // session's channel 1); its stream goes out on stream, not back to a
    // data port. False when stopping.
    bool serve_attached(net::Socket commands, net::Socket stream);
    // Ends every command connection and joins its thread; stopping must be set.
    void stop();
    bool running() const { return accept_thread_.joinable() || attached_only_; }
    // For a device reached only through P2P: no listener, attached connections only.
    void start_attached_only() { attached_only_ = true; }
    const net::Socket &listener() const { return listener_; }

private:
    struct Connection {
        net::Socket sock;
        net::Socket attached_stream;  // where the stream goes instead of connecting back
        bool attached = false;        // a whole session on one connection (P2P)
        // Accept order. Connections are served in parallel, so a logout may be
        // handled after a later login; it ends only what came before it.
        uint64_t order = 0;
        bool done = false;  // guarded by state.mu
        std::thread thread;
        std::optional<Chaos::Channel> chaos;  // only the connection's thread draws
    };

    void accept_loop();
    bool add_connection(net::Socket sock, net::Socket attached_stream);
    void reap_finished();
    void serve(Connection &c);
    bool serve_one(Connection &c);
    bool send_answer(Connection &c, const std::vector<uint8_t> &bytes);
    void log(ReceivedPacket packet);
    void logout(uint32_t token, const Connection &c);

    DeviceState &state_;
    StreamHub &streams_;
    CommandAnswers answers_;
    net::Socket listener_;
    std::thread accept_thread_;
    bool attached_only_ = false;
    uint64_t accepted_ = 0;                            // guarded by state.mu
    std::list<std::unique_ptr<Connection>> commands_;  // guarded by state.mu
};

}  // namespace probesim
