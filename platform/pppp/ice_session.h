// One peer-to-peer session: a libnice agent in reliable mode with one stream
// of two components, each a PseudoTCP byte stream (component 1 = channel 1,
// commands; component 2 = channel 2, stream). Agent work runs on the event
// loop; the blocking calls of the SDK's threads wait on a condition per
// channel.
#pragma once

#include "byte_ring.h"
#include "channel_frames.h"
#include "event_loop.h"
#include "signal_message.h"

#include <nice/agent.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pppp {

class BrokerLink;

enum class SessionState { starting, gathered, connecting, up, failed, remote_closed, lost, user_closed };

struct SessionSetup {
    bool controlling = false;   // the host controls, the device is controlled
    std::string local_address;  // the only address host candidates use
    std::string relay_address;  // numeric, resolved by the caller
    int relay_port = 0;
    std::string user;
    std::string password;
    bool relay_only = false;
    std::string token;    // names the session in every signalling message
    std::string peer_id;  // the device ID (host side) or the host's peer ID
};

class IceSession : public std::enable_shared_from_this<IceSession> {
public:
    IceSession(EventLoop &loop, SessionSetup setup);
    ~IceSession();

    const SessionSetup &setup() const { return mSetup; }

    // Creates the agent and starts gathering (asynchronously, on the loop).
    void start();
    // Called on the loop thread whenever the state changes.
    void set_observer(std::function<void(IceSession &)> observer) { mObserver = std::move(observer); }
    // Where a bye goes when this side closes.
    void set_bye_route(std::weak_ptr<BrokerLink> link, std::string topic);

    // Blocks until the state leaves `from` (or any of the states before it)
    // or the time runs out; returns the state.
    SessionState wait_past(SessionState from, std::chrono::milliseconds timeout);
    SessionState state() const;
    bool has_relayed_candidate() const;
    // Local ufrag, password and candidates, once gathered.
    IceDescription local_description() const;
    // Starts the checks (on the loop). The session fails when the peer's
    // description holds no usable candidate for a component.
    void set_remote(const IceDescription &remote);

    // A peer's bye, its vanishing, or this side's close: wakes every waiter.
    void end(SessionState why);
    // Ends the session and releases the agent (TURN allocations included).
    // `drain` first gives queued writes a bounded time to leave.
    void close(bool drain);

    // Session calls: PPPP result codes.
    int read(int channel, uint8_t *buffer, int *size, int timeout_ms);
    int write(int channel, const uint8_t *data, int length);
    int check(unsigned char *record);
    int check_buffer(int channel, unsigned *write_size, unsigned *read_size);

private:
    struct Channel {
        Channel();
        std::mutex mutex;
        std::condition_variable readable;
        std::condition_variable writable;
        ByteRing in;
        ByteRing out;
        size_t consumed = 0;  // read since the last credit given back
        bool flush_queued = false;
        // Loop thread only.
        bool connected = false;
        bool transport_writable = false;
        bool up = false;
        FrameParser parser;
        size_t credit = kChannelWindow;  // what the peer's reader can still take
        uint32_t grant = 0;              // credit to give our peer
        std::vector<uint8_t> frame;      // the frame being sent
        size_t frame_sent = 0;
    };

    // Loop thread.
    void create_agent();
    void set_state(SessionState state);
    void mark_component(unsigned component);
    void flush(unsigned component);
    void receive(unsigned component, const uint8_t *bytes, size_t length);
    void give_credit(unsigned component, uint32_t bytes);
    void release_agent();
    void close_agent();

    struct Closing;
    static void on_agent_closed(GObject *agent, GAsyncResult *, gpointer closing);
    static void on_gathering_done(NiceAgent *, guint stream, gpointer self);
    static void on_state_changed(NiceAgent *, guint stream, guint component, guint state, gpointer self);
    static void on_selected_pair(NiceAgent *, guint stream, guint component, NiceCandidate *local,
                                 NiceCandidate *remote, gpointer self);
    static void on_writable(NiceAgent *, guint stream, guint component, gpointer self);
    static void on_new_candidate(NiceAgent *, NiceCandidate *candidate, gpointer self);
    static void on_receive(NiceAgent *, guint stream, guint component, guint length, gchar *bytes, gpointer self);

    int gone_code() const;
    Channel *channel(int number);
    void wake_all();

    EventLoop &mLoop;
    SessionSetup mSetup;
    std::atomic<bool> mClosed{false};
    NiceAgent *mAgent = nullptr;  // loop thread only, like the two below
    bool mGathered = false;
    bool mReleaseWhenGathered = false;
    guint mStream = 0;
    std::function<void(IceSession &)> mObserver;

    mutable std::mutex mMutex;  // state, description, pair, bye route
    std::condition_variable mStateChanged;
    SessionState mState = SessionState::starting;
    IceDescription mLocal;
    bool mHasRelayCandidate = false;
    bool mRelayed[2] = {false, false};
    std::string mRemoteAddress;
    std::weak_ptr<BrokerLink> mByeLink;
    std::string mByeTopic;

    Channel mChannels[2];
};

}  // namespace pppp
