#include "ice_session.h"

#include "PPPP_API.h"
#include "broker_link.h"

#include <algorithm>
#include <cstring>

namespace pppp {
namespace {

constexpr size_t kSendCapacity = 512 << 10;
// A reader gives credit back in steps of this size, not per read.
constexpr size_t kCreditStep = 64 << 10;
// A write waits this long for room before it gives up.
constexpr auto kWriteStall = std::chrono::milliseconds(5000);
// Close (not ForceClose) gives queued bytes this long to reach PseudoTCP.
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
// A session closed while gathering waits this long for gathering to end.
constexpr auto kGatherGrace = std::chrono::milliseconds(5000);

bool terminal(SessionState state)
{
    return state >= SessionState::failed;
}

}  // namespace

struct IceSession::Closing {
    EventLoop *loop;
    std::shared_ptr<IceSession> session;
};

void IceSession::on_agent_closed(GObject *agent, GAsyncResult *, gpointer data)
{
    std::unique_ptr<Closing> closing(static_cast<Closing *>(data));
    g_object_unref(agent);
    closing->loop->agent_closed();
}

namespace {

}  // namespace

IceSession::Channel::Channel() : in(kChannelWindow), out(kSendCapacity) {}

IceSession::IceSession(EventLoop &loop, SessionSetup setup) : mLoop(loop), mSetup(std::move(setup)) {}

IceSession::~IceSession() = default;

void IceSession::start()
{
    mLoop.invoke([self = shared_from_this()] { self->create_agent(); });
}

void IceSession::set_bye_route(std::weak_ptr<BrokerLink> link, std::string topic)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mByeLink = std::move(link);
    mByeTopic = std::move(topic);
}

void IceSession::create_agent()
{
    if (terminal(state()))
        return;
    // No consent freshness: under a full PseudoTCP window its checks go
    // unanswered and a busy, healthy session fails after 10 s. A vanished
    // peer is told by its status on the broker instead.
    mAgent = nice_agent_new_full(mLoop.context(), NICE_COMPATIBILITY_RFC5245, NICE_AGENT_OPTION_RELIABLE);
    // No UPnP (multicast discovery) and no ICE-TCP. No STUN server either:
    // the relay's allocate answer carries our server-reflexive address, and a
    // binding request on the allocation's socket gets an answer libnice
    // cannot match, so it would wait its full time-out for nothing.
    g_object_set(mAgent, "upnp", FALSE, "ice-tcp", FALSE, "controlling-mode", gboolean(mSetup.controlling),
                 "force-relay", gboolean(mSetup.relay_only), nullptr);
    NiceAddress local;
    nice_address_init(&local);
    if (nice_address_set_from_string(&local, mSetup.local_address.c_str()))
        nice_agent_add_local_address(mAgent, &local);
    g_signal_connect(mAgent, "candidate-gathering-done", G_CALLBACK(on_gathering_done), this);
    g_signal_connect(mAgent, "component-state-changed", G_CALLBACK(on_state_changed), this);
    g_signal_connect(mAgent, "new-selected-pair-full", G_CALLBACK(on_selected_pair), this);
    g_signal_connect(mAgent, "reliable-transport-writable", G_CALLBACK(on_writable), this);
    g_signal_connect(mAgent, "new-candidate-full", G_CALLBACK(on_new_candidate), this);
    mStream = nice_agent_add_stream(mAgent, kComponents);
    for (guint component = 1; component <= kComponents; ++component) {
        nice_agent_set_relay_info(mAgent, mStream, component, mSetup.relay_address.c_str(), guint(mSetup.relay_port),
                                  mSetup.user.c_str(), mSetup.password.c_str(), NICE_RELAY_TYPE_TURN_UDP);
        nice_agent_attach_recv(mAgent, mStream, component, mLoop.context(), on_receive, this);
    }
    if (mStream == 0 || !nice_agent_gather_candidates(mAgent, mStream))
        set_state(SessionState::failed);
}

SessionState IceSession::state() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mState;
}

void IceSession::set_state(SessionState state)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (terminal(mState) || state <= mState)
            return;
        mState = state;
        mStateChanged.notify_all();
    }
    if (terminal(state))
        wake_all();
    mLoop.invoke([self = shared_from_this()] {
        if (self->mObserver)
            self->mObserver(*self);
    });
}

SessionState IceSession::wait_past(SessionState from, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mStateChanged.wait_for(lock, timeout, [&] { return mState > from; });
    return mState;
}

bool IceSession::has_relayed_candidate() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mHasRelayCandidate;
}

IceDescription IceSession::local_description() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mLocal;
}

void IceSession::set_remote(const IceDescription &remote)
{
    mLoop.invoke([self = shared_from_this(), remote] {
        if (self->mAgent == nullptr || terminal(self->state()))
            return;
        NiceAgent *agent = self->mAgent;
        if (!nice_agent_set_remote_credentials(agent, self->mStream, remote.ufrag.c_str(), remote.pwd.c_str())) {
            self->set_state(SessionState::failed);
            return;
        }
        for (guint component = 1; component <= kComponents; ++component) {
            GSList *candidates = nullptr;
            for (const std::string &line : remote.candidates[component - 1]) {
                NiceCandidate *candidate = nice_agent_parse_remote_candidate_sdp(agent, self->mStream, line.c_str());
                if (candidate == nullptr)
                    continue;
                if (candidate->component_id != component)
                    nice_candidate_free(candidate);
                else
                    candidates = g_slist_append(candidates, candidate);
            }
            int added = candidates ? nice_agent_set_remote_candidates(agent, self->mStream, component, candidates) : 0;
            g_slist_free_full(candidates, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
            if (added <= 0) {
                self->set_state(SessionState::failed);
                return;
            }
        }
        self->set_state(SessionState::connecting);
    });
}

void IceSession::on_gathering_done(NiceAgent *agent, guint stream, gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    IceDescription local;
    gchar *ufrag = nullptr, *pwd = nullptr;
    if (nice_agent_get_local_credentials(agent, stream, &ufrag, &pwd)) {
        local.ufrag = ufrag;
        local.pwd = pwd;
    }
    g_free(ufrag);
    g_free(pwd);
    for (guint component = 1; component <= kComponents; ++component) {
        GSList *candidates = nice_agent_get_local_candidates(agent, stream, component);
        for (GSList *item = candidates; item != nullptr; item = item->next) {
            auto *candidate = static_cast<NiceCandidate *>(item->data);
            std::vector<std::string> &out = local.candidates[component - 1];
            if ((self->mSetup.relay_only && candidate->type != NICE_CANDIDATE_TYPE_RELAYED) ||
                out.size() >= kMaxCandidatesPerComponent)
                continue;
            gchar *line = nice_agent_generate_local_candidate_sdp(agent, candidate);
            out.emplace_back(line);
            g_free(line);
        }
        g_slist_free_full(candidates, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
    }
    {
        std::lock_guard<std::mutex> lock(self->mMutex);
        self->mLocal = std::move(local);
    }
    self->mGathered = true;
    if (self->mReleaseWhenGathered) {
        self->close_agent();
        return;
    }
    self->set_state(SessionState::gathered);
}

void IceSession::on_new_candidate(NiceAgent *, NiceCandidate *candidate, gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    if (candidate->type == NICE_CANDIDATE_TYPE_RELAYED) {
        std::lock_guard<std::mutex> lock(self->mMutex);
        self->mHasRelayCandidate = true;
    }
}

void IceSession::on_state_changed(NiceAgent *, guint, guint component, guint state, gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    if (component < 1 || component > kComponents)
        return;
    if (state == NICE_COMPONENT_STATE_CONNECTED || state == NICE_COMPONENT_STATE_READY) {
        self->mChannels[component - 1].connected = true;
        self->mark_component(component);
    } else if (state == NICE_COMPONENT_STATE_FAILED) {
        self->end(self->state() == SessionState::up ? SessionState::lost : SessionState::failed);
    }
}

void IceSession::on_selected_pair(NiceAgent *, guint, guint component, NiceCandidate *local, NiceCandidate *remote,
                                  gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    if (component < 1 || component > kComponents)
        return;
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mRelayed[component - 1] =
        local->type == NICE_CANDIDATE_TYPE_RELAYED || remote->type == NICE_CANDIDATE_TYPE_RELAYED;
    if (component == 1) {
        gchar address[NICE_ADDRESS_STRING_LEN];
        nice_address_to_string(&remote->addr, address);
        self->mRemoteAddress = std::string(address) + ":" + std::to_string(nice_address_get_port(&remote->addr));
    }
}

// A component is up once ICE has a working pair (CONNECTED is enough: waiting
// for READY costs seconds on relayed pairs) and its PseudoTCP can take bytes.
void IceSession::on_writable(NiceAgent *, guint, guint component, gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    if (component < 1 || component > kComponents)
        return;
    self->mChannels[component - 1].transport_writable = true;
    self->mark_component(component);
    self->flush(component);
}

void IceSession::mark_component(unsigned component)
{
    Channel &ch = mChannels[component - 1];
    if (ch.up || !ch.connected || !ch.transport_writable)
        return;
    ch.up = true;
    if (mChannels[0].up && mChannels[1].up)
        set_state(SessionState::up);
}

void IceSession::on_receive(NiceAgent *, guint, guint component, guint length, gchar *bytes, gpointer data)
{
    auto *self = static_cast<IceSession *>(data);
    if (component >= 1 && component <= kComponents)
        self->receive(component, reinterpret_cast<const uint8_t *>(bytes), length);
}

// Feeds what PseudoTCP delivered through the frame parser: data into the
// channel (it always fits, the peer holds no more credit than there is
// room), credit into what this side may send.
void IceSession::receive(unsigned component, const uint8_t *bytes, size_t length)
{
    if (mAgent == nullptr)
        return;  // closing: nobody reads any more
    struct Sink : FrameParser::Sink {
        explicit Sink(Channel &ch) : ch(ch) {}
        bool on_data(const uint8_t *data, size_t n) override
        {
            std::lock_guard<std::mutex> lock(ch.mutex);
            if (ch.in.push(data, n) < n)
                return false;
            ch.readable.notify_all();
            return true;
        }
        bool on_credit(uint32_t n) override
        {
            ch.credit += n;
            got_credit = true;
            return ch.credit <= kChannelWindow;
        }
        Channel &ch;
        bool got_credit = false;
    } sink(mChannels[component - 1]);
    if (!mChannels[component - 1].parser.feed(bytes, length, sink)) {
        end(SessionState::lost);  // the peer broke the framing: no stream left
        return;
    }
    if (sink.got_credit)
        flush(component);
}

void IceSession::give_credit(unsigned component, uint32_t bytes)
{
    mChannels[component - 1].grant += bytes;
    flush(component);
}

// Sends frames while PseudoTCP takes them: credit first, then data as far as
// the peer's credit reaches.
void IceSession::flush(unsigned component)
{
    Channel &ch = mChannels[component - 1];
    {
        std::lock_guard<std::mutex> lock(ch.mutex);
        ch.flush_queued = false;
    }
    if (mAgent == nullptr || !ch.transport_writable)
        return;
    for (;;) {
        if (ch.frame_sent == ch.frame.size()) {
            ch.frame.clear();
            ch.frame_sent = 0;
            if (ch.grant > 0) {
                append_credit_frame(ch.frame, ch.grant);
                ch.grant = 0;
            } else {
                std::lock_guard<std::mutex> lock(ch.mutex);
                size_t length;
                const uint8_t *bytes = ch.out.front(&length);
                length = std::min({length, kMaxFramePayload, ch.credit});
                if (length == 0)
                    return;
                append_data_frame(ch.frame, bytes, length);
                ch.out.drop_front(length);
                ch.credit -= length;
                ch.writable.notify_all();
            }
        }
        gint sent = nice_agent_send(mAgent, mStream, component, guint(ch.frame.size() - ch.frame_sent),
                                    reinterpret_cast<const gchar *>(ch.frame.data() + ch.frame_sent));
        if (sent <= 0)
            return;  // PseudoTCP is full: reliable-transport-writable calls again
        ch.frame_sent += size_t(sent);
    }
}

void IceSession::end(SessionState why)
{
    set_state(why);
}

void IceSession::wake_all()
{
    for (Channel &ch : mChannels) {
        std::lock_guard<std::mutex> lock(ch.mutex);
        ch.readable.notify_all();
        ch.writable.notify_all();
    }
}

void IceSession::close(bool drain)
{
    if (mClosed.exchange(true))
        return;
    // Counted before the loop gets to it, so a loop that is about to end
    // waits for this agent's deallocation.
    mLoop.agent_closing();
    if (drain && state() == SessionState::up) {
        for (Channel &ch : mChannels) {
            std::unique_lock<std::mutex> lock(ch.mutex);
            ch.writable.wait_for(lock, kDrainTime, [&] { return ch.out.size() == 0 || terminal(state()); });
        }
    }
    bool told_by_peer = state() == SessionState::remote_closed;
    end(SessionState::user_closed);
    std::shared_ptr<BrokerLink> link;
    std::string topic;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        link = mByeLink.lock();
        topic = mByeTopic;
    }
    if (link && !told_by_peer) {
        SignalMessage bye;
        bye.type = MessageType::bye;
        bye.session = mSetup.token;
        link->publish(topic, encode_message(bye));
    }
    mLoop.invoke([self = shared_from_this()] { self->release_agent(); });
}

// Closing asynchronously lets the agent release its TURN allocations before
// it is dropped; without it the relay runs out of ports.
void IceSession::release_agent()
{
    if (mAgent == nullptr) {
        mLoop.agent_closed();  // never started
        return;
    }
    // An agent closed while it still gathers never finishes closing, and an
    // allocation that completes meanwhile stays on the relay: let gathering
    // end first (bounded, in case the relay never answers).
    if (!mGathered) {
        mReleaseWhenGathered = true;
        GSource *timer = g_timeout_source_new(guint(kGatherGrace.count()));
        auto *self = new std::shared_ptr<IceSession>(shared_from_this());
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                (*static_cast<std::shared_ptr<IceSession> *>(data))->close_agent();
                return G_SOURCE_REMOVE;
            },
            self, [](gpointer data) { delete static_cast<std::shared_ptr<IceSession> *>(data); });
        g_source_attach(timer, mLoop.context());
        g_source_unref(timer);
        return;
    }
    close_agent();
}

void IceSession::close_agent()
{
    if (mAgent == nullptr)
        return;
    g_signal_handlers_disconnect_by_data(mAgent, this);
    NiceAgent *agent = mAgent;
    mAgent = nullptr;  // from here on, received bytes are dropped
    // The receive callbacks stay attached while the agent closes (without
    // them libnice misses the relay's answers), so the closing keeps this
    // session alive until it is done.
    nice_agent_close_async(agent, on_agent_closed, new Closing{&mLoop, shared_from_this()});
}

int IceSession::gone_code() const
{
    switch (state()) {
    case SessionState::remote_closed:
        return PPPP_ERROR_REMOTE_CLOSED;
    case SessionState::failed:
    case SessionState::lost:
        return PPPP_ERROR_SESSION_LOST;
    case SessionState::user_closed:
        return PPPP_ERROR_USER_CLOSED;
    default:
        return PPPP_ERROR_NONE;
    }
}

IceSession::Channel *IceSession::channel(int number)
{
    return number >= 1 && number <= int(kComponents) ? &mChannels[number - 1] : nullptr;
}

int IceSession::read(int number, uint8_t *buffer, int *size, int timeout_ms)
{
    Channel *ch = channel(number);
    if (ch == nullptr || size == nullptr || *size < 0 || (buffer == nullptr && *size > 0))
        return PPPP_ERROR_INVALID_PARAMETER;
    const size_t wanted = size_t(*size);
    size_t got = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    std::unique_lock<std::mutex> lock(ch->mutex);
    for (;;) {
        size_t n = ch->in.pop(buffer + got, wanted - got);
        got += n;
        ch->consumed += n;
        if (ch->consumed >= kCreditStep) {
            uint32_t credit = uint32_t(ch->consumed);
            ch->consumed = 0;
            mLoop.invoke([self = shared_from_this(), number, credit] { self->give_credit(unsigned(number), credit); });
        }
        *size = int(got);
        if (got == wanted)
            return PPPP_ERROR_NONE;
        if (int gone = gone_code())
            return gone;
        if (std::chrono::steady_clock::now() >= deadline)
            return PPPP_ERROR_TIME_OUT;
        ch->readable.wait_until(lock, deadline);
    }
}

int IceSession::write(int number, const uint8_t *data, int length)
{
    Channel *ch = channel(number);
    if (ch == nullptr || length < 0 || (data == nullptr && length > 0))
        return PPPP_ERROR_INVALID_PARAMETER;
    size_t sent = 0;
    std::unique_lock<std::mutex> lock(ch->mutex);
    for (;;) {
        if (int gone = gone_code())
            return gone;
        size_t n = ch->out.push(data + sent, size_t(length) - sent);
        sent += n;
        if (n > 0 && !ch->flush_queued) {
            ch->flush_queued = true;
            mLoop.invoke([self = shared_from_this(), number] { self->flush(unsigned(number)); });
        }
        if (sent == size_t(length))
            return length;
        if (!ch->writable.wait_for(lock, kWriteStall, [&] { return ch->out.free_space() > 0 || gone_code() != 0; }))
            return PPPP_ERROR_TIME_OUT;
    }
}

int IceSession::check(unsigned char *record)
{
    std::memset(record, 0, PPPP_CHECK_RECORD_SIZE);
    SessionState now = state();
    record[0] = now == SessionState::up ? 1 : 0;
    record[1] = mSetup.controlling ? 0 : 1;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        size_t n = std::min(mRemoteAddress.size(), size_t(63));
        std::memcpy(record + 4, mRemoteAddress.data(), n);
        record[PPPP_CHECK_RELAYED_OFFSET] = (mRelayed[0] || mRelayed[1]) ? 1 : 0;
    }
    return gone_code();
}

int IceSession::check_buffer(int number, unsigned *write_size, unsigned *read_size)
{
    Channel *ch = channel(number);
    if (ch == nullptr)
        return PPPP_ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(ch->mutex);
    if (write_size != nullptr)
        *write_size = unsigned(ch->out.size());
    if (read_size != nullptr)
        *read_size = unsigned(ch->in.size());
    return ch->in.size() == 0 ? gone_code() : PPPP_ERROR_NONE;
}

}  // namespace pppp
