#include "send_stamps.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace probesim {

namespace {

std::atomic<FILE *> stamp_file{nullptr};

}  // namespace

bool open_send_stamps(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    // Line by line: the simulator usually ends by a signal.
    std::setvbuf(file, nullptr, _IOLBF, 0);
    stamp_file.store(file);
    return true;
}

void stamp_sent(uint32_t sequence)
{
    FILE *file = stamp_file.load(std::memory_order_relaxed);
    if (!file)
        return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::fprintf(file, "%" PRIu32 " %lld\n", sequence,
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

}  // namespace probesim
