// One session to a fresh simulated probe, for the command families that
// need nothing but commands: what went on the wire, and the probe's state.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

constexpr int kBogusHandle = 0x1234;
using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes bytes_of(const T &value)
{
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

inline Bytes text_bytes(const std::string &text, bool with_nul = true)
{
    Bytes out(text.begin(), text.end());
    if (with_nul)
        out.push_back(0);
    return out;
}

inline Bytes le32_bytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// Polls, draining notices, until the session reports its stream gone.
inline bool wait_until_closed(int handle, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int flags = 0;
        if (QRN_NET_Poll(handle, &flags, 100) == QRN_ERR_CLOSED)
            return true;
        int type = 0;
        while (QRN_NET_GetParamChangeType(handle, &type) == 0) {
        }
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
}

struct ProbeSession {
    // A login fault shapes only the login answer; it is cleared once connected.
    explicit ProbeSession(const probesim::DeviceModel &model = probesim::DeviceModel(),
                          probesim::Fault login_fault = probesim::Fault::None)
        : running(start_sim(model))
    {
        running.sim->set_fault(login_fault);
        connected = QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr);
        running.sim->set_fault(probesim::Fault::None);
        running.sim->clear_packets();
    }
    ~ProbeSession()
    {
        if (connected == 0) {
            EXPECT_TRUE(disconnect_and_wait(handle));
        }
    }
    ProbeSession(const ProbeSession &) = delete;
    ProbeSession &operator=(const ProbeSession &) = delete;

    probesim::ProbeSimulator &sim() const { return *running.sim; }
    std::vector<probesim::ReceivedPacket> sent() const { return running.sim->packets(); }

    RunningSim running;
    int handle = 0;
    int connected = -1;
};

}  // namespace testing_support
