#include "scripted_pppp.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "PPPP_API.h"

namespace {

constexpr int kChannels = 8;
// A reader that only polls the level would otherwise wait out its whole
// time budget in real time.
constexpr int kIdleChecksBeforeClose = 3;

struct Channel {
    std::deque<std::vector<uint8_t>> reads;
    size_t taken = 0;  // of the front piece
    int idle_checks = 0;

    size_t waiting() const
    {
        size_t total = 0;
        for (const auto &piece : reads)
            total += piece.size();
        return total - taken;
    }
};

std::mutex mutex;
Channel channels[kChannels];

Channel *channel_of(int session, int channel)
{
    return session == fuzzing::kScriptedSession && channel >= 0 && channel < kChannels ? &channels[channel] : nullptr;
}

}  // namespace

namespace fuzzing {

void script_channel(int channel, std::vector<std::vector<uint8_t>> reads)
{
    std::lock_guard<std::mutex> guard(mutex);
    Channel &c = channels[channel];
    c.reads.assign(reads.begin(), reads.end());
    c.taken = 0;
    c.idle_checks = 0;
}

}  // namespace fuzzing

int PPPP_Initialize(const char *)
{
    return PPPP_ERROR_NONE;
}

int PPPP_DeInitialize(void)
{
    return PPPP_ERROR_NONE;
}

int PPPP_ConnectByServer(const char *, int, int, const char *)
{
    return PPPP_ERROR_INVALID_ID;
}

int PPPP_Check(int session, unsigned char *information)
{
    if (session != fuzzing::kScriptedSession)
        return PPPP_ERROR_INVALID_SESSION;
    std::memset(information, 0, PPPP_CHECK_RECORD_SIZE);
    return PPPP_ERROR_NONE;
}

int PPPP_Check_Buffer(int session, int channel, unsigned *write_size, unsigned *read_size)
{
    std::lock_guard<std::mutex> guard(mutex);
    Channel *c = channel_of(session, channel);
    if (c == nullptr)
        return PPPP_ERROR_INVALID_SESSION;
    if (c->reads.empty() || ++c->idle_checks > kIdleChecksBeforeClose)
        return PPPP_ERROR_REMOTE_CLOSED;
    *write_size = 0;
    *read_size = static_cast<unsigned>(c->waiting());
    return PPPP_ERROR_NONE;
}

int PPPP_Read(int session, int channel, void *buffer, int *size, int)
{
    std::lock_guard<std::mutex> guard(mutex);
    Channel *c = channel_of(session, channel);
    if (c == nullptr || *size < 0)
        return PPPP_ERROR_INVALID_SESSION;
    if (c->reads.empty())
        return PPPP_ERROR_REMOTE_CLOSED;
    c->idle_checks = 0;
    const std::vector<uint8_t> &piece = c->reads.front();
    if (piece.empty()) {
        c->reads.pop_front();
        *size = 0;
        return PPPP_ERROR_TIME_OUT;
    }
    const size_t count = std::min(static_cast<size_t>(*size), piece.size() - c->taken);
    std::memcpy(buffer, piece.data() + c->taken, count);
    c->taken += count;
    if (c->taken == piece.size()) {
        c->reads.pop_front();
        c->taken = 0;
    }
    *size = static_cast<int>(count);
    return PPPP_ERROR_NONE;
}

int PPPP_Write(int session, int, const void *, int length)
{
    return session == fuzzing::kScriptedSession ? length : PPPP_ERROR_INVALID_SESSION;
}

int PPPP_Close(int)
{
    return PPPP_ERROR_NONE;
}

int PPPP_ForceClose(int)
{
    return PPPP_ERROR_NONE;
}
