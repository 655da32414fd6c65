#include "stream_hub.h"

#include "probe_wire.h"
#include "stream_sender.h"
#include "take_finished.h"

namespace probesim {

namespace {

// The host listens for the stream on its command source port, byte-swapped, plus one.
uint16_t data_port_for(uint16_t peer_port)
{
    const uint16_t swapped = static_cast<uint16_t>(((peer_port & 0xFF) << 8) | (peer_port >> 8));
    return static_cast<uint16_t>(swapped + 1);
}

}  // namespace

StreamConnection *StreamHub::connect_back(const net::Socket &login, uint32_t token, uint64_t login_order)
{
    sockaddr_in host{};
    socklen_t len = sizeof host;
    if (getpeername(login.fd(), reinterpret_cast<sockaddr *>(&host), &len) != 0 || host.sin_family != AF_INET)
        return nullptr;
    sockaddr_in local{};
    len = sizeof local;
    // Connect from the address the host reached us on, so the stream visibly
    // comes from the same device.
    if (getsockname(login.fd(), reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return nullptr;
    local.sin_port = 0;
    host.sin_port = htons(data_port_for(ntohs(host.sin_port)));
    auto conn = std::make_unique<StreamConnection>(state_, local, host, token, login_order);
    StreamConnection &ref = *conn;
    std::lock_guard<std::mutex> lock(state_.mu);
    if (state_.stopping)
        return nullptr;
    streams_.push_back(std::move(conn));
    ref.start();
    return &ref;
}

void StreamHub::set_video(uint32_t token, bool on)
{
    for (auto &s : streams_) {
        if (s->token != token)
            continue;
        s->video_on = on;
        // A decoder joining now needs a key frame first.
        if (on)
            s->key_frame_wanted = true;
    }
}

void StreamHub::set_audio(uint32_t token, bool on)
{
    for (auto &s : streams_)
        if (s->token == token)
            s->audio_on = on;
}

void StreamHub::want_key_frames()
{
    for (auto &s : streams_)
        s->key_frame_wanted = true;
}

void StreamHub::close_session(uint32_t token, uint64_t logout_order)
{
    for (auto &s : streams_)
        if (s->token == token && s->login_order <= logout_order)
            s->close();
}

void StreamHub::close_login(uint64_t login_order)
{
    for (auto &s : streams_)
        if (s->login_order == login_order)
            s->close();
}

void StreamHub::close_all()
{
    for (auto &s : streams_)
        s->close();
}

bool StreamHub::broadcast(const std::vector<uint8_t> &bytes)
{
    std::vector<std::shared_ptr<StreamLink>> links;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        for (auto &s : streams_)
            if (s->link && !s->close_requested)
                links.push_back(s->link);
    }
    bool written = false;
    for (auto &link : links)
        written = link->write(bytes) || written;
    return written;
}

uint32_t StreamHub::token() const
{
    std::lock_guard<std::mutex> lock(state_.mu);
    return state_.model.token;
}

bool StreamHub::send_packets(const std::vector<StreamPacket> &packets)
{
    return broadcast(raw_packets(packets, token()));
}

bool StreamHub::send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data)
{
    StreamPacket packet;
    packet.type = static_cast<uint8_t>(wire::StreamType::ParamChange);
    packet.payload.resize(4);
    wire::put_u32(packet.payload.data(), sub_type);
    packet.payload.insert(packet.payload.end(), data.begin(), data.end());
    return send_packets({packet});
}

bool StreamHub::send_serial(const std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> packets;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        for (const auto &block : state_.serial.forward(bytes))
            append_packets(packets, state_.model.token, static_cast<uint8_t>(wire::StreamType::Serial), block, 0);
    }
    return !packets.empty() && broadcast(packets);
}

void StreamHub::push_snapshot()
{
    SnapshotSettings settings;
    StreamOptions options;
    uint32_t token;
    uint32_t sequence;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        settings = state_.video.snapshot();
        options = state_.stream_options;
        token = state_.model.token;
        sequence = static_cast<uint32_t>(state_.pictures_sent + 1);
    }
    const std::vector<uint8_t> bytes = snapshot_packets(token, settings, sequence, options);
    if (!bytes.empty() && broadcast(bytes))
        state_.count(&DeviceState::pictures_sent);
}

void StreamHub::reap_finished()
{
    take_finished(state_.mu, streams_);  // dropped at once: a connection joins its thread as it goes
}

void StreamHub::stop()
{
    std::list<std::unique_ptr<StreamConnection>> streams;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        close_all();
        streams.swap(streams_);
    }
    streams.clear();  // joins
}

}  // namespace probesim
