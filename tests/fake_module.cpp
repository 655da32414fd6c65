#include "fake_module.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace testing_support {

namespace {

constexpr uint16_t kCommandPort = 34674;
constexpr uint16_t kCodeLogin = 0x0001;
constexpr uint16_t kCodeLogout = 0x0002;
constexpr int kHeaderSize = 16;
constexpr uint32_t kLargestRequest = 64 * 1024;
constexpr int kReadWaitMs = 2000;

void put_u16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get_u32(const uint8_t *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

sockaddr_in ipv4(const std::string &address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// Exactly length bytes, each wait bounded; false on close, error or time-out.
bool read_exactly(int socket, uint8_t *out, size_t length)
{
    while (length > 0) {
        pollfd p{socket, POLLIN, 0};
        if (poll(&p, 1, kReadWaitMs) <= 0)
            return false;
        const ssize_t got = recv(socket, out, length, 0);
        if (got <= 0)
            return false;
        out += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

FakeModule::FakeModule(std::string address) : address_(std::move(address)) {}

FakeModule::~FakeModule()
{
    stopping_ = true;
    if (server_.joinable())
        server_.join();
    close_stream();
    if (listener_ >= 0)
        close(listener_);
}

bool FakeModule::start()
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const sockaddr_in local = ipv4(address_, kCommandPort);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0 ||
        listen(listener_, 8) != 0)
        return false;
    server_ = std::thread([this] { serve(); });
    return true;
}

void FakeModule::serve()
{
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        answer(connection);
        close(connection);
    }
}

// One command per connection, as the host opens one for each.
void FakeModule::answer(int connection)
{
    uint8_t header[kHeaderSize];
    if (!read_exactly(connection, header, kHeaderSize) || std::memcmp(header, "QRN", 3) != 0)
        return;
    const uint16_t code = static_cast<uint16_t>(header[4] | header[5] << 8);
    const uint32_t length = get_u32(header + 12);
    if (length > kLargestRequest)
        return;
    std::vector<uint8_t> payload(length);
    if (!read_exactly(connection, payload.data(), length))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        codes_.push_back(code);
        if (code == kCodeLogin) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            getpeername(connection, reinterpret_cast<sockaddr *>(&peer), &size);
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
            host_address_ = text;
            // The host listens on its port with the bytes swapped, plus one.
            const uint16_t port = ntohs(peer.sin_port);
            host_port_ = static_cast<uint16_t>(((port & 0xFF) << 8 | port >> 8) + 1);
        }
    }
    if (code == kCodeLogout)
        return;
    uint8_t reply[kHeaderSize] = {'Q', 'R', 'N', 0};
    put_u16(reply + 4, code);
    put_u16(reply + 6, 0);
    put_u32(reply + 8, kToken);
    put_u32(reply + 12, 0);
    send(connection, reply, sizeof reply, MSG_NOSIGNAL);
}

uint16_t FakeModule::host_data_port() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return host_port_;
}

std::string FakeModule::host_address() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return host_address_;
}

bool FakeModule::connect_back(int receive_buffer)
{
    close_stream();
    stream_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (stream_ < 0)
        return false;
    if (receive_buffer > 0)
        setsockopt(stream_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    const sockaddr_in local = ipv4(address_, 0);
    const sockaddr_in host = ipv4(host_address(), host_data_port());
    return bind(stream_, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0 &&
           connect(stream_, reinterpret_cast<const sockaddr *>(&host), sizeof host) == 0;
}

bool FakeModule::send_stream(const std::vector<uint8_t> &bytes)
{
    return stream_ >= 0 &&
           send(stream_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void FakeModule::close_stream()
{
    if (stream_ >= 0)
        close(stream_);
    stream_ = -1;
}

std::vector<uint16_t> FakeModule::codes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
}

std::vector<uint8_t> FakeModule::stream_packet(uint8_t type, uint8_t count, uint8_t index,
                                               const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> packet(kHeaderSize + payload.size());
    std::memcpy(packet.data(), "QRN", 3);
    put_u32(packet.data() + 4, kToken);
    packet[8] = type;
    packet[9] = count;
    packet[10] = index;
    put_u32(packet.data() + 12, static_cast<uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), packet.begin() + kHeaderSize);
    return packet;
}

}  // namespace testing_support
