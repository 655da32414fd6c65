// Peer-to-peer layer on loopback: connect time, the answer time for an
// unknown ID, and channel-2 throughput over a direct and a relayed session,
// next to a plain TCP socket moving the same bytes the same way.
//
//   p2p_bench [MEGABYTES]   (default 100)
//
// It starts its own relay and broker on 127.10.255.1 with
// scripts/p2p-servers.sh and stops them at the end.
#include "PPPP_API.h"
#include "PPPP_Device.h"
#include "bench_row.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const char *const kAddress = "127.10.255.1";
constexpr size_t kChunk = 64 << 10;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The device writes `bytes` on channel 2 while the host reads them.
double session_throughput(int host, int device, size_t bytes)
{
    std::vector<char> chunk(kChunk, 'x');
    auto start = Clock::now();
    std::thread writer([&] {
        for (size_t sent = 0; sent < bytes; sent += kChunk)
            if (PPPP_Write(device, 2, chunk.data(), int(kChunk)) != int(kChunk)) {
                std::fprintf(stderr, "write failed\n");
                std::exit(1);
            }
    });
    std::vector<char> buffer(kChunk);
    for (size_t got = 0; got < bytes; got += kChunk) {
        int size = int(kChunk);
        if (PPPP_Read(host, 2, buffer.data(), &size, 10000) != 0) {
            std::fprintf(stderr, "read failed after %zu bytes\n", got);
            std::exit(1);
        }
    }
    writer.join();
    return bytes / seconds_since(start) / 1e6;
}

double plain_tcp_throughput(size_t bytes)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, kAddress, &address.sin_addr);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("plain socket");
        std::exit(1);
    }
    auto start = Clock::now();
    std::thread writer([&] {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            std::exit(1);
        std::vector<char> chunk(kChunk, 'x');
        for (size_t sent = 0; sent < bytes;) {
            ssize_t n = send(s, chunk.data(), std::min(kChunk, bytes - sent), 0);
            if (n <= 0)
                std::exit(1);
            sent += size_t(n);
        }
        close(s);
    });
    int reader = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(kChunk);
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = recv(reader, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    writer.join();
    close(reader);
    close(listener);
    return got / seconds_since(start) / 1e6;
}

std::string start_servers(const std::string &dir)
{
    std::string command = std::string("bash ") + P2P_SERVERS_SCRIPT + " start " + dir + " --address " + kAddress;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot start the servers\n");
        std::exit(1);
    }
    std::ifstream conf(dir + "/p2p.conf");
    std::string line;
    while (std::getline(conf, line))
        if (line.rfind("init_string_a=", 0) == 0)
            return line.substr(14);
    std::exit(1);
}

struct Pair {
    int host = -1;
    int device = -1;
    double connect_seconds = 0;
};

Pair connect_pair(int listener, const char *id, const std::string &init)
{
    Pair pair;
    std::thread accepter([&] { pair.device = PPPP_Device_Accept(listener, 10000); });
    auto start = Clock::now();
    pair.host = PPPP_ConnectByServer(id, 1, 0, init.c_str());
    pair.connect_seconds = seconds_since(start);
    accepter.join();
    if (pair.host < 0 || pair.device < 0) {
        std::fprintf(stderr, "connect failed: %d\n", pair.host);
        std::exit(1);
    }
    return pair;
}

}  // namespace

int main(int argc, char **argv)
{
    const size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 100;
    const size_t bytes = megabytes << 20;
    char pattern[] = "/tmp/p2p-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string init = start_servers(dir);
    PPPP_Initialize(init.c_str());
    const char *id = "SQRN-BENCH-00001";
    int listener = PPPP_Device_Register(id, init.c_str());

    std::vector<double> connects, unknown;
    for (int i = 0; i < 10; ++i) {
        Pair pair = connect_pair(listener, id, init);
        connects.push_back(pair.connect_seconds);
        PPPP_Close(pair.host);
        PPPP_Close(pair.device);
        auto start = Clock::now();
        PPPP_ConnectByServer("SQRN-UNKNOWN-0000", 1, 0, init.c_str());
        unknown.push_back(seconds_since(start));
    }
    std::printf("connect (direct, median of 10):  %.0f ms\n", median(connects) * 1e3);
    std::printf("unknown ID answered (median):    %.2f ms\n", median(unknown) * 1e3);
    print_row("P2P connect by ID, direct (layer)", format("%.0f ms", median(connects) * 1e3), "-", "-", "< 1000 ms",
              median(connects) < 1.0);
    print_row("P2P unknown ID answered (layer)", format("%.2f ms", median(unknown) * 1e3), "-", "-", "< 1 ms",
              median(unknown) < 1e-3);

    Pair direct = connect_pair(listener, id, init);
    const double direct_mb = session_throughput(direct.host, direct.device, bytes);
    std::printf("direct session, channel 2:       %.0f MB/s (%zu MiB)\n", direct_mb, megabytes);
    PPPP_Close(direct.host);
    PPPP_Close(direct.device);

    PPPP_Device_RelayOnly(listener, 1);
    Pair relayed = connect_pair(listener, id, init);
    const double relayed_mb = session_throughput(relayed.host, relayed.device, bytes);
    std::printf("relayed session, channel 2:      %.0f MB/s (connect %.0f ms)\n", relayed_mb,
                relayed.connect_seconds * 1e3);
    PPPP_Close(relayed.host);
    PPPP_Close(relayed.device);

    const double plain_mb = plain_tcp_throughput(bytes);
    std::printf("plain TCP socket:                %.0f MB/s\n", plain_mb);
    print_row("P2P channel 2, direct (layer, no SDK)", format("%.0f MB/s", direct_mb),
              format("%.0f MB/s plain TCP", plain_mb), format("%.3f", direct_mb / plain_mb), "report", true);
    print_row("P2P channel 2, relayed via TURN (layer, no SDK)", format("%.0f MB/s", relayed_mb),
              format("%.0f MB/s plain TCP", plain_mb), format("%.3f", relayed_mb / plain_mb), "report", true);

    PPPP_Device_Unregister(listener);
    PPPP_DeInitialize();
    std::system((std::string("bash ") + P2P_SERVERS_SCRIPT + " stop " + dir + "; rm -rf " + dir).c_str());
    return 0;
}
