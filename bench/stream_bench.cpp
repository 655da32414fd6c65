// Stream throughput: the SDK's receive path (poll, request, release) against
// a plain socket reading the same simulated 1280 x 960 Motion-JPEG stream,
// in one run, with the process's memory sampled along the way; then the
// same SDK path by device ID, over a direct and over a relayed peer-to-peer
// session through the servers script's broker and relay.
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
#include <memory>
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
        const auto start = Clock::now();
        const int result = QRN_NET_ConnectDevice(&handle_, address.c_str(), nullptr);
        connect_seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (result < 0) {
            std::fprintf(stderr, "cannot connect to %s through the SDK: %s\n", address.c_str(),
                         QRN_NET_StrError(result));
            std::exit(1);
        }
        QRN_NET_GetTransMode(handle_, &mode);
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
    double connect_seconds = 0;
    int mode = 0;

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
    std::printf("%-16s %7zu frames  %7.2f s  %9.1f frames/s  %8.1f MB/s  %6.1f us CPU/frame\n", name, r.frames,
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

// The broker and the relay, started by the project's script for the run.
class P2pServers {
public:
    explicit P2pServers(const std::string &address)
    {
        char pattern[] = "/tmp/qrn-stream-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir_ = pattern;
        const std::string start =
            std::string("bash ") + QRN_P2P_SERVERS_SCRIPT + " start " + dir_ + " --address " + address + " >/dev/null";
        if (std::system(start.c_str()) != 0) {
            std::fprintf(stderr, "the P2P servers did not start on %s\n", address.c_str());
            std::exit(1);
        }
        setenv("QRN_P2P_CONFIG", (dir_ + "/p2p.conf").c_str(), 1);
    }
    ~P2pServers()
    {
        if (dir_.empty())
            return;
        const std::string stop = std::string("bash ") + QRN_P2P_SERVERS_SCRIPT + " stop " + dir_ + " && rm -rf " + dir_;
        if (std::system(stop.c_str()) != 0)
            std::fprintf(stderr, "the P2P servers in %s did not stop\n", dir_.c_str());
    }
    std::string init_string() const
    {
        std::ifstream config(dir_ + "/p2p.conf");
        std::string line;
        while (std::getline(config, line))
            if (line.rfind("init_string_a=", 0) == 0)
                return line.substr(14);
        return std::string();
    }

private:
    std::string dir_;
};

// A probe registered under an ID; relayed: every session offers only the relay.
std::unique_ptr<probesim::ProbeSimulator> p2p_probe(const std::string &id, const std::string &init_string, bool relayed,
                                                    const probesim::StreamOptions &options)
{
    auto sim = std::make_unique<probesim::ProbeSimulator>();
    sim->set_video_format(2, 1280, 960, 30);
    sim->set_stream_options(options);
    if (relayed) {
        sim->set_relay_sessions(-1);
        sim->set_fault(probesim::Fault::RelayFirstSessions);
    }
    if (!sim->start_p2p(id, init_string)) {
        std::fprintf(stderr, "the simulator cannot register %s\n", id.c_str());
        std::exit(1);
    }
    return sim;
}

}  // namespace

// Rounds alternate between the two readers, so a change in the machine's
// load affects both alike; medians are compared.
int main(int argc, char **argv)
{
    const size_t frames = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 90000;
    const std::string address = argc > 2 ? argv[2] : "127.0.0.61";
    const size_t kRounds = argc > 3 ? std::max(1ul, std::strtoul(argv[3], nullptr, 10)) : 9;
    const size_t p2p_frames = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : frames / 10;
    const std::string servers_address = argc > 5 ? argv[5] : "127.11.254.1";
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
    std::printf("LAN connect: %.3f s\n", sdk.connect_seconds);
    const auto &memory = sdk.memory;
    if (memory.size() >= 2) {
        const auto [low, high] = std::minmax_element(memory.begin() + 1, memory.end());
        std::printf("resident memory: %ld KiB after 1000 SDK frames, %ld .. %ld KiB from 2000 to %zu\n", memory.front(),
                    *low, *high, memory.size() * 1000);
    }

    // By device ID: the switch stays off, so the relayed session stays relayed.
    QRN_NET_ForceP2PTransSwitch(0);
    const P2pServers servers(servers_address);
    const auto direct_probe = p2p_probe("SQRN000001BENCH", servers.init_string(), false, options);
    const auto relayed_probe = p2p_probe("SQRN000002BENCH", servers.init_string(), true, options);
    SdkReader direct("SQRN000001BENCH");
    SdkReader relayed("SQRN000002BENCH");
    if (direct.mode != TRANS_P2P || relayed.mode != TRANS_RELAY) {
        std::fprintf(stderr, "sessions came up in modes %d and %d, not direct and relayed\n", direct.mode,
                     relayed.mode);
        return 1;
    }
    std::printf("by device ID through the broker and relay on %s, %zu frames per reader in %zu rounds\n",
                servers_address.c_str(), p2p_frames, kRounds);
    std::vector<Result> direct_rounds;
    std::vector<Result> relayed_rounds;
    for (size_t round = 0; round < kRounds; ++round) {
        direct_rounds.push_back(direct.read(p2p_frames / kRounds));
        relayed_rounds.push_back(relayed.read(p2p_frames / kRounds));
        report("SDK P2P direct", direct_rounds.back());
        report("SDK P2P relayed", relayed_rounds.back());
    }
    const double direct_fps = median_fps(direct_rounds);
    const double relayed_fps = median_fps(relayed_rounds);
    std::printf("median frames/s (MB/s): plain socket %.0f (%.0f), LAN %.0f (%.0f), P2P direct %.0f (%.0f), "
                "P2P relayed %.0f (%.0f)\n",
                plain_fps, plain_fps * frame_mb, sdk_fps, sdk_fps * frame_mb, direct_fps, direct_fps * frame_mb,
                relayed_fps, relayed_fps * frame_mb);
    std::printf("connect: LAN %.3f s, P2P direct %.3f s, P2P relayed %.3f s\n", sdk.connect_seconds,
                direct.connect_seconds, relayed.connect_seconds);
    print_row("SDK receive, direct P2P, 1280x960 MJPEG", format("%.0f frames/s", direct_fps),
              format("%.0f frames/s plain socket", plain_fps), format("%.2f", direct_fps / plain_fps), "report", true);
    // A live stream is 30 frames a second; a relayed session must carry ten.
    constexpr double kLiveFps = 30;
    print_row("SDK receive, relayed P2P, 1280x960 MJPEG", format("%.0f frames/s", relayed_fps),
              format("%.0f frames/s live stream", kLiveFps), format("%.1f", relayed_fps / kLiveFps), ">= 10",
              relayed_fps / kLiveFps >= 10);
    return 0;
}
