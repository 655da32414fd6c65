// The host's presence on one broker: opens sessions to devices by ID. It
// learns a device's status from its retained message, sends the offer to the
// device's inbox and waits for the answer in its own inbox.
#pragma once

#include "broker_link.h"
#include "event_loop.h"
#include "ice_session.h"
#include "init_string.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace pppp {

class HostPeer : public std::enable_shared_from_this<HostPeer> {
public:
    static int open(const InitConfig &config, std::shared_ptr<HostPeer> *peer);
    // Goes offline; connects under way fail with PPPP_ERROR_NOT_INITIALIZED.
    void close();

    // Blocks until the session is up or fails; PPPP result code.
    int connect(EventLoop &loop, const std::string &device_id, const InitConfig &config,
                std::shared_ptr<IceSession> *session);
    // A session opened here has ended: stop routing to it.
    void forget(const std::string &token, const std::string &device_id);

private:
    HostPeer() = default;
    void on_message(const std::string &topic, const char *payload, size_t length);
    void watch(const std::string &device_id);
    void unwatch(const std::string &device_id);
    int fail(const std::shared_ptr<IceSession> &session, const std::string &device_id, int code);
    bool closed();

    std::string mId;
    std::shared_ptr<BrokerLink> mLink;
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mClosed = false;
    std::map<std::string, bool> mDeviceOnline;  // known statuses of watched devices
    std::map<std::string, int> mWatchers;
    std::set<std::string> mWaiting;  // tokens of connects in progress
    std::set<std::string> mProbesBack;
    std::map<std::string, SignalMessage> mReplies;
    std::map<std::string, std::weak_ptr<IceSession>> mSessions;
};

}  // namespace pppp
