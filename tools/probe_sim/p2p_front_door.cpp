#include "p2p_front_door.h"

#include <sys/socket.h>

#include "PPPP_API.h"
#include "PPPP_Device.h"

namespace probesim {

namespace {

constexpr int kAcceptSliceMs = 100;
constexpr auto kLateCommands = std::chrono::seconds(2);

}  // namespace

bool P2pFrontDoor::start(const std::string &device_id, const std::string &init_string)
{
    if (listener_ >= 0)
        return false;
    listener_ = PPPP_Device_Register(device_id.c_str(), init_string.c_str());
    if (listener_ < 0)
        return false;
    accept_thread_ = std::thread([this] { accept_loop(); });
    return true;
}

void P2pFrontDoor::stop()
{
    if (listener_ < 0)
        return;
    if (accept_thread_.joinable())
        accept_thread_.join();
    for (auto &bridge : bridges_)
        bridge->stop();
    bridges_.clear();
    PPPP_Device_Unregister(listener_);
    listener_ = -1;
    std::lock_guard<std::mutex> lock(state_.mu);
    state_.p2p_open = 0;
}

void P2pFrontDoor::relay_only(int sessions)
{
    if (listener_ >= 0)
        PPPP_Device_RelayOnly(listener_, sessions);
}

void P2pFrontDoor::accept_loop()
{
    while (!state_.stopping) {
        reap_finished();
        const int session = PPPP_Device_Accept(listener_, kAcceptSliceMs);
        if (session >= 0)
            serve(session);
    }
}

void P2pFrontDoor::serve(int session)
{
    int commands[2];
    int stream[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, commands) != 0) {
        PPPP_Close(session);
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stream) != 0) {
        ::close(commands[0]);
        ::close(commands[1]);
        PPPP_Close(session);
        return;
    }
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        if (state_.fault == Fault::LateSecondSession && state_.p2p_open > 0)
            delay = kLateCommands;
        ++state_.p2p_accepted;
        ++state_.p2p_open;
    }
    state_.cv.notify_all();
    auto bridge = std::make_unique<P2pBridge>(session, net::Socket(commands[0]), net::Socket(stream[0]), delay);
    bridge->start();
    bridges_.push_back(std::move(bridge));
    server_.serve_attached(net::Socket(commands[1]), net::Socket(stream[1]));
}

void P2pFrontDoor::reap_finished()
{
    size_t ended = 0;
    for (auto it = bridges_.begin(); it != bridges_.end();) {
        if ((*it)->finished()) {
            (*it)->stop();
            it = bridges_.erase(it);
            ++ended;
        } else {
            ++it;
        }
    }
    if (ended == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        state_.p2p_open -= ended;
    }
    state_.cv.notify_all();
}

}  // namespace probesim
