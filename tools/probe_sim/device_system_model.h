// The simulated probe's identity, clock, general-purpose pins and I2C bus,
// and how it answers their commands. No I/O here; the simulator sends what
// an answer asks for and carries out its event.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "probe_simulator.h"
#include "model_answer.h"

namespace probesim {

constexpr size_t kDeviceInfoSize = 44;
constexpr size_t kGpioTableSize = 97;
constexpr size_t kGpioMaxPins = 32;
constexpr size_t kOldGenerationPins = 5;
constexpr size_t kI2cRegisterCount = 256;

enum class SystemEvent {
    None,
    Reboot,       // not answered: the probe restarts
    Reset,        // not answered: the probe restarts with its defaults
    ControlText,  // a control text to log
};

struct SystemAnswer : ModelAnswer {
    SystemEvent event = SystemEvent::None;
    std::string text;  // the control text
};

class DeviceSystemModel {
public:
    explicit DeviceSystemModel(const DeviceModel &defaults);

    static bool handles(uint16_t code);
    SystemAnswer answer(uint16_t code, const std::vector<uint8_t> &payload);

    uint32_t device_id() const { return device_id_; }
    const std::string &alias() const { return alias_; }
    const std::array<uint8_t, 6> &mac() const { return mac_; }
    // ID and alias as the login answer carries them; the address part is the host's.
    std::array<uint8_t, kDeviceInfoSize> info_record() const;
    uint64_t clock_seconds() const;
    std::vector<GpioPin> gpio_pins() const;
    const std::array<uint8_t, kI2cRegisterCount> &i2c_registers() const { return i2c_registers_; }

private:
    // Protocol version 2.x and older: five pins, levels only, as u32 words.
    bool old_generation() const;
    size_t pin_count() const;
    std::vector<uint8_t> gpio_answer() const;
    std::vector<uint8_t> gpio_table() const;
    bool set_pin(const std::vector<uint8_t> &payload);
    bool set_all_pins(const std::vector<uint8_t> &payload);
    bool i2c_transfer(uint16_t code, const std::vector<uint8_t> &payload, std::vector<uint8_t> *answer);

    uint32_t protocol_version_;
    uint32_t device_id_;
    std::string alias_;
    std::array<uint8_t, 6> mac_;
    uint64_t clock_base_;
    std::chrono::steady_clock::time_point clock_set_at_;
    std::array<GpioPin, kGpioMaxPins> pins_{};
    size_t pins_present_;
    uint8_t i2c_address_;
    std::array<uint8_t, kI2cRegisterCount> i2c_registers_;
};

}  // namespace probesim
