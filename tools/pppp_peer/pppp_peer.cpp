// pppp-peer: one end of a peer-to-peer session, for trying the layer out and
// for tests across namespaces. It prints one line per session:
//   "session mode=direct|relayed connect_ms=N" (host) or
//   "accepted mode=direct|relayed" (device).
//
//   pppp-peer device --id ID [--init STRING] [--relay-only N] [--sessions N]
//       registers, then echoes every session's channel 1 and 2 back until the
//       host closes it; ends after N sessions (default: never)
//   pppp-peer host --id ID [--init STRING] [--bytes N]
//       connects, sends N bytes (default 65536) on each channel, checks the
//       echo, closes; exit status 0 when all of it came back intact
#include "PPPP_API.h"
#include "PPPP_Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: pppp-peer device --id ID [--init STRING] [--relay-only N] [--sessions N]\n"
                 "       pppp-peer host --id ID [--init STRING] [--bytes N]\n");
    return 2;
}

const char *mode_of(int session)
{
    unsigned char info[PPPP_CHECK_RECORD_SIZE];
    if (PPPP_Check(session, info) != 0)
        return "gone";
    return info[PPPP_CHECK_RELAYED_OFFSET] ? "relayed" : "direct";
}

// Echoes one channel until the session ends: whatever has arrived, or one
// byte as soon as it arrives.
void echo(int session, int channel)
{
    std::vector<char> buffer(65536);
    for (;;) {
        unsigned queued = 0, waiting = 0;
        if (PPPP_Check_Buffer(session, channel, &queued, &waiting) < 0 && waiting == 0)
            return;
        int size = int(std::min<size_t>(std::max(waiting, 1u), buffer.size()));
        int result = PPPP_Read(session, channel, buffer.data(), &size, 200);
        if (size > 0 && PPPP_Write(session, channel, buffer.data(), size) < 0)
            return;
        if (result != PPPP_ERROR_NONE && result != PPPP_ERROR_TIME_OUT)
            return;
    }
}

int run_device(const std::string &id, const std::string &init, int relay_only, int sessions)
{
    int listener = PPPP_Device_Register(id.c_str(), init.c_str());
    if (listener < 0) {
        std::fprintf(stderr, "pppp-peer: register failed: %d\n", listener);
        return 1;
    }
    if (relay_only != 0)
        PPPP_Device_RelayOnly(listener, relay_only);
    std::printf("registered %s\n", id.c_str());
    std::fflush(stdout);
    for (int served = 0; sessions < 0 || served < sessions;) {
        int session = PPPP_Device_Accept(listener, 1000);
        if (session == PPPP_ERROR_TIME_OUT)
            continue;
        if (session < 0)
            break;
        ++served;
        std::printf("accepted mode=%s\n", mode_of(session));
        std::fflush(stdout);
        std::thread commands(echo, session, 1);
        echo(session, 2);
        commands.join();
        PPPP_ForceClose(session);
    }
    PPPP_Device_Unregister(listener);
    return 0;
}

bool exchange(int session, int channel, size_t length)
{
    std::vector<char> sent(length), back(length);
    for (size_t i = 0; i < length; ++i)
        sent[i] = char(i * 31 + channel);
    bool ok = true;
    std::thread writer([&] { ok = PPPP_Write(session, channel, sent.data(), int(length)) == int(length); });
    int size = int(length);
    int result = PPPP_Read(session, channel, back.data(), &size, 20000);
    writer.join();
    if (!(ok && result == 0 && back == sent)) {
        size_t first = 0;
        while (first < length && back[first] == sent[first])
            ++first;
        std::fprintf(stderr, "channel %d: write %s, read %d after %d bytes, first difference at byte %zu\n", channel,
                     ok ? "ok" : "failed", result, size, first);
    }
    return ok && result == 0 && back == sent;
}

int run_host(const std::string &id, const std::string &init, size_t bytes)
{
    if (PPPP_Initialize(init.c_str()) != 0)
        return 1;
    auto start = std::chrono::steady_clock::now();
    int session = PPPP_ConnectByServer(id.c_str(), 1, 0, init.c_str());
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (session < 0) {
        std::printf("connect failed code=%d connect_ms=%lld\n", session, (long long)took.count());
        PPPP_DeInitialize();
        return 1;
    }
    std::printf("session mode=%s connect_ms=%lld\n", mode_of(session), (long long)took.count());
    std::fflush(stdout);
    bool ok = exchange(session, 1, bytes) && exchange(session, 2, bytes);
    std::printf("echo %s\n", ok ? "intact" : "broken");
    PPPP_Close(session);
    PPPP_DeInitialize();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    std::string role = argv[1], id, init;
    int relay_only = 0, sessions = -1;
    size_t bytes = 65536;
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            return usage();
        std::string value = argv[++i];
        if (option == "--id")
            id = value;
        else if (option == "--init")
            init = value;
        else if (option == "--relay-only")
            relay_only = std::atoi(value.c_str());
        else if (option == "--sessions")
            sessions = std::atoi(value.c_str());
        else if (option == "--bytes")
            bytes = size_t(std::strtoul(value.c_str(), nullptr, 10));
        else
            return usage();
    }
    if (id.empty())
        return usage();
    if (role == "device")
        return run_device(id, init, relay_only, sessions);
    if (role == "host")
        return run_host(id, init, bytes);
    return usage();
}
