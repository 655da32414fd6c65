#include "probe_simulator.h"

#include "command_server.h"
#include "device_state.h"
#include "p2p_front_door.h"
#include "probe_wire.h"
#include "stream_hub.h"

#include <arpa/inet.h>

#include <utility>

namespace probesim {

DeviceModel::DeviceModel()
{
    for (uint8_t pin = 0; pin < 8; ++pin)
        gpio_pins.push_back(GpioPin{static_cast<uint8_t>(pin >= 4), static_cast<uint8_t>(pin % 2)});
    for (size_t i = 0; i < i2c_registers.size(); ++i)
        i2c_registers[i] = static_cast<uint8_t>(i ^ 0xA5);
}

namespace {

net::Socket listen_on(const std::string &address, uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        return net::Socket();
    net::Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!listener.valid() || setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener.fd(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listener.fd(), SOMAXCONN) != 0 || !net::set_nonblocking(listener.fd()))
        return net::Socket();
    return listener;
}

}  // namespace

// Declared in this order so that the server and the streams go before the
// state they share.
struct ProbeSimulator::Impl {
    explicit Impl(DeviceModel model)
        : state(std::move(model)), streams(state), server(state, streams), p2p(state, server)
    {
    }

    DeviceState state;
    StreamHub streams;
    CommandServer server;
    P2pFrontDoor p2p;
    int relay_sessions = -1;
    std::unique_ptr<DiscoveryResponder> discovery;
};

ProbeSimulator::ProbeSimulator(DeviceModel model) : impl_(std::make_unique<Impl>(std::move(model))) {}

ProbeSimulator::~ProbeSimulator()
{
    stop();
}

bool ProbeSimulator::start(const std::string &address, uint16_t port)
{
    Impl &d = *impl_;
    if (d.server.running())
        return false;
    net::Socket listener = listen_on(address, port);
    if (!listener.valid())
        return false;
    {
        std::lock_guard<std::mutex> lock(d.state.mu);
        d.state.stopping = false;
        d.state.streams_made = 0;
        d.state.frames_sent = 0;
        d.state.pictures_sent = 0;
        d.state.key_frame_requests = 0;
        d.state.audio_blocks_sent = 0;
    }
    d.server.start(std::move(listener));
    return true;
}

void ProbeSimulator::set_chaos(const ChaosSettings &settings)
{
    if (!impl_->server.running())
        impl_->state.chaos = std::make_shared<Chaos>(settings);
}

std::string ProbeSimulator::chaos_summary() const
{
    return impl_->state.chaos ? impl_->state.chaos->summary() : std::string();
}

void ProbeSimulator::stop()
{
    Impl &d = *impl_;
    if (!d.server.running())
        return;
    {
        std::lock_guard<std::mutex> lock(d.state.mu);
        d.state.stopping = true;
        d.streams.close_all();
    }
    d.state.cv.notify_all();
    d.p2p.stop();
    d.server.stop();
    d.streams.stop();
    d.discovery.reset();
}

bool ProbeSimulator::start_p2p(const std::string &device_id, const std::string &init_string)
{
    Impl &d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.state.mu);
        if (!d.server.running())
            d.state.stopping = false;
    }
    if (!d.p2p.start(device_id, init_string))
        return false;
    if (!d.server.running())
        d.server.start_attached_only();
    int relay_sessions;
    {
        std::lock_guard<std::mutex> lock(d.state.mu);
        relay_sessions = d.state.fault == Fault::RelayFirstSessions ? d.relay_sessions : 0;
    }
    d.p2p.relay_only(relay_sessions);
    return true;
}

void ProbeSimulator::set_relay_sessions(int sessions)
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    impl_->relay_sessions = sessions;
}

bool ProbeSimulator::start_discovery(const DiscoveryModel &model)
{
    Impl &d = *impl_;
    sockaddr_in bound{};
    socklen_t bound_length = sizeof bound;
    if (!d.server.running() || d.discovery ||
        getsockname(d.server.listener().fd(), reinterpret_cast<sockaddr *>(&bound), &bound_length) != 0)
        return false;
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &bound.sin_addr, address, sizeof address);
    auto responder = std::make_unique<DiscoveryResponder>(model);
    if (!responder->start(address))
        return false;
    d.discovery = std::move(responder);
    return true;
}

void ProbeSimulator::set_fault(Fault fault)
{
    int relay_sessions;
    {
        std::lock_guard<std::mutex> lock(impl_->state.mu);
        impl_->state.fault = fault;
        relay_sessions = fault == Fault::RelayFirstSessions ? impl_->relay_sessions : 0;
    }
    // The relayed sessions are counted by the layer: another fault set
    // after this one leaves the count running, none ends it.
    if (fault == Fault::RelayFirstSessions || fault == Fault::None)
        impl_->p2p.relay_only(relay_sessions);
}

SimulatorState ProbeSimulator::state() const
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    return impl_->state.snapshot();
}

bool ProbeSimulator::wait_until(const std::function<bool(const SimulatorState &)> &condition,
                                std::chrono::milliseconds timeout) const
{
    const DeviceState &s = impl_->state;
    std::unique_lock<std::mutex> lock(s.mu);
    return s.cv.wait_for(lock, timeout, [&] { return condition(s.snapshot()); });
}

std::vector<ReceivedPacket> ProbeSimulator::packets() const
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    return impl_->state.packets;
}

void ProbeSimulator::clear_packets()
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    impl_->state.packets.clear();
}

std::array<uint8_t, 736> ProbeSimulator::video_info_block() const
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    return impl_->state.video.info_block();
}

void ProbeSimulator::set_stream_options(const StreamOptions &options)
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    impl_->state.stream_options = options;
}

void ProbeSimulator::set_video_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps)
{
    std::lock_guard<std::mutex> lock(impl_->state.mu);
    impl_->state.video.set_format(format, width, height, fps);
}

std::vector<uint8_t> ProbeSimulator::frame_payload(uint32_t format, uint32_t resolution, uint32_t sequence,
                                                   bool key_frame, const std::vector<uint8_t> &data)
{
    return wire::frame_payload(format, resolution, sequence, key_frame, data.data(), data.size());
}

bool ProbeSimulator::send_stream_packets(const std::vector<StreamPacket> &packets)
{
    return impl_->streams.send_packets(packets);
}

bool ProbeSimulator::send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data)
{
    return impl_->streams.send_param_change(sub_type, data);
}

bool ProbeSimulator::send_serial(const std::vector<uint8_t> &bytes)
{
    return impl_->streams.send_serial(bytes);
}

}  // namespace probesim
