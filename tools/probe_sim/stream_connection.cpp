#include "stream_connection.h"

#include "probe_socket.h"
#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

using Clock = std::chrono::steady_clock;

// The host starts listening for the stream only after it has read the login
// answer, so the first attempts may well be refused.
constexpr auto kConnectBackWindow = std::chrono::seconds(3);
constexpr auto kConnectRetryPause = std::chrono::milliseconds(50);
// After the host dropped the stream (it does after a corrupt header) the
// device keeps trying this long; a host that ended its session never answers.
constexpr auto kReconnectWindow = std::chrono::seconds(5);
// How long an idle stream waits between looks at its flags and at the host.
constexpr int kIdleSliceMs = 20;
constexpr auto kHostCheckInterval = std::chrono::milliseconds(1);

std::chrono::nanoseconds frame_interval(uint32_t fps)
{
    return std::chrono::nanoseconds(1000000000LL / std::max<uint32_t>(fps, 1));
}

int ms_until(Clock::time_point when, Clock::time_point now)
{
    return when > now ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count()) : 0;
}

}  // namespace

StreamConnection::StreamConnection(DeviceState &state, sockaddr_in local, sockaddr_in host, uint32_t token,
                                   uint64_t login_order)
    : token(token), login_order(login_order), state_(state), local_(local), host_(host)
{
}

StreamConnection::StreamConnection(DeviceState &state, net::Socket attached, uint32_t token, uint64_t login_order)
    : token(token), login_order(login_order), state_(state), attached_(true), attached_socket_(std::move(attached))
{
}

StreamConnection::~StreamConnection()
{
    if (thread_.joinable())
        thread_.join();
}

void StreamConnection::start()
{
    thread_ = std::thread([this] { run(); });
}

void StreamConnection::close()
{
    close_requested = true;
    if (link)
        link->shutdown();
}

void StreamConnection::run()
{
    VideoSender sender(token);
    auto window = kConnectBackWindow;
    while (connect_back(window)) {
        const End end = stream_until_closed(sender);
        drop_link();
        if (end != End::HostClosed)
            break;
        window = kReconnectWindow;
        key_frame_wanted = true;
    }
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        done = true;
    }
    state_.cv.notify_all();
}

void StreamConnection::drop_link()
{
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        if (!link)
            return;
        link->shutdown();
        link.reset();
        --state_.streams_open;
    }
    state_.cv.notify_all();
}

bool StreamConnection::connect_back(std::chrono::seconds window)
{
    const auto deadline = Clock::now() + window;
    const std::atomic<bool> &stopping = state_.stopping;
    if (attached_) {
        std::lock_guard<std::mutex> lock(state_.mu);
        if (stopping || close_requested || !attached_socket_.valid())
            return false;
        link = std::make_shared<StreamLink>(std::move(attached_socket_), state_.chaos, state_.stopping);
        ++state_.streams_made;
        ++state_.streams_open;
        state_.cv.notify_all();
        return true;
    }
    for (;;) {
        // A logout may have cut the last connection: never open one after it.
        if (stopping || close_requested)
            return false;
        net::Socket attempt = net::connect_from(local_, host_, deadline, stopping);
        std::unique_lock<std::mutex> lock(state_.mu);
        if (stopping || close_requested)
            return false;
        if (attempt.valid()) {
            link = std::make_shared<StreamLink>(std::move(attempt), state_.chaos, state_.stopping);
            ++state_.streams_made;
            ++state_.streams_open;
            state_.cv.notify_all();
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        state_.cv.wait_until(lock, std::min(deadline, now + kConnectRetryPause),
                             [this, &stopping] { return stopping.load() || close_requested.load(); });
    }
}

// Sends video and audio while they are on, at their rates, and serves what
// the host writes, until logout, stop(), the host closing its end, or a
// fault that drops the connection.
StreamConnection::End StreamConnection::stream_until_closed(VideoSender &sender)
{
    StreamLink &out = *link;
    HostStreamParser from_host;
    auto next_frame = Clock::now();
    auto next_audio = Clock::now();
    auto next_host_check = Clock::now();
    bool was_on = false;
    bool audio_was_on = false;
    while (!state_.stopping && !close_requested) {
        const bool on = video_on;
        const bool audio = audio_on;
        const auto now = Clock::now();
        if (on && !was_on)
            next_frame = now;
        was_on = on;
        if (audio && !audio_was_on)
            next_audio = now;
        audio_was_on = audio;
        int wait_ms = kIdleSliceMs;
        if (on && next_frame > now)
            wait_ms = static_cast<int>(std::min<int64_t>(
                kIdleSliceMs, std::chrono::ceil<std::chrono::milliseconds>(next_frame - now).count()));
        else if (on)
            wait_ms = 0;
        if (audio)
            wait_ms = std::min(wait_ms, ms_until(next_audio, now));
        // Flat out, the host side is looked at once a millisecond rather
        // than before every frame: the frames go out at the sender's pace.
        if (wait_ms > 0 || now >= next_host_check) {
            next_host_check = now + kHostCheckInterval;
            std::vector<uint8_t> received;
            const bool host_closed = out.host_closed(wait_ms, received);
            if (!take_host_packets(out, from_host, received) || host_closed)
                return End::HostClosed;
        }
        if (audio && Clock::now() >= next_audio) {
            if (!send_audio_block(out))
                return End::HostClosed;
            // A block sent late (behind a video frame) is caught up, but a
            // stream that fell far behind skips ahead instead of bursting.
            next_audio = std::max(next_audio + kAudioBlockInterval, Clock::now() - 2 * kAudioBlockInterval);
        }
        if (!on || Clock::now() < next_frame)
            continue;
        const FrameOrder order = take_frame_order();
        const auto interval = frame_interval(order.settings.fps);
        next_frame =
            order.options.unlimited_rate ? Clock::now() : std::max(next_frame + interval, Clock::now() - interval);
        uint64_t written = 0;
        switch (sender.send_next(out, order, written)) {
        case FrameOutcome::Sent:
            state_.count(&DeviceState::frames_sent);
            break;
        case FrameOutcome::Skipped:
            if (order.fault != Fault::None) {
                // Not used up: the next frame sent carries it.
                std::lock_guard<std::mutex> lock(state_.mu);
                if (state_.fault == Fault::None)
                    state_.fault = order.fault;
            }
            break;
        case FrameOutcome::WriteFailed:
            return End::HostClosed;
        case FrameOutcome::Dropped:
            return End::DeviceDropped;
        }
    }
    return End::Stopped;
}

// Audio for the speaker is kept; serial bytes go to the port, whose
// loop-back sends them straight back. False when that reply cannot be written.
bool StreamConnection::take_host_packets(StreamLink &out, HostStreamParser &parser,
                                         const std::vector<uint8_t> &received)
{
    if (received.empty())
        return true;
    parser.feed(received);
    std::vector<uint8_t> reply;
    bool played = false;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        HostPacket packet;
        while (parser.next(packet)) {
            if (packet.token != token)
                continue;  // not this session's: the device ignores it
            if (packet.type == static_cast<uint8_t>(wire::StreamType::Audio)) {
                state_.audio.play(packet.payload);
                played = true;
            } else if (packet.type == static_cast<uint8_t>(wire::StreamType::Serial)) {
                for (const auto &block : state_.serial.forward(packet.payload))
                    append_packets(reply, token, static_cast<uint8_t>(wire::StreamType::Serial), block, 0);
            }
        }
    }
    if (played)
        state_.cv.notify_all();
    return reply.empty() || out.write(reply);
}

bool StreamConnection::send_audio_block(StreamLink &out)
{
    std::vector<uint8_t> block;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        block = state_.audio.next_block();
    }
    std::vector<uint8_t> bytes;
    append_packets(bytes, token, static_cast<uint8_t>(wire::StreamType::Audio), block, 0);
    if (!out.write(bytes))
        return false;
    state_.count(&DeviceState::audio_blocks_sent);
    return true;
}

// What the next frame is made of; a pending stream fault is taken for it.
FrameOrder StreamConnection::take_frame_order()
{
    FrameOrder order;
    std::lock_guard<std::mutex> lock(state_.mu);
    order.settings = state_.video.settings();
    order.options = state_.stream_options;
    if (is_stream_fault(state_.fault)) {
        order.fault = state_.fault;
        state_.fault = Fault::None;
    }
    order.key_frame_wanted = key_frame_wanted.exchange(false);
    return order;
}

}  // namespace probesim
