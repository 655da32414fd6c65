// Scale: sessions streaming 640 x 480 Motion-JPEG at 30 frames per second at
// once, each read by its own thread through poll, request and release, as a
// host program with one frame thread per module would. The simulated modules
// run in a child process, so this process's CPU time is the SDK's and the
// readers' alone. Prints frames sent (from each stream's sequence numbers)
// against frames delivered, the CPU time at half and at all of the sessions,
// and from the two the cost of one more session.
//
//   scale_bench [seconds per phase] [sessions] [first address]
//   (default 20 16 127.16.7.1)
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_row.h"
#include "probe_simulator.h"
#include "qrn_net.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string nth_address(const std::string &first, int n)
{
    in_addr addr{};
    inet_pton(AF_INET, first.c_str(), &addr);
    addr.s_addr = htonl(ntohl(addr.s_addr) + static_cast<uint32_t>(n));
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

// The child: one simulated module per address, until killed. Writes one
// byte to ready once all listen.
[[noreturn]] void serve(const std::string &first, int sessions, int ready)
{
    std::vector<std::unique_ptr<probesim::ProbeSimulator>> modules;
    probesim::StreamOptions options;
    options.distinct_frames = 30;  // encoded once: the modules cost little
    for (int i = 0; i < sessions; ++i) {
        auto module = std::make_unique<probesim::ProbeSimulator>();
        module->set_video_format(2, 640, 480, 30);
        module->set_stream_options(options);
        if (!module->start(nth_address(first, i)))
            _exit(1);
        modules.push_back(std::move(module));
    }
    const char byte = 1;
    if (write(ready, &byte, 1) != 1)
        _exit(1);
    for (;;)
        pause();
}

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Reader {
public:
    explicit Reader(const std::string &address)
    {
        if (QRN_NET_ConnectDevice(&handle_, address.c_str(), nullptr) != 0 || QRN_NET_Video_Begin(handle_) != 0) {
            std::fprintf(stderr, "cannot stream from %s\n", address.c_str());
            std::exit(1);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Reader()
    {
        stop_ = true;
        thread_.join();
        QRN_NET_Video_End(handle_);
        QRN_NET_Disconnect(handle_);
    }
    uint64_t delivered() const { return delivered_; }
    uint64_t sent() const { return delivered_ == 0 ? 0 : last_ - first_ + 1; }

private:
    void run()
    {
        while (!stop_) {
            int flags = 0;
            if (QRN_NET_Poll(handle_, &flags, 200) != 0)
                continue;
            FrameElement *element = nullptr;
            if (QRN_NET_Video_RequestVideoData1(handle_, &element, nullptr) != 0)
                continue;
            const uint32_t sequence = element->header.sequence;
            QRN_NET_Video_ReleaseVideoData1(handle_, element);
            if (delivered_++ == 0)
                first_ = sequence;
            last_ = sequence;
        }
    }

    int handle_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> delivered_{0};
    uint32_t first_ = 0;
    uint32_t last_ = 0;
    std::thread thread_;
};

// CPU time of this process over `seconds`, as a share of one core.
double cpu_share(double seconds)
{
    const double cpu = cpu_seconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (cpu_seconds() - cpu) / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 20;
    const int sessions = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, 16) : 16;
    const std::string first = argc > 3 ? argv[3] : "127.16.7.1";
    int ready[2];
    if (pipe(ready) != 0)
        return 1;
    const pid_t modules = fork();
    if (modules == 0)
        serve(first, sessions, ready[1]);
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1) {
        std::fprintf(stderr, "the simulated modules did not start on %s..\n", first.c_str());
        return 1;
    }

    const int half = sessions / 2;
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < half; ++i)
        readers.push_back(std::make_unique<Reader>(nth_address(first, i)));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double at_half = cpu_share(seconds);
    for (int i = half; i < sessions; ++i)
        readers.push_back(std::make_unique<Reader>(nth_address(first, i)));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double at_all = cpu_share(seconds);

    uint64_t sent = 0, delivered = 0;
    for (const auto &reader : readers) {
        sent += reader->sent();
        delivered += reader->delivered();
    }
    readers.clear();
    kill(modules, SIGKILL);
    waitpid(modules, nullptr, 0);

    const double per_session = (at_all - at_half) / (sessions - half);
    std::printf(
        "%d sessions of 640x480 at 30 fps: %llu frames sent, %llu delivered; CPU %.1f%% of a core with %d, "
        "%.1f%% with %d\n",
        sessions, static_cast<unsigned long long>(sent), static_cast<unsigned long long>(delivered), 100 * at_half,
        half, 100 * at_all, sessions);
    const std::string label = "Scale " + std::to_string(sessions) + " sessions 640x480 30 fps";
    print_row(label + ": frames delivered", std::to_string(delivered), std::to_string(sent) + " sent",
              format("%.4f", sent ? double(delivered) / sent : 0.0), "none lost", sent > 0 && delivered == sent);
    print_row(label + ": total CPU", format("%.1f%% of a core", 100 * at_all),
              format("%.1f%% with ", 100 * at_half) + std::to_string(half), format("%.2f", at_all / at_half), "report",
              true);
    print_row("Scale: one more session", format("%.2f%% of a core", 100 * per_session), "-", "-", "report", true);
    return 0;
}
