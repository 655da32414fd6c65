// qrn-probe-sim --kind ml: runs the second kind of module until SIGINT or
// SIGTERM, pressing its capture key for every line typed on the terminal.
#pragma once

#include "chaos.h"
#include "fault.h"

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

namespace probesim {

struct MlModuleOptions {
    std::string address = "127.0.0.2";
    uint16_t port = 80;
    int32_t device_type = 0x1000;
    Fault fault = Fault::None;
    uint16_t width = 1280;
    uint16_t height = 960;
    uint32_t fps = 15;
    std::optional<ChaosSettings> chaos;
};

// stop_signals are blocked in every thread; this waits for one of them.
int run_ml_module(const MlModuleOptions &options, const sigset_t &stop_signals);

}  // namespace probesim
