#include "host_peer.h"

#include "PPPP_API.h"
#include "net_address.h"
#include "topics.h"

namespace pppp {
namespace {

// The broker answers a status query from its retained store at once; this
// only bounds a broker that accepted us and then went quiet.
constexpr auto kStatusTime = std::chrono::milliseconds(2000);
constexpr auto kGatherTime = std::chrono::milliseconds(5000);
constexpr auto kAnswerTime = std::chrono::milliseconds(5000);
constexpr auto kChecksTime = std::chrono::milliseconds(10000);
constexpr auto kStunProbeTime = std::chrono::milliseconds(1000);

}  // namespace

int HostPeer::open(const InitConfig &config, std::shared_ptr<HostPeer> *peer)
{
    std::shared_ptr<HostPeer> self(new HostPeer());
    self->mId = "h" + random_token().substr(0, 16);
    BrokerOptions options;
    options.host = config.broker_host;
    options.port = config.broker_port;
    options.client_id = "pppp-" + self->mId;
    options.status_topic = peer_status_topic(self->mId);
    options.online_payload = encode_status(true);
    // An empty retained payload deletes the status: a vanished host leaves
    // nothing behind on the broker, and devices see it go.
    options.will_payload.clear();
    options.topics = {peer_inbox_topic(self->mId)};
    std::weak_ptr<HostPeer> weak = self;
    int result = BrokerLink::open(
        options,
        [weak](const std::string &topic, const char *payload, size_t length) {
            if (auto peer = weak.lock())
                peer->on_message(topic, payload, length);
        },
        &self->mLink);
    if (result != PPPP_ERROR_NONE)
        return result;
    *peer = self;
    return PPPP_ERROR_NONE;
}

// Ends the sessions still being set up here too, so a connect under way
// returns at once.
void HostPeer::close()
{
    std::vector<std::shared_ptr<IceSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mClosed = true;
        for (auto &entry : mSessions)
            if (auto session = entry.second.lock())
                sessions.push_back(session);
        mChanged.notify_all();
    }
    for (auto &session : sessions)
        session->end(SessionState::user_closed);
    mLink->close();
}

bool HostPeer::closed()
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mClosed;
}

void HostPeer::watch(const std::string &device_id)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mWatchers[device_id]++ == 0)
        mLink->subscribe(device_status_topic(device_id));
}

void HostPeer::unwatch(const std::string &device_id)
{
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mWatchers.find(device_id);
    if (it == mWatchers.end() || --it->second > 0)
        return;
    mWatchers.erase(it);
    mDeviceOnline.erase(device_id);
    mLink->unsubscribe(device_status_topic(device_id));
}

void HostPeer::forget(const std::string &token, const std::string &device_id)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mSessions.erase(token);
    }
    unwatch(device_id);
}

int HostPeer::fail(const std::shared_ptr<IceSession> &session, const std::string &device_id, int code)
{
    if (closed())
        code = PPPP_ERROR_NOT_INITIALIZED;
    if (session) {
        session->close(false);
        forget(session->setup().token, device_id);
    } else {
        unwatch(device_id);
    }
    return code;
}

int HostPeer::connect(EventLoop &loop, const std::string &device_id, const InitConfig &config,
                      std::shared_ptr<IceSession> *out)
{
    const std::string token = random_token();
    struct Waiting {
        HostPeer &peer;
        const std::string &token;
        ~Waiting()
        {
            std::lock_guard<std::mutex> lock(peer.mMutex);
            peer.mWaiting.erase(token);
            peer.mProbesBack.erase(token);
            peer.mReplies.erase(token);
        }
    } waiting{*this, token};
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mWaiting.insert(token);
    }

    // Whether the device is online: its retained status arrives right after
    // the subscription; a probe to our own inbox, sent behind it, comes back
    // after it, so a probe with no status ahead means no status exists.
    watch(device_id);
    SignalMessage probe;
    probe.type = MessageType::probe;
    probe.session = token;
    mLink->publish(peer_inbox_topic(mId), encode_message(probe));
    bool online;
    {
        std::unique_lock<std::mutex> lock(mMutex);
        bool known = mChanged.wait_for(
            lock, kStatusTime, [&] { return mClosed || mDeviceOnline.count(device_id) || mProbesBack.count(token); });
        if (!known || mClosed) {
            lock.unlock();
            return fail(nullptr, device_id, PPPP_ERROR_SERVER_UNREACHABLE);
        }
        auto it = mDeviceOnline.find(device_id);
        online = it != mDeviceOnline.end() && it->second;
    }
    if (!online)
        return fail(nullptr, device_id, PPPP_ERROR_INVALID_ID);

    SessionSetup setup;
    setup.controlling = true;
    setup.relay_address = resolve_ipv4(config.relay_host);
    setup.local_address = local_address_towards(setup.relay_address);
    setup.relay_port = config.relay_port;
    setup.user = config.user;
    setup.password = config.password;
    setup.relay_only = config.relay_only;
    setup.token = token;
    setup.peer_id = device_id;
    if (setup.relay_address.empty() || setup.local_address.empty())
        return fail(nullptr, device_id, PPPP_ERROR_SERVER_UNREACHABLE);
    auto session = std::make_shared<IceSession>(loop, setup);
    session->set_bye_route(mLink, device_inbox_topic(device_id));
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mSessions[token] = session;
    }
    session->start();
    if (session->wait_past(SessionState::starting, kGatherTime) != SessionState::gathered)
        return fail(session, device_id, PPPP_ERROR_SERVER_UNREACHABLE);
    if (config.relay_only && !session->has_relayed_candidate()) {
        bool answers = stun_answers(setup.relay_address, setup.relay_port, kStunProbeTime);
        return fail(session, device_id, answers ? PPPP_ERROR_REFUSED : PPPP_ERROR_SERVER_UNREACHABLE);
    }

    SignalMessage offer;
    offer.type = MessageType::offer;
    offer.session = token;
    offer.from = mId;
    offer.ice = session->local_description();
    mLink->publish(device_inbox_topic(device_id), encode_message(offer));
    SignalMessage reply;
    {
        std::unique_lock<std::mutex> lock(mMutex);
        if (!mChanged.wait_for(lock, kAnswerTime, [&] { return mClosed || mReplies.count(token) != 0; }) || mClosed) {
            lock.unlock();
            return fail(session, device_id, PPPP_ERROR_TIME_OUT);
        }
        reply = mReplies[token];
    }
    if (reply.type != MessageType::answer)
        return fail(session, device_id, PPPP_ERROR_REFUSED);
    session->set_remote(reply.ice);
    SessionState state = session->wait_past(SessionState::connecting, kChecksTime);
    if (state != SessionState::up)
        return fail(session, device_id, state == SessionState::lost ? PPPP_ERROR_REMOTE_CLOSED : PPPP_ERROR_NO_PATH);
    *out = session;
    return PPPP_ERROR_NONE;
}

void HostPeer::on_message(const std::string &topic, const char *payload, size_t length)
{
    static const std::string device_prefix = "pppp/dev/", status_suffix = "/status";
    if (topic.compare(0, device_prefix.size(), device_prefix) == 0 && topic.size() > device_prefix.size() + 7 &&
        topic.compare(topic.size() - status_suffix.size(), status_suffix.size(), status_suffix) == 0) {
        std::string id = topic.substr(device_prefix.size(), topic.size() - device_prefix.size() - status_suffix.size());
        bool online = false;
        if (length > 0 && !decode_status(payload, length, &online))
            return;  // neither a status nor its deletion
        std::vector<std::shared_ptr<IceSession>> gone;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (!mWatchers.count(id))
                return;
            mDeviceOnline[id] = online;
            mChanged.notify_all();
            if (!online)
                for (auto &entry : mSessions)
                    if (auto session = entry.second.lock())
                        if (session->setup().peer_id == id)
                            gone.push_back(session);
        }
        for (auto &session : gone)
            session->end(SessionState::lost);
        return;
    }
    if (topic != peer_inbox_topic(mId))
        return;
    SignalMessage message;
    if (!decode_message(payload, length, &message))
        return;
    std::shared_ptr<IceSession> ended;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        switch (message.type) {
        case MessageType::probe:
            if (mWaiting.count(message.session))
                mProbesBack.insert(message.session);
            break;
        case MessageType::answer:
        case MessageType::refuse:
            if (mWaiting.count(message.session) && !mReplies.count(message.session))
                mReplies[message.session] = message;
            break;
        case MessageType::bye: {
            auto it = mSessions.find(message.session);
            if (it != mSessions.end())
                ended = it->second.lock();
            break;
        }
        case MessageType::offer:
            break;
        }
        mChanged.notify_all();
    }
    if (ended)
        ended->end(SessionState::remote_closed);
}

}  // namespace pppp
