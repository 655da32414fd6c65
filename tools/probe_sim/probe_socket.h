// Small POSIX socket helpers for the simulated probe. Every blocking wait is
// a poll() in short slices that also watches a stop flag, so a simulator can
// always be torn down promptly.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace probesim::net {

constexpr int kPollSliceMs = 100;

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { reset(); }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    Socket(Socket &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket &operator=(Socket &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Wakes any thread blocked on this socket; the descriptor stays open
    // until the owner drops it, so it can never be reused underneath.
    void shutdown() const
    {
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR);
    }

    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

inline bool set_nonblocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

inline bool set_blocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// True when fd has something to read (data, EOF or an error) within timeout_ms.
inline bool wait_readable(int fd, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
}

// Reads exactly n bytes unless the peer closes, an error occurs or stop is
// raised. Returns how many bytes arrived.
inline size_t read_exact(int fd, uint8_t *buf, size_t n, const std::atomic<bool> &stop)
{
    size_t got = 0;
    while (got < n && !stop) {
        if (!wait_readable(fd, kPollSliceMs))
            continue;
        const ssize_t r = ::recv(fd, buf + got, n - got, MSG_DONTWAIT);
        if (r > 0)
            got += static_cast<size_t>(r);
        else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
    }
    return got;
}

inline bool send_all(int fd, const uint8_t *buf, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, buf, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        buf += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// One non-blocking connect from `local` (port 0 picks any) to `remote`,
// given up at the deadline or when stop is raised. Invalid socket on failure.
inline Socket connect_from(const sockaddr_in &local, const sockaddr_in &remote,
                           std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &stop)
{
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid() || !set_nonblocking(s.fd()))
        return Socket();
    if (::bind(s.fd(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return Socket();
    if (::connect(s.fd(), reinterpret_cast<const sockaddr *>(&remote), sizeof remote) == 0)
        return s;
    if (errno != EINPROGRESS)
        return Socket();
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{s.fd(), POLLOUT, 0};
        const int r = ::poll(&p, 1, kPollSliceMs);
        if (r < 0 && errno != EINTR)
            return Socket();
        if (r <= 0)
            continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
            return Socket();
        return s;
    }
    return Socket();
}

// A device's UDP port: its own address and, on a real subnet, the subnet's
// broadcast address too, since a socket bound to one address never hears
// datagrams sent to the broadcast address. The device's subnet is taken to
// be a /24, as the probe's own networks are. Loopback addresses have no
// broadcast: hosts reach them directly.
class UdpPort {
public:
    bool open(const sockaddr_in &local)
    {
        unicast_ = bound_udp(local);
        if (!unicast_.valid())
            return false;
        if ((ntohl(local.sin_addr.s_addr) >> 24) != 127) {
            sockaddr_in broadcast = local;
            broadcast.sin_addr.s_addr = htonl(ntohl(local.sin_addr.s_addr) | 0xFF);
            broadcast_ = bound_udp(broadcast);
            if (!broadcast_.valid())
                return false;
        }
        return true;
    }

    // The descriptor with a datagram waiting, or -1 when none came in time.
    int wait(int timeout_ms) const
    {
        pollfd p[2] = {{unicast_.fd(), POLLIN, 0}, {broadcast_.fd(), POLLIN, 0}};
        if (::poll(p, broadcast_.valid() ? 2 : 1, timeout_ms) <= 0)
            return -1;
        return (p[0].revents & POLLIN) ? p[0].fd : (p[1].revents & POLLIN) ? p[1].fd : -1;
    }

    // Answers go out from the device's own address.
    int reply_fd() const { return unicast_.fd(); }

    void shutdown() const
    {
        unicast_.shutdown();
        broadcast_.shutdown();
    }

    void close()
    {
        unicast_.reset();
        broadcast_.reset();
    }

private:
    // Several devices and hosts share these ports, each on its own address.
    static Socket bound_udp(const sockaddr_in &address)
    {
        Socket sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        if (!sock.valid() || setsockopt(sock.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(sock.fd(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            return Socket();
        return sock;
    }

    Socket unicast_;
    Socket broadcast_;
};

}  // namespace probesim::net
