#include "udp_service.h"

namespace probesim::net {

bool UdpService::start(const std::string &address, uint16_t port, std::function<void(int fd)> on_datagram)
{
    if (thread_.joinable())
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        return false;
    if (!port_.open(local)) {
        port_.close();
        return false;
    }
    stopping_ = false;
    thread_ = std::thread([this, on_datagram = std::move(on_datagram)] {
        while (!stopping_) {
            const int fd = port_.wait(kPollSliceMs);
            if (fd >= 0 && !stopping_)
                on_datagram(fd);
        }
    });
    return true;
}

void UdpService::stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    port_.shutdown();  // wakes the wait at once
    thread_.join();
    port_.close();
}

}  // namespace probesim::net
