#include "device_listener.h"

#include "PPPP_API.h"
#include "net_address.h"
#include "topics.h"

namespace pppp {
namespace {

// Offers beyond this many sessions in set-up or waiting for Accept are
// refused, so a flood of offers cannot grow memory or agents.
constexpr size_t kMaxWaitingSessions = 16;
// One host may hold at most half of them: a host flooding offers that never
// come up (each waits out its checks) cannot lock the others out meanwhile.
constexpr size_t kMaxWaitingSessionsPerHost = kMaxWaitingSessions / 2;

}  // namespace

DeviceListener::DeviceListener(EventLoop &loop, const std::string &device_id, const InitConfig &config)
    : mLoop(loop), mDeviceId(device_id), mConfig(config)
{
}

int DeviceListener::open(EventLoop &loop, const std::string &device_id, const InitConfig &config,
                         std::shared_ptr<DeviceListener> *listener)
{
    std::shared_ptr<DeviceListener> self(new DeviceListener(loop, device_id, config));
    self->mRelayAddress = resolve_ipv4(config.relay_host);
    self->mLocalAddress = local_address_towards(self->mRelayAddress);
    if (self->mRelayAddress.empty() || self->mLocalAddress.empty())
        return PPPP_ERROR_SERVER_UNREACHABLE;
    BrokerOptions options;
    options.host = config.broker_host;
    options.port = config.broker_port;
    options.client_id = "pppp-d-" + device_id + "-" + random_token().substr(0, 8);
    options.status_topic = device_status_topic(device_id);
    options.online_payload = encode_status(true);
    options.will_payload = encode_status(false);
    options.topics = {device_inbox_topic(device_id)};
    std::weak_ptr<DeviceListener> weak = self;
    int result = BrokerLink::open(
        options,
        [weak](const std::string &topic, const char *payload, size_t length) {
            if (auto listener = weak.lock())
                listener->on_message(topic, payload, length);
        },
        &self->mLink);
    if (result != PPPP_ERROR_NONE)
        return result;
    *listener = self;
    return PPPP_ERROR_NONE;
}

void DeviceListener::close()
{
    std::vector<std::shared_ptr<IceSession>> waiting;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mClosed = true;
        for (auto &entry : mPending)
            waiting.push_back(entry.second);
        waiting.insert(waiting.end(), mAccepted.begin(), mAccepted.end());
        mPending.clear();
        mAccepted.clear();
        mAcceptable.notify_all();
    }
    for (auto &session : waiting)
        session->close(false);
    mLink->close(encode_status(false));
}

std::shared_ptr<IceSession> DeviceListener::accept(std::chrono::milliseconds timeout, bool *closed)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mAcceptable.wait_for(lock, timeout, [&] { return mClosed || !mAccepted.empty(); });
    *closed = mClosed;
    if (mClosed || mAccepted.empty())
        return nullptr;
    auto session = mAccepted.front();
    mAccepted.pop_front();
    return session;
}

void DeviceListener::set_relay_only(int sessions)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mRelayOnly = sessions;
}

void DeviceListener::refuse(const std::string &peer_id, const std::string &token, const char *reason)
{
    SignalMessage refusal;
    refusal.type = MessageType::refuse;
    refusal.session = token;
    refusal.reason = reason;
    mLink->publish(peer_inbox_topic(peer_id), encode_message(refusal));
}

void DeviceListener::unwatch_peer(const std::string &peer_id)
{
    auto it = mPeers.find(peer_id);
    if (it == mPeers.end() || --it->second > 0)
        return;
    mPeers.erase(it);
    mLink->unsubscribe(peer_status_topic(peer_id));
}

void DeviceListener::forget(const std::string &token, const std::string &peer_id)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mSessions.erase(token))
        unwatch_peer(peer_id);
}

size_t DeviceListener::waiting_sessions_of(const std::string &peer_id) const
{
    size_t waiting = 0;
    for (const auto &entry : mPending)
        waiting += entry.second->setup().peer_id == peer_id;
    for (const auto &session : mAccepted)
        waiting += session->setup().peer_id == peer_id;
    return waiting;
}

void DeviceListener::on_offer(const SignalMessage &offer)
{
    std::shared_ptr<IceSession> session;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mClosed || mSessions.count(offer.session))
            return;
        if (mPending.size() + mAccepted.size() >= kMaxWaitingSessions ||
            waiting_sessions_of(offer.from) >= kMaxWaitingSessionsPerHost) {
            refuse(offer.from, offer.session, "busy");
            return;
        }
        SessionSetup setup;
        setup.controlling = false;
        setup.local_address = mLocalAddress;
        setup.relay_address = mRelayAddress;
        setup.relay_port = mConfig.relay_port;
        setup.user = mConfig.user;
        setup.password = mConfig.password;
        setup.relay_only = mConfig.relay_only || mRelayOnly != 0;
        if (mRelayOnly > 0)
            --mRelayOnly;
        setup.token = offer.session;
        setup.peer_id = offer.from;
        session = std::make_shared<IceSession>(mLoop, setup);
        session->set_bye_route(mLink, peer_inbox_topic(offer.from));
        mPending[offer.session] = session;
        mSessions[offer.session] = session;
        if (mPeers[offer.from]++ == 0)
            mLink->subscribe(peer_status_topic(offer.from));
    }
    std::weak_ptr<DeviceListener> weak = shared_from_this();
    IceDescription remote = offer.ice;
    session->set_observer([weak, remote](IceSession &changed) {
        if (auto listener = weak.lock())
            listener->on_session_changed(changed, remote);
    });
    session->start();
}

// Loop thread: answer once gathered, hand over once up, drop on failure.
void DeviceListener::on_session_changed(IceSession &session, const IceDescription &remote)
{
    const SessionSetup &setup = session.setup();
    SessionState state = session.state();
    if (state == SessionState::gathered) {
        if (setup.relay_only && !session.has_relayed_candidate()) {
            refuse(setup.peer_id, setup.token, "relay refused");
            session.end(SessionState::failed);
            return;
        }
        SignalMessage answer;
        answer.type = MessageType::answer;
        answer.session = setup.token;
        answer.ice = session.local_description();
        mLink->publish(peer_inbox_topic(setup.peer_id), encode_message(answer));
        session.set_remote(remote);
        return;
    }
    if (state != SessionState::up && state < SessionState::failed)
        return;
    std::shared_ptr<IceSession> done;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        auto it = mPending.find(setup.token);
        if (it == mPending.end())
            return;
        done = it->second;
        mPending.erase(it);
        if (state == SessionState::up && !mClosed) {
            mAccepted.push_back(done);
            mAcceptable.notify_all();
            return;
        }
        mSessions.erase(setup.token);
        unwatch_peer(setup.peer_id);
    }
    done->close(false);
}

void DeviceListener::on_message(const std::string &topic, const char *payload, size_t length)
{
    if (topic == device_inbox_topic(mDeviceId)) {
        SignalMessage message;
        if (!decode_message(payload, length, &message))
            return;
        if (message.type == MessageType::offer) {
            on_offer(message);
        } else if (message.type == MessageType::bye) {
            std::shared_ptr<IceSession> session;
            {
                std::lock_guard<std::mutex> lock(mMutex);
                auto it = mSessions.find(message.session);
                if (it != mSessions.end())
                    session = it->second.lock();
            }
            if (session)
                session->end(SessionState::remote_closed);
        }
        return;
    }
    // A host's status: deleted (its will) or offline ends its sessions.
    static const std::string prefix = "pppp/peer/", suffix = "/status";
    if (topic.size() <= prefix.size() + suffix.size() || topic.compare(0, prefix.size(), prefix) != 0 ||
        topic.compare(topic.size() - suffix.size(), suffix.size(), suffix) != 0)
        return;
    std::string peer = topic.substr(prefix.size(), topic.size() - prefix.size() - suffix.size());
    bool online = false;
    if (length > 0 && !decode_status(payload, length, &online))
        return;
    if (online)
        return;
    std::vector<std::shared_ptr<IceSession>> gone;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        for (auto &entry : mSessions)
            if (auto session = entry.second.lock())
                if (session->setup().peer_id == peer)
                    gone.push_back(session);
    }
    for (auto &session : gone)
        session->end(SessionState::lost);
}

}  // namespace pppp
