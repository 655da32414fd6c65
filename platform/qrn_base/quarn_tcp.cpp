#include "qrn_base.h"
#include "quarn_bind.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool to_sockaddr(const char *address, int port, sockaddr_in *out)
{
    if (!address || port <= 0 || port > 65535)
        return false;
    *out = sockaddr_in{};
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, address, &out->sin_addr) == 1;
}

int set_blocking(int socket, bool blocking)
{
    const int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0)
        return -1;
    return fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

// Returns 1 when ready, 0 on time-out, -1 on failure (EINTR is retried).
int wait_ready(int socket, short events, int timeout_ms)
{
    pollfd descriptor{socket, events, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int result = poll(&descriptor, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (result >= 0)
            return result;
        if (errno != EINTR)
            return -1;
    }
}

int new_tcp_socket()
{
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

}  // namespace

int quarn_tcp_connectbysockfd(int socket, const char *address, int port, int timeout_ms)
{
    sockaddr_in peer;
    if (socket < 0 || !to_sockaddr(address, port, &peer))
        return -1;
    if (set_blocking(socket, false) < 0)
        return -1;
    int result = connect(socket, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    if (result < 0 && errno != EINPROGRESS)
        return -1;
    if (result < 0) {
        const int ready = wait_ready(socket, POLLOUT, timeout_ms);
        if (ready == 0)
            return -2;
        int error = 0;
        socklen_t length = sizeof error;
        if (ready < 0 || getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0)
            return -1;
    }
    set_blocking(socket, true);
    return socket;
}

int quarn_tcp_connect(const char *address, int port, int timeout_seconds)
{
    const int socket = new_tcp_socket();
    if (socket < 0)
        return -1;
    const int result = quarn_tcp_connectbysockfd(socket, address, port, timeout_seconds * 1000);
    if (result < 0)
        close(socket);
    return result;
}

int quarn_tcp_bindprot(int local_port)
{
    const int socket = new_tcp_socket();
    return socket < 0 ? -1 : quarn_bind_any(socket, local_port);
}

int quarn_tcp_listenbysockfd(int socket)
{
    return listen(socket, 4) < 0 ? -1 : socket;
}

int quarn_tcp_accept(int listening_socket, char *peer_address)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int socket = accept4(listening_socket, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    if (socket >= 0 && peer_address)
        inet_ntop(AF_INET, &peer.sin_addr, peer_address, 16);
    return socket < 0 ? -1 : socket;
}

int quarn_tcp_accept_timeout(int listening_socket, char *peer_address, int timeout_ms)
{
    const int ready = wait_ready(listening_socket, POLLIN, timeout_ms);
    if (ready <= 0)
        return ready == 0 ? -2 : -1;
    return quarn_tcp_accept(listening_socket, peer_address);
}

int quarn_tcp_send(int socket, const void *data, int length)
{
    const auto *bytes = static_cast<const char *>(data);
    int sent = 0;
    while (sent < length) {
        const ssize_t result = send(socket, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        sent += static_cast<int>(result);
    }
    return length;
}

int quarn_tcp_send_timeout(int socket, const void *data, int length, int timeout_ms, int *sent_out)
{
    const auto *bytes = static_cast<const char *>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int sent = 0;
    int result = length;
    while (sent < length) {
        const ssize_t got = send(socket, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (got >= 0) {
            sent += static_cast<int>(got);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = -1;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = left.count() > 0 ? wait_ready(socket, POLLOUT, static_cast<int>(left.count())) : 0;
        if (ready <= 0) {
            result = ready == 0 ? QUARN_TIMEOUT : -1;
            break;
        }
    }
    if (sent_out)
        *sent_out = sent;
    return result;
}

int quarn_tcp_recv_timeout(int socket, void *buffer, int length, quarn_timeval *timeout)
{
    if (length <= 0)
        return 0;
    auto *bytes = static_cast<char *>(buffer);
    using clock = std::chrono::steady_clock;
    const auto budget = std::chrono::seconds(timeout->seconds) + std::chrono::microseconds(timeout->microseconds);
    const auto start = clock::now();
    int received = 0;
    int result = length;
    while (received < length) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(budget - (clock::now() - start));
        pollfd descriptor{socket, POLLIN, 0};
        const int ready = poll(&descriptor, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0) {
            result = errno == EINTR ? QUARN_RETRY : -1;
            break;
        }
        if (ready == 0) {
            result = QUARN_TIMEOUT;
            break;
        }
        const ssize_t got = recv(socket, bytes + received, static_cast<size_t>(length - received), 0);
        if (got == 0) {
            result = 0;
            break;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            result = -1;
            break;
        }
        received += static_cast<int>(got);
    }
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(budget - (clock::now() - start));
    const long long micros = left.count() > 0 ? left.count() : 0;
    timeout->seconds = static_cast<int32_t>(micros / 1000000);
    timeout->microseconds = static_cast<int32_t>(micros % 1000000);
    return result;
}

int quarn_tcp_recv_some(int socket, void *buffer, int length, int timeout_ms)
{
    return quarn_tcp_recv_split(socket, buffer, length, nullptr, 0, timeout_ms);
}

int quarn_tcp_recv_split(int socket, void *buffer, int length, void *spill, int spill_length, int timeout_ms)
{
    if (length <= 0)
        return 0;
    iovec parts[2] = {{buffer, static_cast<size_t>(length)}, {spill, static_cast<size_t>(spill_length)}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = spill && spill_length > 0 ? 2 : 1;
    for (;;) {
        const ssize_t got = recvmsg(socket, &message, MSG_DONTWAIT);
        if (got >= 0)
            return static_cast<int>(got);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (timeout_ms <= 0)
            return QUARN_TIMEOUT;
        const int ready = wait_ready(socket, POLLIN, timeout_ms);
        if (ready <= 0)
            return ready == 0 ? QUARN_TIMEOUT : -1;
    }
}

int quarn_tcp_setrecvtimeout(int socket, int seconds, int microseconds)
{
    timeval value{seconds, microseconds};
    return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

int quarn_tcp_setkeepalive(int socket, int enable, int idle_s, int interval_s, int count)
{
    if (setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &enable, sizeof enable) < 0)
        return -1;
    if (!enable)
        return 0;
    if (setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) < 0 ||
        setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) < 0 ||
        setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) < 0)
        return -1;
    return 0;
}

void quarn_socket_shutdown(int socket)
{
    if (socket >= 0)
        shutdown(socket, SHUT_RDWR);
}

void quarn_socket_close(int socket)
{
    if (socket >= 0)
        close(socket);
}
