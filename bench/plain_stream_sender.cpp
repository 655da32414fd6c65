#include "plain_stream_sender.h"

#include "probe_socket.h"
#include "stream_sender.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kConnectWindow = std::chrono::seconds(3);

}  // namespace

uint64_t stream_frames_to(const std::string &address, uint16_t port, size_t frames, const PlainStream &stream)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1)
        return 0;
    const std::atomic<bool> never_stopped{false};
    probesim::net::Socket socket =
        probesim::net::connect_from(local, remote, Clock::now() + kConnectWindow, never_stopped);
    if (!socket.valid())
        return 0;
    probesim::StreamLink link(std::move(socket));
    probesim::VideoSender sender(stream.token);
    probesim::FrameOrder order;
    order.settings = stream.settings;
    order.options = stream.options;
    const auto interval = std::chrono::nanoseconds(1000000000LL / std::max<uint32_t>(stream.settings.fps, 1));
    uint64_t written = 0;
    size_t sent = 0;
    // Frames that are dropped on purpose or fail to encode do not count;
    // the bound keeps a setting that sends nothing from looping for ever.
    const size_t attempts = 2 * frames + 100;
    auto next_frame = Clock::now();
    for (size_t attempt = 0; sent < frames && attempt < attempts; ++attempt) {
        if (!stream.options.unlimited_rate) {
            std::this_thread::sleep_until(next_frame);
            next_frame += interval;
        }
        const probesim::FrameOutcome outcome = sender.send_next(link, order, written);
        if (outcome == probesim::FrameOutcome::WriteFailed)
            return 0;
        if (outcome == probesim::FrameOutcome::Sent)
            ++sent;
    }
    return sent == frames ? written : 0;
}
