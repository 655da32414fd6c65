#include "bare_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace bare_host {

namespace wire = probesim::wire;

namespace {

constexpr uint16_t kCommandPort = 34674;
constexpr int kReadTimeoutMs = 10000;

bool send_all(int fd, const std::vector<uint8_t> &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t w = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        sent += static_cast<size_t>(w);
    }
    return true;
}

bool recv_all(int fd, uint8_t *buffer, size_t n, int timeout_ms)
{
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        const ssize_t r = ::recv(fd, buffer + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

sockaddr_in loopback(const std::string &address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

std::vector<uint8_t> u32_payload(uint32_t v)
{
    std::vector<uint8_t> out(4);
    wire::put_u32(out.data(), v);
    return out;
}

StreamReader::StreamReader(int fd) : fd_(fd), thread_([this] { run(); }) {}

StreamReader::~StreamReader()
{
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
}

std::optional<Packet> StreamReader::take(const std::function<bool(const Packet &)> &match,
                                         std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mu_);
    std::optional<Packet> found;
    cv_.wait_for(lock, timeout, [&] {
        const auto it = std::find_if(packets_.begin(), packets_.end(), match);
        if (it != packets_.end()) {
            found = std::move(*it);
            packets_.erase(it);
            return true;
        }
        return closed_;
    });
    return found;
}

std::optional<Packet> StreamReader::next(std::chrono::milliseconds timeout)
{
    return take([](const Packet &) { return true; }, timeout);
}

bool StreamReader::wait_closed(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [this] { return closed_; });
}

void StreamReader::drain(uint8_t type)
{
    for (int n = 0; n < 100; ++n)
        if (!take([type](const Packet &q) { return q.type == type; }, std::chrono::milliseconds(200)))
            return;
}

void StreamReader::run()
{
    for (;;) {
        uint8_t raw[wire::kHeaderSize];
        if (!recv_all(fd_, raw, sizeof raw, kReadTimeoutMs))
            break;
        Packet p;
        std::memcpy(p.magic, raw, 3);
        p.sub_code = raw[3];
        p.token = wire::get_u32(raw + 4);
        p.type = raw[8];
        p.count = raw[9];
        p.index = raw[10];
        p.payload.resize(wire::get_u32(raw + 12));
        if (!p.payload.empty() && !recv_all(fd_, p.payload.data(), p.payload.size(), kReadTimeoutMs))
            break;
        std::lock_guard<std::mutex> lock(mu_);
        packets_.push_back(std::move(p));
        cv_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    cv_.notify_all();
}

Host::~Host()
{
    if (listener_ >= 0)
        ::close(listener_);
}

bool Host::login()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in any = loopback("127.0.0.1", 0);
        socklen_t len = sizeof any;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr *>(&any), &len) != 0)
            continue;
        // The device connects back to the login's source port, byte-swapped, plus one.
        const uint16_t data_port = ntohs(any.sin_port);
        const uint16_t swapped = static_cast<uint16_t>(data_port - 1);
        const uint16_t login_port = static_cast<uint16_t>((swapped & 0xFF) << 8 | swapped >> 8);
        if (login_port < 1024 || ::listen(listener_, 4) != 0)
            continue;
        const Reply answer = exchange(wire::kLogin, {}, login_port);
        if (!answer.ok)
            continue;
        return answer.status == 0;
    }
    return false;
}

bool Host::accept_stream(std::chrono::milliseconds timeout)
{
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0)
        return false;
    stream = std::make_unique<StreamReader>(fd);
    return true;
}

std::optional<Frame> Host::frame(uint8_t type, std::chrono::milliseconds timeout)
{
    Frame f;
    for (;;) {
        std::optional<Packet> p = stream->take([type](const Packet &q) { return q.type == type; }, timeout);
        if (!p)
            return std::nullopt;
        EXPECT_TRUE(p->magic_ok());
        EXPECT_EQ(p->sub_code, 0);
        EXPECT_EQ(p->token, token);
        EXPECT_EQ(p->index, f.packets.size()) << "fragments come in order, none missing";
        if (!f.packets.empty()) {
            EXPECT_EQ(p->count, f.packets.front().count);
        }
        f.payload.insert(f.payload.end(), p->payload.begin(), p->payload.end());
        f.packets.push_back(std::move(*p));
        if (f.packets.back().index + 1 >= f.packets.back().count)
            break;
    }
    EXPECT_GE(f.payload.size(), wire::kFrameHeaderSize);
    if (f.payload.size() < wire::kFrameHeaderSize)
        return std::nullopt;
    return f;
}

std::optional<Packet> Host::notice(uint32_t sub_type, std::chrono::milliseconds timeout)
{
    return stream->take([sub_type](const Packet &p) { return p.type == kParamChange && p.sub_type() == sub_type; },
                        timeout);
}

std::optional<Frame> Host::fresh_frame(const probesim::ProbeSimulator &sim)
{
    const size_t sent = sim.state().video_frames_sent;
    for (int n = 0; n < 100; ++n) {
        std::optional<Frame> f = frame(kVideo);
        if (!f || f->sequence() > sent + 1)
            return f;
    }
    return std::nullopt;
}

bool Host::quiet(uint8_t type, std::chrono::milliseconds spell)
{
    return !stream->take([type](const Packet &p) { return p.type == type; }, spell);
}

Reply Host::exchange(uint16_t code, const std::vector<uint8_t> &payload, uint16_t from_port, bool await)
{
    Reply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from_port) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local = loopback("127.0.0.1", from_port);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            ::close(fd);
            return reply;
        }
    }
    sockaddr_in remote = loopback(device_, kCommandPort);
    wire::CommandHeader header;
    header.code = code;
    header.token = code == wire::kLogin ? 0 : token;
    header.length = static_cast<uint32_t>(payload.size());
    const auto head = wire::encode(header);
    std::vector<uint8_t> request(head.begin(), head.end());
    request.insert(request.end(), payload.begin(), payload.end());
    uint8_t answer[wire::kHeaderSize];
    if (::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0 && send_all(fd, request) && await &&
        recv_all(fd, answer, sizeof answer, kReadTimeoutMs)) {
        const wire::CommandHeader got = wire::decode_command_header(answer);
        reply.code = got.code;
        reply.status = got.status;
        reply.payload.resize(got.length);
        reply.ok = reply.payload.empty() || recv_all(fd, reply.payload.data(), reply.payload.size(), kReadTimeoutMs);
        if (code == wire::kLogin)
            token = got.token;
    }
    ::close(fd);
    return reply;
}

}  // namespace bare_host
