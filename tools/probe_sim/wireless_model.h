// The simulated probe's Wi-Fi settings for its three roles (access point,
// client of another access point, station) and how it answers the wireless
// commands. No I/O here.
#pragma once

#include <cstdint>
#include <vector>

#include "model_answer.h"
#include "probe_simulator.h"

namespace probesim {

class WirelessModel {
public:
    explicit WirelessModel(const WirelessSettings &defaults) : settings_(defaults) {}

    static bool handles(uint16_t code);
    ModelAnswer answer(uint16_t code, const std::vector<uint8_t> &payload);

    const WirelessSettings &settings() const { return settings_; }

private:
    WirelessSettings settings_;
};

}  // namespace probesim
