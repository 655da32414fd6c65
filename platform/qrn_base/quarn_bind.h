// Binding shared by the TCP and UDP sockets; internal to the base layer.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Binds socket to local_port on every interface. Returns the socket, or -1
// after closing it, so a failed bind never leaves a descriptor behind.
inline int quarn_bind_any(int socket, int local_port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(local_port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socket, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0) {
        close(socket);
        return -1;
    }
    return socket;
}
