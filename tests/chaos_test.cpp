// The simulators' chaos mode: a seed replays the same faults, and each
// fault does to a write what the fault table says.
#include "chaos.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

namespace {

using probesim::Chaos;
using probesim::ChaosSettings;
using probesim::ChaosStep;
using probesim::Fault;

std::vector<ChaosStep> draws(Chaos &chaos, int channels, int writes)
{
    std::vector<ChaosStep> steps;
    for (int c = 0; c < channels; ++c) {
        Chaos::Channel channel = chaos.open_channel();
        for (int w = 0; w < writes; ++w)
            steps.push_back(channel.next(1000));
    }
    return steps;
}

bool same(const std::vector<ChaosStep> &a, const std::vector<ChaosStep> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].fault != b[i].fault || a[i].delay != b[i].delay || a[i].keep != b[i].keep || a[i].flips != b[i].flips)
            return false;
    return true;
}

TEST(Chaos, ParsesSeedAndRate)
{
    const auto plain = probesim::parse_chaos("42");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->seed, 42u);
    EXPECT_DOUBLE_EQ(plain->rate, 0.01);
    const auto rated = probesim::parse_chaos("7:0.25");
    ASSERT_TRUE(rated);
    EXPECT_EQ(rated->seed, 7u);
    EXPECT_DOUBLE_EQ(rated->rate, 0.25);
    for (const char *bad : {"", ":0.1", "x", "-1", "1:", "1:2", "1:-0.5", "1:0.1x", "1:nan", "99999999999999999999"})
        EXPECT_FALSE(probesim::parse_chaos(bad)) << bad;
}

TEST(Chaos, SeedReplaysTheSameFaults)
{
    ChaosSettings settings;
    settings.seed = 1234;
    settings.rate = 0.2;
    Chaos first(settings), second(settings);
    const auto steps = draws(first, 4, 500);
    EXPECT_TRUE(same(steps, draws(second, 4, 500)));

    // Every kind comes up, each about as often as the rate says.
    size_t hits = 0;
    std::vector<Fault> seen;
    for (const ChaosStep &s : steps)
        if (s.fault != Fault::None) {
            ++hits;
            if (std::find(seen.begin(), seen.end(), s.fault) == seen.end())
                seen.push_back(s.fault);
        }
    EXPECT_GT(hits, 300u);
    EXPECT_LT(hits, 500u);
    EXPECT_EQ(seen.size(), probesim::chaos_faults().size());

    settings.seed = 1235;
    Chaos other(settings);
    EXPECT_FALSE(same(steps, draws(other, 4, 500)));
}

TEST(Chaos, RateAndChosenFaultBoundTheDraws)
{
    ChaosSettings never;
    never.rate = 0;
    Chaos quiet(never);
    for (const ChaosStep &s : draws(quiet, 2, 1000))
        EXPECT_EQ(s.fault, Fault::None);

    ChaosSettings always;
    always.rate = 1;
    always.faults = {Fault::ChaosCorrupt};
    Chaos loud(always);
    for (const ChaosStep &s : draws(loud, 2, 200)) {
        ASSERT_EQ(s.fault, Fault::ChaosCorrupt);
        ASSERT_GE(s.flips.size(), 1u);
        ASSERT_LE(s.flips.size(), 4u);
        for (size_t offset : s.flips)
            ASSERT_LT(offset, 1000u);
    }
}

struct SendCase {
    Fault fault;
    bool kept;            // the connection stays open
    size_t min_sent;      // bytes that reach the peer
    size_t max_sent;
    bool same_bytes;      // what was sent is a prefix (or repeat) of the write
    bool stays_vanished;  // the module is away afterwards
};

TEST(Chaos, EachFaultDoesWhatItsEntrySays)
{
    const std::vector<SendCase> cases = {
        {Fault::ChaosCut, false, 0, 0, true, false},
        {Fault::ChaosDelay, true, 100, 100, true, false},
        {Fault::ChaosDuplicate, true, 200, 200, true, false},
        {Fault::ChaosTruncate, false, 0, 99, true, false},
        {Fault::ChaosCorrupt, true, 100, 100, false, false},
        {Fault::ChaosVanish, false, 0, 99, true, true},
    };
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    const std::atomic<bool> running{false};
    for (const SendCase &c : cases) {
        ChaosSettings settings;
        settings.rate = 1;
        settings.faults = {c.fault};
        Chaos chaos(settings);
        Chaos::Channel channel = chaos.open_channel();
        std::vector<uint8_t> sent;
        const auto collect = [&sent](const uint8_t *data, size_t length) {
            sent.insert(sent.end(), data, data + length);
            return true;
        };
        const auto begin = std::chrono::steady_clock::now();
        const bool kept = probesim::chaos_send(chaos, channel, bytes.data(), bytes.size(), collect, running);
        const auto took = std::chrono::steady_clock::now() - begin;
        SCOPED_TRACE(static_cast<int>(c.fault));
        EXPECT_EQ(kept, c.kept);
        EXPECT_GE(sent.size(), c.min_sent);
        EXPECT_LE(sent.size(), c.max_sent);
        bool prefix = true;
        for (size_t i = 0; i < sent.size(); ++i)
            prefix = prefix && sent[i] == bytes[i % bytes.size()];
        EXPECT_EQ(prefix, c.same_bytes);
        EXPECT_EQ(chaos.vanished(), c.stays_vanished);
        EXPECT_EQ(chaos.injected(), 1u);
        if (c.fault == Fault::ChaosDelay) {
            EXPECT_GE(took, std::chrono::milliseconds(50));
        }
        // A vanished module sends nothing more on any connection.
        if (c.stays_vanished) {
            Chaos::Channel later = chaos.open_channel();
            sent.clear();
            EXPECT_FALSE(probesim::chaos_send(chaos, later, bytes.data(), bytes.size(), collect, running));
            EXPECT_TRUE(sent.empty());
        }
    }
}

// The silences last past the command time-out, but a stopping module never
// waits them out.
TEST(Chaos, SilencesEndWhenTheModuleStops)
{
    for (Fault fault : {Fault::ChaosStopAnswering, Fault::ChaosStopReading}) {
        ChaosSettings settings;
        settings.rate = 1;
        settings.faults = {fault};
        Chaos chaos(settings);
        Chaos::Channel channel = chaos.open_channel();
        std::atomic<bool> stop{true};
        size_t sent = 0;
        const uint8_t byte = 1;
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_FALSE(probesim::chaos_send(
            chaos, channel, &byte, 1, [&sent](const uint8_t *, size_t n) { return (sent += n), true; }, stop));
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
        EXPECT_EQ(sent, fault == Fault::ChaosStopReading ? 1u : 0u);
    }
}

// A login whose answer is cut after the device began to connect back: the
// stream it opened for that login is ended, also when it already finished
// on its own, and the host gets a connect failure each time.
TEST(ChaosModule, CutLoginAnswersLeaveNoStreamBehind)
{
    ChaosSettings settings;
    settings.rate = 1;
    settings.faults = {Fault::ChaosCut};
    probesim::ProbeSimulator sim;
    sim.set_chaos(settings);
    const std::string address = testing_support::next_loopback_address();
    ASSERT_TRUE(sim.start(address));
    constexpr int kAttempts = 20;
    for (int i = 0; i < kAttempts; ++i) {
        int handle = -1;
        const int result = QRN_NET_ConnectDevice(&handle, address.c_str(), nullptr);
        EXPECT_TRUE(result == QRN_ERR_IO || result == QRN_ERR_CLOSED || result == QRN_ERR_TIMEOUT) << result;
    }
    EXPECT_EQ(sim.state().chaos_faults, static_cast<uint64_t>(kAttempts));
    EXPECT_TRUE(sim.wait_until([](const probesim::SimulatorState &s) { return s.stream_connections_open == 0; },
                               testing_support::test_wait(std::chrono::seconds(5))));
}

}  // namespace
