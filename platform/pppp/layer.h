// The layer's process-wide state: the event loop, the host peers (one per
// broker), the device listeners and the table of session handles. The loop
// runs while the host side is initialised or a device is registered.
#pragma once

#include "device_listener.h"
#include "host_peer.h"
#include "ice_session.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pppp {

class Layer {
public:
    static Layer &instance();

    int initialize_host(const char *init_string);
    int deinitialize_host();
    int connect(const char *device_id, const char *init_string);

    int register_device(const char *device_id, const char *init_string);
    int accept(int listener, int timeout_ms);
    int relay_only(int listener, int sessions);
    int unregister_device(int listener);

    std::shared_ptr<IceSession> find(int handle);
    int close(int handle, bool drain);

private:
    struct Entry {
        std::shared_ptr<IceSession> session;
        int listener = -1;  // -1 for host sessions
        std::function<void()> forget;
    };

    // Under mLifecycle.
    EventLoop &loop_locked();
    void stop_loop_if_idle_locked();
    int add(std::shared_ptr<IceSession> session, int listener, std::function<void()> forget);
    std::vector<Entry> take_all(std::function<bool(const Entry &)> which);

    std::mutex mLifecycle;  // loop, host flag, peers, listeners
    std::unique_ptr<EventLoop> mLoop;
    bool mHostInitialized = false;
    int mConnects = 0;  // host connects under way
    std::condition_variable mConnectsDone;
    std::map<std::string, std::shared_ptr<HostPeer>> mPeers;  // by broker host:port
    std::map<int, std::shared_ptr<DeviceListener>> mListeners;
    int mNextListener = 0;

    std::mutex mTable;  // sessions only: never held across a wait
    std::map<int, Entry> mSessions;
    int mNextSession = 0;
};

}  // namespace pppp
