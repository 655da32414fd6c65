// Stream throughput: the SDK's receive path (poll, request, release) against
// a plain socket reading the same simulated 1280 x 960 Motion-JPEG stream,
// in one run, with the process's memory sampled along the way.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_row.h"
#include "plain_stream_sender.h"
#include "probe_simulator.h"
#include "qrn_net.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    size_t frames = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    double cpu_seconds = 0;  // the whole process's, sender included
    double fps() const { return frames / seconds; }
    double cpu_us_per_frame() const { return cpu_seconds * 1e6 / frames; }
    double mb_per_s() const { return bytes / seconds / 1e6; }
};

double process_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

long resident_kib()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmRSS:" && status >> value)
            return value;
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

// One session for the whole run, so its memory is watched over every frame.
class SdkReader {
public:
    explicit SdkReader(const std::string &address)
    {
        if (QRN_NET_ConnectDevice(&handle_, address.c_str(), nullptr) != 0) {
            std::fprintf(stderr, "cannot connect through the SDK\n");
            std::exit(1);
        }
    }
    ~SdkReader() { QRN_NET_Disconnect(handle_); }

    Result read(size_t frames)
    {
        if (QRN_NET_Video_Begin(handle_) != 0) {
            std::fprintf(stderr, "cannot start the stream through the SDK\n");
            std::exit(1);
        }
        Result result;
        Clock::time_point start;
        double cpu_start = 0;
        while (result.frames < frames) {
            int flags = 0;
            const int polled = QRN_NET_Poll(handle_, &flags, 5000);
            if (polled == QRN_ERR_CLOSED || polled == QRN_ERR_TIMEOUT) {
                std::fprintf(stderr, "stream stopped after %zu frames: %s\n", result.frames, QRN_NET_StrError(polled));
                std::exit(1);
            }
            FrameElement *element = nullptr;
            while (result.frames < frames && QRN_NET_Video_RequestVideoData1(handle_, &element, nullptr) == 0) {
                if (result.frames == 0) {
                    start = Clock::now();  // timing starts at the first frame, as for the socket
                    cpu_start = process_cpu_seconds();
                }
                result.bytes += sizeof(FrameHeader) + element->header.length;
                QRN_NET_Video_ReleaseVideoData1(handle_, element);
                ++result.frames;
                if (++total_frames_ % 1000 == 0)
                    memory.push_back(resident_kib());
            }
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.cpu_seconds = process_cpu_seconds() - cpu_start;
        QRN_NET_Video_End(handle_);
        FrameElement *element = nullptr;
        while (QRN_NET_Video_RequestVideoData1(handle_, &element, nullptr) == 0)
            QRN_NET_Video_ReleaseVideoData1(handle_, element);
        return result;
    }

    std::vector<long> memory;  // resident KiB after every 1000 frames

private:
    int handle_ = 0;
    size_t total_frames_ = 0;
};

// The same frames, from the same sender code, read by a socket that does nothing else.
Result through_plain_socket(const PlainStream &stream, const std::string &address, size_t frames)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    socklen_t length = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &length) != 0) {
        std::perror("plain socket");
        std::exit(1);
    }
    uint64_t sent = 0;
    std::thread sender([&] { sent = stream_frames_to(address, ntohs(addr.sin_port), frames, stream); });
    const int connection = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(1 << 20);
    Result result;
    result.frames = frames;
    ssize_t got = recv(connection, buffer.data(), buffer.size(), 0);
    const auto start = Clock::now();
    const double cpu_start = process_cpu_seconds();
    while (got > 0) {
        result.bytes += static_cast<uint64_t>(got);
        got = recv(connection, buffer.data(), buffer.size(), 0);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpu_seconds = process_cpu_seconds() - cpu_start;
    sender.join();
    close(connection);
    close(listener);
    if (sent == 0 || result.bytes != sent) {
        std::fprintf(stderr, "plain socket read %llu of %llu bytes\n", static_cast<unsigned long long>(result.bytes),
                     static_cast<unsigned long long>(sent));
        std::exit(1);
    }
    return result;
}

void report(const char *name, const Result &r)
{
    std::printf("%-14s %7zu frames  %7.2f s  %9.1f frames/s  %8.1f MB/s  %6.1f us CPU/frame\n", name, r.frames,
                r.seconds, r.fps(), r.mb_per_s(), r.cpu_us_per_frame());
}

double median_fps(std::vector<Result> results)
{
    std::sort(results.begin(), results.end(), [](const Result &a, const Result &b) { return a.fps() < b.fps(); });
    return results[results.size() / 2].fps();
}

double median_cpu(std::vector<Result> results)
{
    std::sort(results.begin(), results.end(),
              [](const Result &a, const Result &b) { return a.cpu_us_per_frame() < b.cpu_us_per_frame(); });
    return results[results.size() / 2].cpu_us_per_frame();
}

}  // namespace

// Rounds alternate between the two readers, so a change in the machine's
// load affects both alike; medians are compared.
int main(int argc, char **argv)
{
    const size_t frames = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 90000;
    const std::string address = argc > 2 ? argv[2] : "127.0.0.61";
    const size_t kRounds = argc > 3 ? std::max(1ul, std::strtoul(argv[3], nullptr, 10)) : 9;
    probesim::ProbeSimulator sim;
    sim.set_video_format(2, 1280, 960, 30);
    probesim::StreamOptions options;
    options.unlimited_rate = true;
    options.distinct_frames = 30;
    sim.set_stream_options(options);
    // The plain socket gets the same stream as the SDK's session.
    probesim::VideoModel video;
    video.set_format(2, 1280, 960, 30);
    const PlainStream plain{sim.state().model.token, video.settings(), options};
    if (!sim.start(address)) {
        std::fprintf(stderr, "simulator cannot listen on %s\n", address.c_str());
        return 1;
    }
    std::printf("1280 x 960 Motion-JPEG, %zu frames per reader in %zu rounds over loopback (%s)\n", frames, kRounds,
                address.c_str());
    SdkReader sdk(address);
    std::vector<Result> plain_rounds;
    std::vector<Result> sdk_rounds;
    for (size_t round = 0; round < kRounds; ++round) {
        plain_rounds.push_back(through_plain_socket(plain, address, frames / kRounds));
        sdk_rounds.push_back(sdk.read(frames / kRounds));
        report("plain socket", plain_rounds.back());
        report("SDK", sdk_rounds.back());
    }
    const double plain_fps = median_fps(plain_rounds);
    const double sdk_fps = median_fps(sdk_rounds);
    const double frame_mb = sdk_rounds[0].bytes / 1e6 / sdk_rounds[0].frames;
    std::printf("median: plain socket %.0f frames/s (%.0f MB/s), SDK %.0f frames/s (%.0f MB/s)\n", plain_fps,
                plain_fps * frame_mb, sdk_fps, sdk_fps * frame_mb);
    std::printf("ratio (SDK / plain socket): %.3f\n", sdk_fps / plain_fps);
    print_row("SDK receive LAN, 1280x960 MJPEG", format("%.0f frames/s", sdk_fps),
              format("%.0f frames/s plain socket", plain_fps), format("%.2f", sdk_fps / plain_fps), ">= 0.9",
              sdk_fps / plain_fps >= 0.9);
    // CPU time per frame moves much less with the machine's load than the rate.
    const double plain_cpu = median_cpu(plain_rounds);
    const double sdk_cpu = median_cpu(sdk_rounds);
    print_row("SDK receive LAN: process CPU per frame", format("%.1f us", sdk_cpu),
              format("%.1f us plain socket", plain_cpu), format("%.2f", sdk_cpu / plain_cpu), "report", true);
    const auto &memory = sdk.memory;
    if (memory.size() >= 2) {
        const auto [low, high] = std::minmax_element(memory.begin() + 1, memory.end());
        std::printf("resident memory: %ld KiB after 1000 SDK frames, %ld .. %ld KiB from 2000 to %zu\n", memory.front(),
                    *low, *high, memory.size() * 1000);
    }
    return 0;
}
