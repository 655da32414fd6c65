#include "qrn_base.h"
#include "quarn_bind.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// QRN_BCAST_ADDRS keeps every broadcast inside a test network or loopback.
bool broadcast_override(std::vector<std::string> *out)
{
    const char *list = std::getenv("QRN_BCAST_ADDRS");
    if (!list)
        return false;
    std::string item;
    for (const char *p = list;; ++p) {
        if (*p == ',' || *p == '\0') {
            if (!item.empty() && item.size() < 20)
                out->push_back(item);
            item.clear();
            if (*p == '\0')
                break;
        } else if (*p != ' ') {
            item += *p;
        }
    }
    return true;
}

}  // namespace

int quarn_udp_create(int local_port, int broadcast)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (broadcast)
        setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    return quarn_bind_any(socket, local_port);
}

int quarn_udp_send_byips(int socket, const void *data, int length, const char *address, int port)
{
    if (!address || length < 0 || port <= 0 || port > 65535)
        return -1;
    std::vector<std::string> targets;
    if (std::strcmp(address, QUARN_LIMITED_BROADCAST) != 0 || !broadcast_override(&targets))
        targets.assign(1, address);
    int sent = 0;
    for (const std::string &target : targets) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, target.c_str(), &peer.sin_addr) != 1)
            continue;
        if (sendto(socket, data, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer) ==
            length)
            ++sent;
    }
    return sent > 0 ? sent : -1;
}

int quarn_udp_recv(int socket, void *buffer, int length, char *sender_address, int timeout_ms)
{
    pollfd descriptor{socket, POLLIN, 0};
    const int ready = poll(&descriptor, 1, timeout_ms);
    if (ready == 0)
        return QUARN_TIMEOUT;
    if (ready < 0)
        return errno == EINTR ? QUARN_RETRY : -1;
    sockaddr_in peer{};
    socklen_t peer_length = sizeof peer;
    const ssize_t got =
        recvfrom(socket, buffer, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr *>(&peer), &peer_length);
    if (got < 0)
        return -1;
    if (sender_address)
        inet_ntop(AF_INET, &peer.sin_addr, sender_address, 16);
    return static_cast<int>(got);
}

int quarn_net_getbcastip(char (*addresses)[20], int max_count)
{
    std::vector<std::string> list;
    if (!broadcast_override(&list)) {
        ifaddrs *interfaces = nullptr;
        if (getifaddrs(&interfaces) != 0)
            return 0;
        for (ifaddrs *i = interfaces; i; i = i->ifa_next) {
            if (!i->ifa_broadaddr || !i->ifa_addr || i->ifa_addr->sa_family != AF_INET ||
                !(i->ifa_flags & IFF_BROADCAST) || !(i->ifa_flags & IFF_UP))
                continue;
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(i->ifa_broadaddr)->sin_addr, text, sizeof text);
            list.emplace_back(text);
        }
        freeifaddrs(interfaces);
    }
    int count = 0;
    for (const std::string &address : list) {
        if (count >= max_count)
            break;
        std::memcpy(addresses[count], address.c_str(), address.size() + 1);
        ++count;
    }
    return count;
}
