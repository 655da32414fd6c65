#include "interrupt.h"

#include <algorithm>
#include <csignal>
#include <thread>

namespace qrn {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int)
{
    interrupted = 1;
}

}  // namespace

void catch_interrupt()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool interrupt_requested()
{
    return interrupted != 0;
}

bool sleep_unless_interrupted(std::chrono::milliseconds duration)
{
    // Short slices: the SDK's threads may take the signal, so a sleep on
    // this thread is not reliably cut short by it.
    constexpr std::chrono::milliseconds kSlice(50);
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (!interrupt_requested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now));
    }
    return false;
}

}  // namespace qrn
