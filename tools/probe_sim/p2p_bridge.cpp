#include "p2p_bridge.h"

#include <algorithm>
#include <vector>

#include "PPPP_API.h"

namespace probesim {

namespace {

constexpr int kCommandChannel = 1;
constexpr int kStreamChannel = 2;
constexpr int kReadSliceMs = 100;
constexpr int kPppTimeout = -3;
constexpr size_t kChunk = 256 * 1024;

}  // namespace

P2pBridge::P2pBridge(int session, net::Socket command_end, net::Socket stream_end,
                     std::chrono::milliseconds command_delay)
    : session_(session),
      command_end_(std::move(command_end)),
      stream_end_(std::move(stream_end)),
      command_delay_(command_delay)
{
}

P2pBridge::~P2pBridge()
{
    stop();
}

void P2pBridge::start()
{
    threads_[0] = std::thread([this] { channel_to_socket(kCommandChannel, command_end_.fd(), command_delay_); });
    threads_[1] = std::thread([this] { channel_to_socket(kStreamChannel, stream_end_.fd(), {}); });
    threads_[2] = std::thread([this] { socket_to_channel(command_end_.fd(), kCommandChannel); });
    threads_[3] = std::thread([this] { socket_to_channel(stream_end_.fd(), kStreamChannel); });
}

void P2pBridge::stop()
{
    stop_ = true;
    end();
    for (std::thread &thread : threads_)
        if (thread.joinable())
            thread.join();
}

// Whichever side ends first ends the other: the device's connections see
// their end of the pair close, the host sees the session close.
void P2pBridge::end()
{
    finished_ = true;
    if (closed_.exchange(true))
        return;
    command_end_.shutdown();
    stream_end_.shutdown();
    PPPP_Close(session_);
}

void P2pBridge::channel_to_socket(int channel, int fd, std::chrono::milliseconds delay)
{
    const auto start = std::chrono::steady_clock::now();
    while (!stop_ && std::chrono::steady_clock::now() - start < delay)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<uint8_t> buffer(kChunk);
    while (!stop_) {
        // One byte waited for, then whatever else is there: a read of a
        // whole chunk would hold a short command until its time-out.
        int size = 1;
        int result = PPPP_Read(session_, channel, buffer.data(), &size, kReadSliceMs);
        if (result != 0 && result != kPppTimeout)
            break;
        if (size <= 0)
            continue;
        unsigned write_size = 0;
        unsigned waiting = 0;
        if (PPPP_Check_Buffer(session_, channel, &write_size, &waiting) != 0)
            break;
        int more = static_cast<int>(std::min<size_t>(waiting, buffer.size() - 1));
        if (more > 0) {
            result = PPPP_Read(session_, channel, buffer.data() + 1, &more, 0);
            if (result != 0 && result != kPppTimeout)
                break;
        }
        if (!net::send_all(fd, buffer.data(), 1 + static_cast<size_t>(std::max(more, 0))))
            break;
    }
    end();
}

void P2pBridge::socket_to_channel(int fd, int channel)
{
    std::vector<uint8_t> buffer(kChunk);
    while (!stop_) {
        if (!net::wait_readable(fd, net::kPollSliceMs))
            continue;
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0)
            break;
        const uint8_t *data = buffer.data();
        int left = static_cast<int>(got);
        while (left > 0) {
            const int written = PPPP_Write(session_, channel, data, left);
            if (written < 0) {
                end();
                return;
            }
            // A layer that takes a part says how much; one that says 0 took all.
            const int taken = written > 0 && written < left ? written : left;
            data += taken;
            left -= taken;
        }
    }
    end();
}

}  // namespace probesim
