#include "layer.h"

#include "PPPP_API.h"
#include "signal_message.h"

#include <climits>

namespace pppp {
namespace {

int decode(const char *init_string, InitConfig *config)
{
    return decode_init_string(init_string ? init_string : "", config) == DecodeResult::ok ? PPPP_ERROR_NONE
                                                                                          : PPPP_ERROR_BAD_INIT_STRING;
}

}  // namespace

Layer &Layer::instance()
{
    // Never destroyed: threads of the loop and the broker links may still run
    // while the process exits.
    static Layer *layer = new Layer;
    return *layer;
}

EventLoop &Layer::loop_locked()
{
    if (!mLoop)
        mLoop = std::make_unique<EventLoop>();
    return *mLoop;
}

void Layer::stop_loop_if_idle_locked()
{
    if (!mHostInitialized && mListeners.empty())
        mLoop.reset();
}

int Layer::initialize_host(const char *init_string)
{
    InitConfig config;
    if (int result = decode(init_string, &config))
        return result;
    std::lock_guard<std::mutex> lock(mLifecycle);
    loop_locked();
    mHostInitialized = true;
    return PPPP_ERROR_NONE;
}

int Layer::deinitialize_host()
{
    std::unique_lock<std::mutex> lock(mLifecycle);
    if (!mHostInitialized)
        return PPPP_ERROR_NOT_INITIALIZED;
    for (Entry &entry : take_all([](const Entry &e) { return e.listener < 0; })) {
        entry.session->close(false);
        entry.forget();
    }
    for (auto &peer : mPeers)
        peer.second->close();
    mPeers.clear();
    mHostInitialized = false;
    // A connect still under way uses the loop; its waits are bounded, and it
    // closes what it opened once it sees the layer de-initialised.
    mConnectsDone.wait(lock, [this] { return mConnects == 0; });
    stop_loop_if_idle_locked();
    return PPPP_ERROR_NONE;
}

int Layer::connect(const char *device_id, const char *init_string)
{
    if (device_id == nullptr || !valid_id(device_id))
        return PPPP_ERROR_INVALID_PARAMETER;
    InitConfig config;
    if (int result = decode(init_string, &config))
        return result;
    std::shared_ptr<HostPeer> peer;
    EventLoop *loop;
    {
        // Opening a broker connection waits (bounded) under the lifecycle
        // lock; session calls use the table lock and go on meanwhile.
        std::lock_guard<std::mutex> lock(mLifecycle);
        if (!mHostInitialized)
            return PPPP_ERROR_NOT_INITIALIZED;
        loop = &loop_locked();
        std::string key = config.broker_host + ":" + std::to_string(config.broker_port);
        auto it = mPeers.find(key);
        if (it == mPeers.end()) {
            if (int result = HostPeer::open(config, &peer))
                return result;
            mPeers[key] = peer;
        } else {
            peer = it->second;
        }
        ++mConnects;
    }
    struct Done {
        Layer &layer;
        ~Done()
        {
            std::lock_guard<std::mutex> lock(layer.mLifecycle);
            --layer.mConnects;
            layer.mConnectsDone.notify_all();
        }
    } done{*this};
    std::shared_ptr<IceSession> session;
    if (int result = peer->connect(*loop, device_id, config, &session))
        return result;
    std::weak_ptr<HostPeer> weak = peer;
    std::string token = session->setup().token, id = device_id;
    auto forget = [weak, token, id] {
        if (auto p = weak.lock())
            p->forget(token, id);
    };
    std::lock_guard<std::mutex> lock(mLifecycle);
    if (!mHostInitialized) {
        session->close(false);
        forget();
        return PPPP_ERROR_NOT_INITIALIZED;
    }
    return add(session, -1, forget);
}

int Layer::register_device(const char *device_id, const char *init_string)
{
    if (device_id == nullptr || !valid_id(device_id))
        return PPPP_ERROR_INVALID_PARAMETER;
    InitConfig config;
    if (int result = decode(init_string, &config))
        return result;
    std::lock_guard<std::mutex> lock(mLifecycle);
    std::shared_ptr<DeviceListener> listener;
    int result = DeviceListener::open(loop_locked(), device_id, config, &listener);
    if (result != PPPP_ERROR_NONE) {
        stop_loop_if_idle_locked();
        return result;
    }
    int handle = mNextListener;
    mNextListener = mNextListener == INT_MAX ? 0 : mNextListener + 1;
    mListeners[handle] = listener;
    return handle;
}

int Layer::accept(int handle, int timeout_ms)
{
    std::shared_ptr<DeviceListener> listener;
    {
        std::lock_guard<std::mutex> lock(mLifecycle);
        auto it = mListeners.find(handle);
        if (it == mListeners.end())
            return PPPP_ERROR_INVALID_SESSION;
        listener = it->second;
    }
    bool closed = false;
    auto session = listener->accept(std::chrono::milliseconds(std::max(timeout_ms, 0)), &closed);
    if (!session)
        return closed ? PPPP_ERROR_INVALID_SESSION : PPPP_ERROR_TIME_OUT;
    std::weak_ptr<DeviceListener> weak = listener;
    std::string token = session->setup().token, peer = session->setup().peer_id;
    return add(session, handle, [weak, token, peer] {
        if (auto l = weak.lock())
            l->forget(token, peer);
    });
}

int Layer::relay_only(int handle, int sessions)
{
    std::lock_guard<std::mutex> lock(mLifecycle);
    auto it = mListeners.find(handle);
    if (it == mListeners.end())
        return PPPP_ERROR_INVALID_SESSION;
    if (sessions < -1)
        return PPPP_ERROR_INVALID_PARAMETER;
    it->second->set_relay_only(sessions);
    return PPPP_ERROR_NONE;
}

int Layer::unregister_device(int handle)
{
    std::lock_guard<std::mutex> lock(mLifecycle);
    auto it = mListeners.find(handle);
    if (it == mListeners.end())
        return PPPP_ERROR_INVALID_SESSION;
    std::shared_ptr<DeviceListener> listener = it->second;
    mListeners.erase(it);
    for (Entry &entry : take_all([handle](const Entry &e) { return e.listener == handle; })) {
        entry.session->close(false);
        entry.forget();
    }
    listener->close();
    stop_loop_if_idle_locked();
    return PPPP_ERROR_NONE;
}

int Layer::add(std::shared_ptr<IceSession> session, int listener, std::function<void()> forget)
{
    std::lock_guard<std::mutex> lock(mTable);
    // Handles count up and wrap, so a closed handle is not soon reused.
    while (mSessions.count(mNextSession))
        mNextSession = mNextSession == INT_MAX ? 0 : mNextSession + 1;
    int handle = mNextSession;
    mNextSession = mNextSession == INT_MAX ? 0 : mNextSession + 1;
    mSessions[handle] = Entry{std::move(session), listener, std::move(forget)};
    return handle;
}

std::vector<Layer::Entry> Layer::take_all(std::function<bool(const Entry &)> which)
{
    std::vector<Entry> taken;
    std::lock_guard<std::mutex> lock(mTable);
    for (auto it = mSessions.begin(); it != mSessions.end();) {
        if (which(it->second)) {
            taken.push_back(std::move(it->second));
            it = mSessions.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

std::shared_ptr<IceSession> Layer::find(int handle)
{
    std::lock_guard<std::mutex> lock(mTable);
    auto it = mSessions.find(handle);
    return it == mSessions.end() ? nullptr : it->second.session;
}

int Layer::close(int handle, bool drain)
{
    Entry entry;
    {
        std::lock_guard<std::mutex> lock(mTable);
        auto it = mSessions.find(handle);
        if (it == mSessions.end())
            return PPPP_ERROR_INVALID_SESSION;
        entry = std::move(it->second);
        mSessions.erase(it);
    }
    entry.session->close(drain);
    entry.forget();
    return PPPP_ERROR_NONE;
}

}  // namespace pppp
