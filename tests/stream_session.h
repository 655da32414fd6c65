// A session to a simulated probe whose stream connection is up, for the
// families that need it (audio and serial data travel on it both ways).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <thread>
#include <vector>

#include "session_table.h"
#include "stream_reader.h"
#include "test_support.h"

namespace testing_support {

inline const auto kStreamWait = test_wait(std::chrono::seconds(5));

inline std::vector<uint8_t> u32_words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return bytes;
}

inline size_t count_code(const probesim::ProbeSimulator &sim, uint16_t code)
{
    const auto packets = sim.packets();
    return static_cast<size_t>(
        std::count_if(packets.begin(), packets.end(), [code](const auto &p) { return p.code == code; }));
}

// Waits, bounded, until the test's own condition holds.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = kStreamWait)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class StreamSession : public ::testing::Test {
protected:
    void SetUp() override { connect(); }
    void TearDown() override { EXPECT_TRUE(disconnect_and_wait(handle)); }

    void connect()
    {
        if (!running.sim)
            running = start_sim();
        const size_t streams_before = running.sim->state().stream_connections_made;
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
        SessionContext *session = session_lookup(handle);
        ASSERT_NE(session, nullptr);
        // Both ends must hold the stream before data can travel on it: the
        // host once it has accepted, the device once it has seen the connect.
        ASSERT_TRUE(eventually([session] { return stream_channel_up(session); }));
        ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.stream_connections_made > streams_before; },
                                            kStreamWait));
        // A reused slot keeps what an earlier session left in its queues;
        // leftover serial data would also raise the audio bit of a poll.
        quarn_queue_clean(session->queues.audio);
        quarn_queue_clean(session->queues.serial);
        running.sim->clear_packets();
    }

    void reconnect()
    {
        ASSERT_TRUE(disconnect_and_wait(handle));
        connect();
    }

    // Polls until one of the flags shows up or the time runs out.
    int wait_for(int mask)
    {
        const auto deadline = std::chrono::steady_clock::now() + kStreamWait;
        int flags = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const int result = QRN_NET_Poll(handle, &flags, 100);
            if (result == QRN_OK && (flags & mask) == mask)
                return flags;
            if (result == QRN_ERR_CLOSED || result == QRN_ERR_INVALID_HANDLE)
                return result;
        }
        return 0;
    }

    probesim::ProbeSimulator &sim() { return *running.sim; }

    RunningSim running;
    int handle = 0;
};

}  // namespace testing_support
