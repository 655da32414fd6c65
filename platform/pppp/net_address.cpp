#include "net_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

namespace pppp {
namespace {

class Socket {
public:
    explicit Socket(int fd) : mFd(fd) {}
    ~Socket()
    {
        if (mFd >= 0)
            ::close(mFd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return mFd; }

private:
    int mFd;
};

bool to_sockaddr(const std::string &address, int port, sockaddr_in *out)
{
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

}  // namespace

std::string resolve_ipv4(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(result);
    return text;
}

std::string local_address_towards(const std::string &server)
{
    sockaddr_in remote;
    if (!to_sockaddr(server, 9, &remote))
        return {};
    if ((ntohl(remote.sin_addr.s_addr) >> 24) == 127)
        return server;
    Socket s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    // A UDP connect only asks the routing table; nothing is sent.
    if (s.fd() < 0 || connect(s.fd(), reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0 ||
        getsockname(s.fd(), reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return text;
}

bool stun_answers(const std::string &address, int port, std::chrono::milliseconds timeout)
{
    sockaddr_in server;
    if (!to_sockaddr(address, port, &server))
        return false;
    Socket s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0 || connect(s.fd(), reinterpret_cast<sockaddr *>(&server), sizeof server) != 0)
        return false;
    // Binding request: type 0x0001, no attributes, magic cookie, random
    // transaction ID.
    uint8_t request[20] = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4, 0x42};
    std::random_device random;
    for (int i = 8; i < 20; ++i)
        request[i] = static_cast<uint8_t>(random());
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto resend = std::chrono::steady_clock::now();
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        if (now >= resend) {
            if (send(s.fd(), request, sizeof request, 0) < 0)
                return false;  // refused at once: nothing listens there
            resend = now + std::chrono::milliseconds(200);
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline, resend) - now);
        pollfd p{s.fd(), POLLIN, 0};
        if (poll(&p, 1, int(wait.count()) + 1) <= 0)
            continue;
        uint8_t answer[576];
        ssize_t n = recv(s.fd(), answer, sizeof answer, 0);
        if (n < 0)
            return false;  // ICMP port unreachable
        // Any success or error response to our transaction counts as an answer.
        if (n >= 20 && (answer[0] & 0xc0) == 0 && (answer[0] & 0x01) != 0 &&
            std::memcmp(answer + 4, request + 4, 16) == 0)
            return true;
    }
}

}  // namespace pppp
