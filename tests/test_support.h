// Shared helpers: each test owns a simulator on its own loopback address.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "probe_simulator.h"
#include "qrn_net.h"

namespace testing_support {

// A bounded wait of the tests, stretched where they run under a slow tool
// such as valgrind (QRN_TEST_TIME_SCALE=N multiplies every such wait).
inline std::chrono::milliseconds test_wait(std::chrono::milliseconds base)
{
    static const int scale = [] {
        const char *text = std::getenv("QRN_TEST_TIME_SCALE");
        const int value = text ? std::atoi(text) : 1;
        return value > 0 ? value : 1;
    }();
    return base * scale;
}

// A fresh 127.x.y.z address per call, so simulators never share a port:
// ctest runs each test in its own process, two at a time, so the process id
// picks x.y and a counter picks z.
inline std::string next_loopback_address()
{
    static int counter = 0;
    ++counter;
    const unsigned pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(1 + pid % 250) + "." + std::to_string(pid / 250 % 250) + "." +
           std::to_string(1 + counter % 250);
}

struct RunningSim {
    std::string address;
    std::unique_ptr<probesim::ProbeSimulator> sim;
};

inline RunningSim start_sim(probesim::DeviceModel model = probesim::DeviceModel())
{
    RunningSim running{next_loopback_address(), std::make_unique<probesim::ProbeSimulator>(model)};
    if (!running.sim->start(running.address))
        std::fprintf(stderr, "simulator cannot listen on %s\n", running.address.c_str());
    return running;
}

// Teardown runs on its own thread: wait, bounded, until it has finished.
inline bool wait_released(int handle, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    return QRN_NET_WaitDisconnected(handle, static_cast<unsigned>(limit.count())) == QRN_OK;
}

inline bool disconnect_and_wait(int handle)
{
    QRN_NET_Disconnect(handle);
    return wait_released(handle);
}

}  // namespace testing_support
