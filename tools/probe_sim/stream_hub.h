// The stream connections the device has opened back to hosts: started after
// a login, ended by logout, restart or stop, and the writes that go to all
// of them (raw packets, parameter-change notices, still pictures).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "device_state.h"
#include "probe_socket.h"
#include "stream_connection.h"

namespace probesim {

class StreamHub {
public:
    explicit StreamHub(DeviceState &state) : state_(state) {}

    // Starts connecting back to the host of a login connection. Nothing when
    // its addresses cannot be read or the device is stopping. The connection
    // stays listed until its thread has finished.
    StreamConnection *connect_back(const net::Socket &login, uint32_t token, uint64_t login_order);
    // The same on a stream that is already open (a P2P session's channel 2);
    // once it closes it is not opened again.
    StreamConnection *attach(net::Socket stream, uint32_t token, uint64_t login_order);

    // With state.mu held.
    void set_video(uint32_t token, bool on);
    void set_audio(uint32_t token, bool on);
    void want_key_frames();
    // A logout ends the session's connections opened by logins before it.
    void close_session(uint32_t token, uint64_t logout_order);
    // Ends the stream opened for that login, if it is still there. With state.mu held.
    void close_login(uint64_t login_order);
    void close_all();

    // Without state.mu. Writes wait for the frame another thread is writing.
    bool broadcast(const std::vector<uint8_t> &bytes);
    bool send_packets(const std::vector<StreamPacket> &packets);
    bool send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data);
    bool send_serial(const std::vector<uint8_t> &bytes);
    void push_snapshot();

    // Joins the connections whose threads have finished.
    void reap_finished();
    // Ends every connection and joins its thread; stopping must be set.
    void stop();

private:
    uint32_t token() const;
    StreamConnection *add(std::unique_ptr<StreamConnection> conn);

    DeviceState &state_;
    std::list<std::unique_ptr<StreamConnection>> streams_;  // guarded by state.mu
};

}  // namespace probesim
