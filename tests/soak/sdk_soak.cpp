// qrn_soak: sessions that connect, stream, change parameters, take stills,
// send audio and serial data and disconnect, over and over, against
// simulated probes in chaos mode on loopback; then the chaos stops and every
// session must work again. Every call must return a code of its table within
// its time-out, and the process's descriptors, threads and memory must stay
// bounded. Prints its figures; exit 0 when every check held.
//
// With --p2p-sessions N the first N sessions reach their module by its
// device ID, through a broker and a relay of their own that restart once
// halfway through the chaos.
//
//   qrn_soak [--seconds N] [--sessions N] [--modules N] [--seed N] [--rate R] [--prefix 127.X.Y]
//            [--p2p-sessions N]
//
// QRN_SOAK_SECONDS sets the chaos phase's length when --seconds is not given.
#include "chaos.h"
#include "p2p_servers.h"
#include "probe_simulator.h"
#include "process_figures.h"
#include "qrn_net.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Options {
    int seconds = 120;
    int sessions = 16;
    int modules = 16;  // a probe serves one host at a time: one each
    uint64_t seed = 1;
    double rate = 0.02;
    std::string prefix = "127.15.1";
    int p2p_sessions = 0;  // the first ones, by device ID
};

// The documented time-outs and each call's codes. Arguments are always
// valid here, so the argument codes are not in the tables.
constexpr milliseconds kConnectLimit{4500};  // 2.5 s to connect, 2 s for the login answer
// By ID: the broker (3 s to connect, 2 s for the status), the module's
// answer (5 s), the candidate checks (10 s), then the login (8 s).
constexpr milliseconds kP2pConnectLimit{28000};
constexpr milliseconds kCommandLimit{8000};
constexpr milliseconds kStreamSendLimit{4000};
constexpr milliseconds kAtOnce{0};
// Added to every limit: scheduling on a busy two-core machine.
const milliseconds kMargin = [] {
    const char *scale = std::getenv("QRN_TEST_TIME_SCALE");
    return milliseconds(2000) * std::max(1, scale ? std::atoi(scale) : 1);
}();

using Codes = std::initializer_list<int>;
const Codes kConnectCodes = {QRN_OK,          QRN_ERR_NO_SLOT, QRN_ERR_TIMEOUT, QRN_ERR_IO,    QRN_ERR_CONNECT,
                             QRN_ERR_LOGIN_REFUSED, QRN_ERR_LISTEN, QRN_ERR_CLOSED, QRN_ERR_FAILED};
// 1: a peer-to-peer session.
const Codes kP2pConnectCodes = {1,               QRN_ERR_NO_SLOT,       QRN_ERR_TIMEOUT, QRN_ERR_IO,
                                QRN_ERR_CONNECT, QRN_ERR_P2P_CONNECT,   QRN_ERR_LOGIN_REFUSED, QRN_ERR_CLOSED,
                                QRN_ERR_FAILED};
const Codes kCommandCodes = {QRN_OK,          QRN_ERR_FAILED,        QRN_ERR_TIMEOUT,       QRN_ERR_IO,
                             QRN_ERR_CLOSED,  QRN_ERR_INVALID_HANDLE, QRN_ERR_OTHER_SESSION, QRN_ERR_MALFORMED,
                             QRN_ERR_TOO_LONG};
// A command written on a channel that is gone: -12.
const Codes kP2pCommandCodes = {QRN_OK,         QRN_ERR_FAILED,        QRN_ERR_TIMEOUT,       QRN_ERR_IO,
                                QRN_ERR_CLOSED, QRN_ERR_INVALID_HANDLE, QRN_ERR_OTHER_SESSION, QRN_ERR_MALFORMED,
                                QRN_ERR_TOO_LONG, QRN_ERR_CONNECT};
const Codes kStreamSendCodes = {QRN_OK, QRN_ERR_FAILED, QRN_ERR_TIMEOUT, QRN_ERR_IO, QRN_ERR_INVALID_HANDLE};
// Channel 2 gone: -6.
const Codes kP2pStreamSendCodes = {QRN_OK, QRN_ERR_FAILED, QRN_ERR_TIMEOUT, QRN_ERR_CLOSED, QRN_ERR_INVALID_HANDLE};
const Codes kPollCodes = {QRN_OK, QRN_ERR_TIMEOUT, QRN_ERR_FAILED, QRN_ERR_CLOSED, QRN_ERR_INVALID_HANDLE};
const Codes kTakeCodes = {QRN_OK, QRN_ERR_FAILED, QRN_ERR_INVALID_HANDLE};
const Codes kWaitCodes = {QRN_OK, QRN_ERR_TIMEOUT};

std::string address_of(const Options &options, int module)
{
    return options.prefix + "." + std::to_string(module + 1);
}

std::string device_id_of(int module)
{
    return "SQRN" + std::to_string(100000 + module) + "SOAKP";
}

// Everything the run counts, shared by the session threads.
struct Tally {
    std::mutex mutex;
    std::vector<std::string> violations;  // calls outside their table or time-out
    uint64_t calls = 0;
    uint64_t cycles = 0;           // connect to disconnect, whether or not every call worked
    uint64_t whole_cycles = 0;     // ... in which every call returned 0
    uint64_t p2p_cycles = 0;       // cycles by device ID
    uint64_t p2p_whole_cycles = 0;
    uint64_t frames = 0;
    uint64_t pictures = 0;
    uint64_t serial_echoes = 0;
    milliseconds longest_call{0};
    std::string longest_call_name;

    void violation(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (violations.size() < 50)
            violations.push_back(text);
        else if (violations.size() == 50)
            violations.push_back("... and more");
    }
};

class SessionLoop {
public:
    // by_id: address is a device ID.
    SessionLoop(Tally &tally, std::string address, int number, bool by_id)
        : tally_(tally), address_(std::move(address)), number_(number), by_id_(by_id)
    {
    }

    // One cycle; true when every call returned 0 and the stream delivered
    // frames, a still and the serial echo.
    // What went wrong first in the last cycle.
    const std::string &first_failure() const { return first_failure_; }

    bool cycle()
    {
        whole_ = true;
        first_failure_.clear();
        int handle = -1;
        const int connected = call("ConnectDevice", by_id_ ? kP2pConnectCodes : kConnectCodes,
                                   by_id_ ? kP2pConnectLimit : kConnectLimit,
                                   [&] { return QRN_NET_ConnectDevice(&handle, address_.c_str(), nullptr); });
        if (connected != (by_id_ ? 1 : QRN_OK))
            return false;
        session(handle);
        call("Disconnect", {QRN_OK}, kAtOnce, [&] { return QRN_NET_Disconnect(handle); });
        // A teardown waits for nothing longer than a command; wait twice that.
        const int ended = call("WaitDisconnected", kWaitCodes, 2 * kCommandLimit,
                               [&] { return QRN_NET_WaitDisconnected(handle, 2 * kCommandLimit.count()); });
        if (ended != QRN_OK)
            tally_.violation("session " + std::to_string(number_) + ": teardown still running after 16 s");
        std::lock_guard<std::mutex> lock(tally_.mutex);
        ++tally_.cycles;
        tally_.whole_cycles += whole_ ? 1 : 0;
        tally_.p2p_cycles += by_id_ ? 1 : 0;
        tally_.p2p_whole_cycles += by_id_ && whole_ ? 1 : 0;
        return whole_;
    }

private:
    void session(int h)
    {
        const Codes command_codes = by_id_ ? kP2pCommandCodes : kCommandCodes;
        if (call("Video_Begin", command_codes, kCommandLimit, [&] { return QRN_NET_Video_Begin(h); }) != QRN_OK)
            return;
        if (!take(h, POLL_VIDEO, 3, milliseconds(5000)))
            return;
        // A parameter change, and the stream goes on.
        const uint32_t fps = (++changes_ % 2) ? 15 : 30;
        if (call("Video_SetFPS", command_codes, kCommandLimit, [&] { return QRN_NET_Video_SetFPS(h, fps); }) != QRN_OK)
            return;
        if (call("Video_SnapShot", command_codes, kCommandLimit, [&] { return QRN_NET_Video_SnapShot(h); }) !=
                QRN_OK ||
            !take(h, POLL_PICTURE, 1, milliseconds(5000)))
            return;
        if (call("Audio_Begin", command_codes, kCommandLimit, [&] { return QRN_NET_Audio_Begin(h); }) != QRN_OK)
            return;
        const std::vector<uint8_t> speech(320, 0xD5);
        const Codes send_codes = by_id_ ? kP2pStreamSendCodes : kStreamSendCodes;
        if (call("Audio_SendData", send_codes, kStreamSendLimit, [&] {
                return QRN_NET_Audio_SendData(h, speech.data(), static_cast<int>(speech.size()));
            }) != QRN_OK)
            return;
        if (call("Serial_Begin", command_codes, kCommandLimit, [&] { return QRN_NET_Serial_Begin(h); }) != QRN_OK)
            return;
        const char text[] = "soak serial line\r\n";
        if (call("Serial_SendData", send_codes, kStreamSendLimit, [&] {
                return QRN_NET_Serial_SendData(h, text, static_cast<int>(sizeof text - 1));
            }) != QRN_OK)
            return;
        if (!take(h, POLL_SERIAL, 1, milliseconds(5000)))
            return;
        for (const auto &[name, end] : {std::pair<const char *, int (*)(int)>{"Serial_End", QRN_NET_Serial_End},
                                        {"Audio_End", QRN_NET_Audio_End},
                                        {"Video_End", QRN_NET_Video_End}})
            if (call(name, command_codes, kCommandLimit, [&] { return end(h); }) != QRN_OK)
                return;
    }

    // Polls until `wanted` elements of the kind arrived (taking and freeing
    // every element on the way) or the wait ran out.
    bool take(int h, int kind, int wanted, milliseconds wait)
    {
        int got = 0;
        const auto deadline = Clock::now() + wait;
        while (got < wanted && Clock::now() < deadline) {
            int flags = 0;
            const int polled =
                call("Poll", kPollCodes, milliseconds(200), [&] { return QRN_NET_Poll(h, &flags, 200); });
            if (polled == QRN_ERR_CLOSED || polled == QRN_ERR_INVALID_HANDLE)
                break;
            if (polled != QRN_OK)
                continue;
            got += drain(h, flags, kind);
        }
        if (got < wanted && whole_) {
            whole_ = false;
            first_failure_ = "only " + std::to_string(got) + " of " + std::to_string(wanted) + " elements (" +
                             std::to_string(kind) + ") arrived";
        }
        return got >= wanted;
    }

    // Takes what the flags announce; returns how many elements of `kind`.
    int drain(int h, int flags, int kind)
    {
        int counted = 0;
        if (flags & POLL_PICTURE) {
            FrameHeader *picture = nullptr;
            while (call("Video_RequestPicData", kTakeCodes, kAtOnce,
                        [&] { return QRN_NET_Video_RequestPicData(h, &picture); }) == QRN_OK) {
                call("Video_ReleasePicData", {QRN_OK}, kAtOnce, [&] { return QRN_NET_Video_ReleasePicData(h, picture); });
                counted += kind == POLL_PICTURE;
                count(&Tally::pictures);
            }
        }
        if ((flags & POLL_SERIAL) == POLL_SERIAL || (flags & POLL_VIDEO)) {
            FrameHeader *frame = nullptr;
            while (call("Video_RequestVideoData", kTakeCodes, kAtOnce,
                        [&] { return QRN_NET_Video_RequestVideoData(h, &frame); }) == QRN_OK) {
                call("Video_ReleaseVideoData", {QRN_OK}, kAtOnce,
                     [&] { return QRN_NET_Video_ReleaseVideoData(h, frame); });
                counted += kind == POLL_VIDEO;
                count(&Tally::frames);
            }
            void *data = nullptr;
            int length = 0;
            while (call("Serial_RequestData", kTakeCodes, kAtOnce,
                        [&] { return QRN_NET_Serial_RequestData(h, &data, &length); }) == QRN_OK) {
                call("Serial_ReleaseData", {QRN_OK}, kAtOnce, [&] { return QRN_NET_Serial_ReleaseData(h, data); });
                counted += kind == POLL_SERIAL;
                count(&Tally::serial_echoes);
            }
        }
        if (flags & POLL_AUDIO) {
            void *block = nullptr;
            while (call("Audio_RequestData", kTakeCodes, kAtOnce,
                        [&] { return QRN_NET_Audio_RequestData(h, &block); }) == QRN_OK)
                call("Audio_ReleaseData", {QRN_OK}, kAtOnce, [&] { return QRN_NET_Audio_ReleaseData(h, block); });
        }
        if (flags & POLL_PARAM) {
            int type = 0;
            while (call("GetParamChangeType", kTakeCodes, kAtOnce,
                        [&] { return QRN_NET_GetParamChangeType(h, &type); }) == QRN_OK) {
            }
        }
        return counted;
    }

    void count(uint64_t Tally::*counter)
    {
        std::lock_guard<std::mutex> lock(tally_.mutex);
        ++(tally_.*counter);
    }

    // Runs one call, checks its code and its duration, and returns the code.
    int call(const char *name, Codes codes, milliseconds limit, const std::function<int()> &run)
    {
        const auto begin = Clock::now();
        const int code = run();
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - begin);
        {
            std::lock_guard<std::mutex> lock(tally_.mutex);
            ++tally_.calls;
            if (took > tally_.longest_call) {
                tally_.longest_call = took;
                tally_.longest_call_name = name;
            }
        }
        const std::string who = "session " + std::to_string(number_) + ": " + name;
        if (std::find(codes.begin(), codes.end(), code) == codes.end())
            tally_.violation(who + " returned " + std::to_string(code) + ", not in its table");
        if (took > limit + kMargin)
            tally_.violation(who + " took " + std::to_string(took.count()) + " ms, limit " +
                             std::to_string(limit.count()) + " ms");
        // Empty queues and polls that time out are part of the loop.
        const bool expected_miss =
            (code == QRN_ERR_TIMEOUT || code == QRN_ERR_FAILED) && std::strcmp(name, "Poll") == 0;
        const bool empty_queue = code == QRN_ERR_FAILED && std::strstr(name, "Request") != nullptr;
        const bool connected_by_id = code == 1 && by_id_ && std::strcmp(name, "ConnectDevice") == 0;
        if (code != QRN_OK && !connected_by_id && !expected_miss && !empty_queue && std::strcmp(name, "GetParamChangeType") != 0 &&
            whole_) {
            whole_ = false;
            first_failure_ = std::string(name) + " returned " + std::to_string(code);
        }
        return code;
    }

    Tally &tally_;
    const std::string address_;
    const int number_;
    const bool by_id_;
    bool whole_ = true;
    std::string first_failure_;
    uint64_t changes_ = 0;
};

// servers: where the first options.p2p_sessions modules also register by ID.
std::vector<std::unique_ptr<probesim::ProbeSimulator>> start_modules(const Options &options, bool chaos,
                                                                     const testing_support::P2pServers *servers)
{
    std::vector<std::unique_ptr<probesim::ProbeSimulator>> modules;
    for (int m = 0; m < options.modules; ++m) {
        auto sim = std::make_unique<probesim::ProbeSimulator>();
        if (chaos) {
            probesim::ChaosSettings settings;
            settings.seed = options.seed + static_cast<uint64_t>(m);
            settings.rate = options.rate;
            sim->set_chaos(settings);
        }
        // Small frames, encoded once and cycled: the run is about the
        // connections, not the simulators' encoder.
        sim->set_video_format(2, 640, 480, 15);
        probesim::StreamOptions stream;
        stream.distinct_frames = 8;
        sim->set_stream_options(stream);
        if (!sim->start(address_of(options, m))) {
            std::fprintf(stderr, "qrn_soak: cannot listen on %s\n", address_of(options, m).c_str());
            return {};
        }
        if (m < options.p2p_sessions && !sim->start_p2p(device_id_of(m), servers->init_string_for(device_id_of(m)))) {
            std::fprintf(stderr, "qrn_soak: cannot register %s\n", device_id_of(m).c_str());
            return {};
        }
        modules.push_back(std::move(sim));
    }
    return modules;
}

bool parse(int argc, char **argv, Options &options)
{
    if (const char *seconds = std::getenv("QRN_SOAK_SECONDS"))
        options.seconds = std::atoi(seconds);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--seconds")
            options.seconds = std::atoi(value.c_str());
        else if (arg == "--sessions")
            options.sessions = std::atoi(value.c_str());
        else if (arg == "--modules")
            options.modules = std::atoi(value.c_str());
        else if (arg == "--seed")
            options.seed = std::strtoull(value.c_str(), nullptr, 10);
        else if (arg == "--rate")
            options.rate = std::atof(value.c_str());
        else if (arg == "--prefix")
            options.prefix = value;
        else if (arg == "--p2p-sessions")
            options.p2p_sessions = std::atoi(value.c_str());
        else
            return false;
    }
    return argc % 2 == 1 && options.seconds > 0 && options.sessions > 0 && options.sessions <= 16 &&
           options.modules > 0 && options.modules <= 250 && options.rate >= 0 && options.rate <= 1 &&
           options.p2p_sessions >= 0 && options.p2p_sessions <= std::min(options.sessions, options.modules);
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: qrn_soak [--seconds N] [--sessions 1..16] [--modules N] [--seed N] [--rate R] "
                             "[--prefix 127.X.Y] [--p2p-sessions N]\n");
        return 2;
    }
    QRN_NET_SetTrace(0);
    const soak::ProcessFigures baseline = soak::read_process_figures();
    soak::FigureSampler sampler(milliseconds(250));
    Tally tally;
    std::vector<std::unique_ptr<SessionLoop>> loops;
    for (int s = 0; s < options.sessions; ++s) {
        const bool by_id = s < options.p2p_sessions;
        const int module = s % options.modules;
        loops.push_back(std::make_unique<SessionLoop>(
            tally, by_id ? device_id_of(module) : address_of(options, module), s, by_id));
    }
    std::unique_ptr<testing_support::P2pServers> servers;
    if (options.p2p_sessions > 0) {
        servers = std::make_unique<testing_support::P2pServers>();
        if (!servers->started())
            return 1;
    }

    // Chaos: every session loops until the time is up.
    auto modules = start_modules(options, true, servers.get());
    if (modules.empty())
        return 1;
    std::printf("qrn_soak: %d sessions on %d modules in chaos (seed %llu, rate %.3f) for %d s\n", options.sessions,
                options.modules, static_cast<unsigned long long>(options.seed), options.rate, options.seconds);
    std::fflush(stdout);
    const auto chaos_end = Clock::now() + std::chrono::seconds(options.seconds);
    {
        std::vector<std::thread> threads;
        for (auto &loop : loops)
            threads.emplace_back([&loop, chaos_end] {
                while (Clock::now() < chaos_end)
                    loop->cycle();
            });
        if (servers) {
            std::this_thread::sleep_for(std::chrono::seconds(options.seconds) / 2);
            if (!servers->restart())
                tally.violation("the broker and the relay did not start again");
            std::printf("qrn_soak: broker and relay restarted\n");
            std::fflush(stdout);
        }
        for (auto &t : threads)
            t.join();
    }
    const size_t chaos_samples = sampler.samples().size();
    uint64_t injected = 0;
    for (auto &module : modules) {
        injected += module->state().chaos_faults;
        std::printf("qrn_soak: module chaos: %s\n", module->chaos_summary().c_str());
    }
    const uint64_t chaos_cycles = tally.cycles;
    const uint64_t chaos_whole = tally.whole_cycles;
    const uint64_t chaos_p2p = tally.p2p_cycles;
    const uint64_t chaos_p2p_whole = tally.p2p_whole_cycles;

    // The fault clears: the same modules, well again. Every session must now
    // get through a whole cycle, on its first try.
    modules.clear();
    modules = start_modules(options, false, servers.get());
    if (modules.empty())
        return 1;
    std::vector<int> recovered(loops.size(), 0);
    {
        std::vector<std::thread> threads;
        for (size_t s = 0; s < loops.size(); ++s)
            threads.emplace_back([&, s] { recovered[s] = loops[s]->cycle() ? 1 : 0; });
        for (auto &t : threads)
            t.join();
    }
    modules.clear();
    // The library's own threads (teardown) finish on their own.
    std::this_thread::sleep_for(milliseconds(500));
    sampler.stop();
    const auto samples = sampler.samples();
    const soak::ProcessFigures end = soak::read_process_figures();
    const soak::ProcessFigures peak = soak::peak_of(samples, 0, samples.size());
    const soak::ProcessFigures first_half = soak::peak_of(samples, 0, chaos_samples / 2);
    const soak::ProcessFigures second_half = soak::peak_of(samples, chaos_samples / 2, chaos_samples);

    std::printf("qrn_soak: %llu cycles under chaos (%llu whole), %llu faults injected, %llu calls, %llu frames, "
                "%llu stills, %llu serial echoes\n",
                static_cast<unsigned long long>(chaos_cycles), static_cast<unsigned long long>(chaos_whole),
                static_cast<unsigned long long>(injected), static_cast<unsigned long long>(tally.calls),
                static_cast<unsigned long long>(tally.frames), static_cast<unsigned long long>(tally.pictures),
                static_cast<unsigned long long>(tally.serial_echoes));
    if (options.p2p_sessions > 0)
        std::printf("qrn_soak: of them by device ID: %llu cycles (%llu whole)\n",
                    static_cast<unsigned long long>(chaos_p2p), static_cast<unsigned long long>(chaos_p2p_whole));
    std::printf("qrn_soak: longest call %s, %lld ms\n", tally.longest_call_name.c_str(),
                static_cast<long long>(tally.longest_call.count()));
    std::printf("qrn_soak: descriptors %ld at start, peak %ld, %ld at end; threads %ld, peak %ld, %ld; "
                "resident %ld KiB, peak %ld KiB, %ld KiB\n",
                baseline.descriptors, peak.descriptors, end.descriptors, baseline.threads, peak.threads, end.threads,
                baseline.resident_kib, peak.resident_kib, end.resident_kib);

    bool ok = true;
    const auto fail = [&ok](const std::string &text) {
        std::printf("qrn_soak: FAIL %s\n", text.c_str());
        ok = false;
    };
    for (const std::string &v : tally.violations)
        fail(v);
    for (size_t s = 0; s < recovered.size(); ++s)
        if (!recovered[s])
            fail("session " + std::to_string(s) + " did not work again once the fault cleared: " +
                 loops[s]->first_failure());
    if (injected == 0)
        fail("no fault was injected");
    if (chaos_whole < static_cast<uint64_t>(options.sessions))
        fail("hardly a cycle got through under chaos: the chaos rate leaves nothing to test");
    if (chaos_p2p_whole < static_cast<uint64_t>(options.p2p_sessions))
        fail("hardly a cycle by device ID got through under chaos");
    // Bounded: nothing left behind once every session ended, and no growth
    // from the first half of the chaos to the second beyond what sessions
    // in flight explain (each holds two sockets and the library's threads).
    if (end.descriptors > baseline.descriptors + 4)
        fail("descriptors left open: " + std::to_string(end.descriptors - baseline.descriptors));
    if (end.threads > baseline.threads + 4)
        fail("threads left running: " + std::to_string(end.threads - baseline.threads));
    if (second_half.descriptors > first_half.descriptors + 2 * options.sessions)
        fail("descriptors grew from " + std::to_string(first_half.descriptors) + " to " +
             std::to_string(second_half.descriptors));
    if (second_half.threads > first_half.threads + 2 * options.sessions)
        fail("threads grew from " + std::to_string(first_half.threads) + " to " + std::to_string(second_half.threads));
    if (second_half.resident_kib > first_half.resident_kib + first_half.resident_kib / 2 + 64 * 1024)
        fail("resident memory grew from " + std::to_string(first_half.resident_kib) + " KiB to " +
             std::to_string(second_half.resident_kib) + " KiB");
    std::printf("qrn_soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
