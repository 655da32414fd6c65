// A device registered under its ID on one broker: keeps its retained online
// status (the broker's last will turns it offline), answers offers in its
// inbox and queues the sessions that came up for Accept.
#pragma once

#include "broker_link.h"
#include "event_loop.h"
#include "ice_session.h"
#include "init_string.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pppp {

class DeviceListener : public std::enable_shared_from_this<DeviceListener> {
public:
    static int open(EventLoop &loop, const std::string &device_id, const InitConfig &config,
                    std::shared_ptr<DeviceListener> *listener);
    // Goes offline and closes every session not yet accepted.
    void close();

    // nullptr when none came up in time, or (*closed) the listener closed.
    std::shared_ptr<IceSession> accept(std::chrono::milliseconds timeout, bool *closed);
    void set_relay_only(int sessions);
    // An accepted session has ended.
    void forget(const std::string &token, const std::string &peer_id);

private:
    DeviceListener(EventLoop &loop, const std::string &device_id, const InitConfig &config);
    void on_message(const std::string &topic, const char *payload, size_t length);
    void on_offer(const SignalMessage &offer);
    void on_session_changed(IceSession &session, const IceDescription &remote);
    void refuse(const std::string &peer_id, const std::string &token, const char *reason);
    void unwatch_peer(const std::string &peer_id);
    // Sessions of this host in set-up or waiting for Accept; under mMutex.
    size_t waiting_sessions_of(const std::string &peer_id) const;

    EventLoop &mLoop;
    std::string mDeviceId;
    InitConfig mConfig;
    std::string mRelayAddress;
    std::string mLocalAddress;
    std::shared_ptr<BrokerLink> mLink;

    std::mutex mMutex;
    std::condition_variable mAcceptable;
    bool mClosed = false;
    int mRelayOnly = 0;  // sessions still to offer relayed candidates only; -1 all
    std::map<std::string, std::shared_ptr<IceSession>> mPending;  // by token, until up
    std::deque<std::shared_ptr<IceSession>> mAccepted;
    std::map<std::string, std::weak_ptr<IceSession>> mSessions;  // every live one, by token
    std::map<std::string, int> mPeers;                           // hosts watched, with their session count
};

}  // namespace pppp
