// The device's registration under its ID: accepts the peer-to-peer
// sessions hosts open to it and hands each to the command server.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <thread>

#include "command_server.h"
#include "device_state.h"
#include "p2p_bridge.h"

namespace probesim {

class P2pFrontDoor {
public:
    P2pFrontDoor(DeviceState &state, CommandServer &server) : state_(state), server_(server) {}
    ~P2pFrontDoor() { stop(); }
    P2pFrontDoor(const P2pFrontDoor &) = delete;
    P2pFrontDoor &operator=(const P2pFrontDoor &) = delete;

    // False when the layer cannot register the ID.
    bool start(const std::string &device_id, const std::string &init_string);
    // Goes offline and ends every session; stopping must be set.
    void stop();
    // The next `sessions` sessions offer only relayed paths (-1: all, 0: off).
    void relay_only(int sessions);

private:
    void accept_loop();
    void serve(int session);
    void reap_finished();

    DeviceState &state_;
    CommandServer &server_;
    int listener_ = -1;
    std::thread accept_thread_;
    std::list<std::unique_ptr<P2pBridge>> bridges_;  // the accept thread's
};

}  // namespace probesim
