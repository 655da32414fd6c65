// What the second kind of module (--kind ml) stores and reports: its device
// type, WiFi name, camera parameters and the latch of its capture key.
// Thread-safe: HTTP handlers, the terminal and tests use it at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace probesim {

constexpr int32_t kMlDeviceType = 0x1000;

struct MlCameraParams {
    int32_t brightness = 50;
    int32_t contrast = 40;
    int32_t exposure = 0;
    int32_t gain = 0;
    std::string extra;  // model-specific bytes, kept as sent
};

struct MlDeviceSnapshot {
    int32_t device_type = kMlDeviceType;
    std::string ssid = "ML-PROBE";
    MlCameraParams params;
    bool key_latched = false;
    uint64_t key_presses = 0;
    uint64_t key_reports = 0;  // polls answered with 1
    uint64_t reboots = 0;
};

class MlDeviceModel {
public:
    explicit MlDeviceModel(int32_t device_type = kMlDeviceType);

    MlDeviceSnapshot snapshot() const;

    void set_device_type(int32_t type);
    void set_ssid(const std::string &ssid);
    void set_params(const MlCameraParams &params);
    void count_reboot();

    // A press stays latched until the next key poll reports it.
    void press_key();
    bool take_key();

private:
    mutable std::mutex mutex_;
    MlDeviceSnapshot state_;
};

}  // namespace probesim
