#include "discovery_responder.h"

#include "probe_wire.h"
#include "udp_service.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace probesim {

namespace {

constexpr size_t kRequestSize = 32;
constexpr size_t kRequestModeOffset = 4;
constexpr uint16_t kRequestModeAll = 0xFFFF;
constexpr size_t kReplyIdOffset = 8;
constexpr size_t kReplyAliasOffset = 12;
constexpr size_t kReceiveBufferSize = 2048;
constexpr size_t kNoiseSize = 1024;

bool has_magic(const uint8_t *p, size_t n)
{
    return n >= 3 && p[0] == 'Q' && p[1] == 'R' && p[2] == 'N';
}

bool well_formed(const uint8_t *p, size_t n)
{
    return n == kRequestSize && has_magic(p, n) && p[3] == 0 &&
           wire::get_u16(p + kRequestModeOffset) == kRequestModeAll &&
           std::all_of(p + kRequestModeOffset + 2, p + n, [](uint8_t b) { return b == 0; });
}

std::vector<uint8_t> reply_for(const DiscoveryIdentity &device, DiscoveryFault fault)
{
    const bool terminated = fault != DiscoveryFault::UnterminatedAlias;
    std::vector<uint8_t> reply(kReplyAliasOffset + device.alias.size() + (terminated ? 1 : 0), 0);
    reply[0] = 'Q';
    reply[1] = 'R';
    reply[2] = fault == DiscoveryFault::NoMagic ? 'X' : 'N';
    wire::put_u16(&reply[kRequestModeOffset], kRequestModeAll);
    wire::put_u32(&reply[kReplyIdOffset], device.id);
    if (fault == DiscoveryFault::ThreeByteReply) {
        reply.resize(3);
        return reply;
    }
    std::copy(device.alias.begin(), device.alias.end(), reply.begin() + kReplyAliasOffset);
    return reply;
}

}  // namespace

struct DiscoveryResponder::Impl {
    explicit Impl(DiscoveryModel m) : model(std::move(m)) {}

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    const DiscoveryModel model;
    DiscoveryFault fault = DiscoveryFault::None;
    std::vector<DiscoveryRequest> requests;
    size_t replies = 0;

    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReceiveBufferSize);
    net::UdpService service;

    void take_request(int fd);
    void answer(const sockaddr_in &host);
    template <typename Predicate>
    bool wait(std::chrono::milliseconds timeout, Predicate done) const
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, timeout, done);
    }
};

void DiscoveryResponder::Impl::take_request(int fd)
{
    sockaddr_in host{};
    socklen_t host_length = sizeof host;
    const ssize_t got =
        ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&host), &host_length);
    if (got < 0)
        return;
    DiscoveryRequest request;
    request.when = std::chrono::steady_clock::now();
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &host.sin_addr, text, sizeof text);
    request.sender = text;
    request.well_formed = well_formed(buffer.data(), static_cast<size_t>(got));
    {
        std::lock_guard<std::mutex> lock(mu);
        requests.push_back(request);
    }
    cv.notify_all();
    if (has_magic(buffer.data(), static_cast<size_t>(got)))
        answer(host);
}

void DiscoveryResponder::Impl::answer(const sockaddr_in &host)
{
    std::vector<std::vector<uint8_t>> datagrams;
    {
        std::lock_guard<std::mutex> lock(mu);
        if (model.reply_limit >= 0 && replies >= static_cast<size_t>(model.reply_limit))
            return;
        if (model.noise_before_reply)
            datagrams.emplace_back(kNoiseSize, 'Z');
        DiscoveryIdentity self{model.id, model.alias};
        if (fault == DiscoveryFault::ChangedAlias && replies > 0)
            self.alias = model.changed_alias;
        datagrams.push_back(reply_for(self, fault));
        for (const DiscoveryIdentity &other : model.behind_same_address)
            datagrams.push_back(reply_for(other, fault));
    }
    for (const auto &datagram : datagrams)
        ::sendto(service.reply_fd(), datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&host),
                 sizeof host);
    {
        std::lock_guard<std::mutex> lock(mu);
        ++replies;
    }
    cv.notify_all();
}

DiscoveryResponder::DiscoveryResponder(DiscoveryModel model) : impl_(std::make_unique<Impl>(std::move(model))) {}

DiscoveryResponder::~DiscoveryResponder()
{
    stop();
}

bool DiscoveryResponder::start(const std::string &address, uint16_t port)
{
    Impl &d = *impl_;
    return d.service.start(address, port, [&d](int fd) { d.take_request(fd); });
}

void DiscoveryResponder::stop()
{
    impl_->service.stop();
}

void DiscoveryResponder::set_fault(DiscoveryFault fault)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->fault = fault;
}

std::vector<DiscoveryRequest> DiscoveryResponder::requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->requests;
}

bool DiscoveryResponder::wait_for_requests(size_t count, std::chrono::milliseconds timeout) const
{
    return impl_->wait(timeout, [this, count] { return impl_->requests.size() >= count; });
}

size_t DiscoveryResponder::replies_sent() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->replies;
}

bool DiscoveryResponder::wait_for_replies(size_t count, std::chrono::milliseconds timeout) const
{
    return impl_->wait(timeout, [this, count] { return impl_->replies >= count; });
}

}  // namespace probesim
