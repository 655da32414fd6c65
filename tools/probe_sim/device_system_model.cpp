#include "device_system_model.h"

#include "probe_wire.h"

#include <algorithm>
#include <utility>

namespace probesim {

namespace {

constexpr uint32_t kGpioNotice = 5;
constexpr uint32_t kLastOldGenerationMajor = 2;
constexpr size_t kAliasField = 20;  // text and its NUL
constexpr size_t kAliasOffset = 4;
constexpr size_t kClockSize = 8;
constexpr size_t kGpioEntrySize = 3;
constexpr size_t kOldPinRequest = 8;  // {i32 pin, i32 level}
constexpr size_t kOldLevelsSize = kOldGenerationPins * 4;

// The I2C block: bus address, first register, register count, a reserved
// byte, then the registers' bytes.
constexpr size_t kI2cBlockSize = 132;
constexpr size_t kI2cControlSize = 4;
constexpr size_t kI2cMaxCount = kI2cBlockSize - kI2cControlSize;

bool takes_nothing(uint16_t code)
{
    switch (code) {
    case wire::kGetMac:
    case wire::kGetClock:
    case wire::kGetPins:
    case wire::kGetId:
    case wire::kGetAlias:
    case wire::kReboot:
    case wire::kReset:
        return true;
    default:
        return false;
    }
}

void put_u64(uint8_t *p, uint64_t v)
{
    wire::put_u32(p, static_cast<uint32_t>(v));
    wire::put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t get_u64(const uint8_t *p)
{
    return static_cast<uint64_t>(wire::get_u32(p)) | static_cast<uint64_t>(wire::get_u32(p + 4)) << 32;
}

}  // namespace

DeviceSystemModel::DeviceSystemModel(const DeviceModel &defaults)
    : protocol_version_(defaults.protocol_version), device_id_(defaults.device_id),
      alias_(defaults.alias.substr(0, kAliasField - 1)), mac_(defaults.mac), clock_base_(defaults.clock_seconds),
      clock_set_at_(std::chrono::steady_clock::now()), pins_present_(std::min(defaults.gpio_pins.size(), kGpioMaxPins)),
      i2c_address_(defaults.i2c_address), i2c_registers_(defaults.i2c_registers)
{
    std::copy_n(defaults.gpio_pins.begin(), pins_present_, pins_.begin());
}

bool DeviceSystemModel::handles(uint16_t code)
{
    return takes_nothing(code) || code == wire::kSetClock || code == wire::kSetPin || code == wire::kSetAllPins ||
           code == wire::kI2cRead || code == wire::kI2cWrite || code == wire::kSetId || code == wire::kSetAlias ||
           code == wire::kControlText;
}

SystemAnswer DeviceSystemModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    if (takes_nothing(code) && !payload.empty())
        return status_answer<SystemAnswer>(wire::kStatusBadArgument);
    SystemAnswer a;
    bool accepted = true;
    switch (code) {
    case wire::kGetMac:
        a.payload.assign(mac_.begin(), mac_.end());
        break;
    case wire::kGetClock:
        a.payload.resize(kClockSize);
        put_u64(a.payload.data(), clock_seconds());
        break;
    case wire::kSetClock:
        accepted = payload.size() == kClockSize;
        if (accepted) {
            clock_base_ = get_u64(payload.data());
            clock_set_at_ = std::chrono::steady_clock::now();
        }
        break;
    case wire::kGetPins:
        a.payload = gpio_answer();
        break;
    case wire::kSetPin:
    case wire::kSetAllPins:
        accepted = code == wire::kSetPin ? set_pin(payload) : set_all_pins(payload);
        if (accepted)
            a.notices.push_back({kGpioNotice, gpio_table()});
        break;
    case wire::kI2cRead:
    case wire::kI2cWrite:
        accepted = i2c_transfer(code, payload, &a.payload);
        break;
    case wire::kGetId:
        a.payload.resize(4);
        wire::put_u32(a.payload.data(), device_id_);
        break;
    case wire::kSetId:
        accepted = payload.size() == 4;
        if (accepted)
            device_id_ = wire::get_u32(payload.data());
        break;
    case wire::kGetAlias:
        a.payload.assign(alias_.begin(), alias_.end());
        a.payload.push_back(0);
        break;
    case wire::kSetAlias: {
        const auto end = payload.begin() + static_cast<std::ptrdiff_t>(std::min(payload.size(), kAliasField));
        const auto nul = std::find(payload.begin(), end, uint8_t{0});
        accepted = nul != end;  // the alias and its NUL must fit the field
        if (accepted)
            alias_.assign(payload.begin(), nul);
        break;
    }
    case wire::kReboot:
        a.event = SystemEvent::Reboot;
        break;
    case wire::kReset:
        a.event = SystemEvent::Reset;
        break;
    case wire::kControlText: {
        const auto nul = std::find(payload.begin(), payload.end(), uint8_t{0});
        accepted = nul != payload.end();
        if (accepted) {
            a.event = SystemEvent::ControlText;
            a.text.assign(payload.begin(), nul);
        }
        break;
    }
    default:
        return status_answer<SystemAnswer>(wire::kStatusUnsupported);
    }
    return refused_unless(accepted, std::move(a));
}

std::array<uint8_t, kDeviceInfoSize> DeviceSystemModel::info_record() const
{
    std::array<uint8_t, kDeviceInfoSize> record{};
    wire::put_u32(record.data(), device_id_);
    std::copy(alias_.begin(), alias_.end(), record.begin() + kAliasOffset);
    return record;
}

uint64_t DeviceSystemModel::clock_seconds() const
{
    const auto elapsed = std::chrono::steady_clock::now() - clock_set_at_;
    return clock_base_ + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
}

std::vector<GpioPin> DeviceSystemModel::gpio_pins() const
{
    return std::vector<GpioPin>(pins_.begin(), pins_.begin() + static_cast<std::ptrdiff_t>(pin_count()));
}

bool DeviceSystemModel::old_generation() const
{
    return protocol_version_ >> 16 <= kLastOldGenerationMajor;
}

size_t DeviceSystemModel::pin_count() const
{
    return old_generation() ? kOldGenerationPins : pins_present_;
}

std::vector<uint8_t> DeviceSystemModel::gpio_answer() const
{
    if (!old_generation())
        return gpio_table();
    std::vector<uint8_t> levels(kOldLevelsSize);
    for (size_t i = 0; i < kOldGenerationPins; ++i)
        wire::put_u32(levels.data() + 4 * i, pins_[i].level);
    return levels;
}

// The table form, which the notice carries for both generations; old ones
// have no pin modes to tell.
std::vector<uint8_t> DeviceSystemModel::gpio_table() const
{
    std::vector<uint8_t> table(kGpioTableSize);
    table[0] = static_cast<uint8_t>(pin_count());
    for (size_t i = 0; i < pin_count(); ++i) {
        uint8_t *entry = table.data() + 1 + kGpioEntrySize * i;
        entry[0] = static_cast<uint8_t>(i);
        entry[1] = old_generation() ? 0 : pins_[i].mode;
        entry[2] = pins_[i].level;
    }
    return table;
}

bool DeviceSystemModel::set_pin(const std::vector<uint8_t> &payload)
{
    if (old_generation()) {
        if (payload.size() != kOldPinRequest)
            return false;
        const uint32_t pin = wire::get_u32(payload.data());
        if (pin >= kOldGenerationPins)
            return false;
        pins_[pin].level = static_cast<uint8_t>(wire::get_u32(payload.data() + 4));
        return true;
    }
    if (payload.size() != kGpioEntrySize || payload[0] >= pin_count())
        return false;
    pins_[payload[0]] = GpioPin{payload[1], payload[2]};
    return true;
}

// Entry i of the request sets pin i; a request for more pins than the
// probe has is refused as a whole.
bool DeviceSystemModel::set_all_pins(const std::vector<uint8_t> &payload)
{
    if (old_generation()) {
        if (payload.size() != kOldLevelsSize)
            return false;
        for (size_t i = 0; i < kOldGenerationPins; ++i)
            pins_[i].level = static_cast<uint8_t>(wire::get_u32(payload.data() + 4 * i));
        return true;
    }
    if (payload.size() != kGpioTableSize || payload[0] > pin_count())
        return false;
    for (size_t i = 0; i < payload[0]; ++i) {
        const uint8_t *entry = payload.data() + 1 + kGpioEntrySize * i;
        pins_[i] = GpioPin{entry[1], entry[2]};
    }
    return true;
}

// A transfer with the one device on the bus; any other address, or a range
// past its registers, is not acknowledged.
bool DeviceSystemModel::i2c_transfer(uint16_t code, const std::vector<uint8_t> &payload, std::vector<uint8_t> *answer)
{
    if (payload.size() != kI2cBlockSize)
        return false;
    const size_t first = payload[1];
    const size_t count = payload[2];
    if (payload[0] != i2c_address_ || count == 0 || count > kI2cMaxCount || first + count > kI2cRegisterCount)
        return false;
    const uint8_t *data = payload.data() + kI2cControlSize;
    if (code == wire::kI2cWrite) {
        std::copy(data, data + count, i2c_registers_.begin() + static_cast<std::ptrdiff_t>(first));
        return true;
    }
    answer->assign(payload.begin(), payload.begin() + kI2cControlSize);
    answer->resize(kI2cBlockSize, 0);
    std::copy_n(i2c_registers_.begin() + static_cast<std::ptrdiff_t>(first), count, answer->begin() + kI2cControlSize);
    return true;
}

}  // namespace probesim
