#include "serial_model.h"

#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint16_t kGetSerialParams = 0x3001;
constexpr uint16_t kSetSpeed = 0x3002;
constexpr uint16_t kSetDataBits = 0x3003;
constexpr uint16_t kSetStopBits = 0x3004;
constexpr uint16_t kSetParity = 0x3005;
constexpr uint16_t kSetTimeout = 0x3006;
constexpr uint16_t kSerialOpen = 0x3007;
constexpr uint16_t kSerialClose = 0x3008;
constexpr uint32_t kSerialNotice = 4;

constexpr uint32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr uint32_t kMaxTimeoutMs = 60000;
// The port's receive FIFO: the device forwards at most this much per block.
constexpr size_t kMaxForwardedBlock = 1024;

bool is_setter(uint16_t code)
{
    return code >= kSetSpeed && code <= kSetTimeout;
}

bool in_range(uint32_t v, uint32_t low, uint32_t high) { return v >= low && v <= high; }

}  // namespace

bool SerialModel::handles(uint16_t code)
{
    return code >= kGetSerialParams && code <= kSerialClose;
}

SerialAnswer SerialModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    SerialAnswer a;
    const size_t expected = is_setter(code) ? 4 : 0;
    if (payload.size() != expected) {
        a.status = wire::kStatusBadArgument;
        return a;
    }
    switch (code) {
    case kGetSerialParams:
        a.payload = line_words();
        break;
    case kSerialOpen:
        open_ = true;
        break;
    case kSerialClose:
        open_ = false;
        break;
    default:
        if (!set(code, wire::get_u32(payload.data()))) {
            a.status = wire::kStatusBadArgument;
            break;
        }
        a.notices.push_back({kSerialNotice, line_words()});
        break;
    }
    return a;
}

bool SerialModel::set(uint16_t code, uint32_t value)
{
    switch (code) {
    case kSetSpeed:
        if (std::find(std::begin(kSpeeds), std::end(kSpeeds), value) == std::end(kSpeeds))
            return false;
        line_.speed = value;
        return true;
    case kSetDataBits:
        if (!in_range(value, 5, 8))
            return false;
        line_.data_bits = value;
        return true;
    case kSetStopBits:
        if (!in_range(value, 1, 2))
            return false;
        line_.stop_bits = value;
        return true;
    case kSetParity:
        if (!in_range(value, 0, 2))
            return false;
        line_.parity = value;
        return true;
    case kSetTimeout:
        if (!in_range(value, 1, kMaxTimeoutMs))
            return false;
        line_.timeout = value;
        return true;
    default:
        return false;
    }
}

std::vector<uint8_t> SerialModel::line_words() const
{
    const uint32_t words[] = {line_.speed, line_.data_bits, line_.stop_bits, line_.parity, line_.timeout};
    std::vector<uint8_t> out(sizeof words);
    for (size_t i = 0; i < 5; ++i)
        wire::put_u32(out.data() + 4 * i, words[i]);
    return out;
}

std::vector<std::vector<uint8_t>> SerialModel::forward(const std::vector<uint8_t> &received) const
{
    std::vector<std::vector<uint8_t>> blocks;
    if (!open_)
        return blocks;
    for (size_t offset = 0; offset < received.size(); offset += kMaxForwardedBlock) {
        const size_t end = std::min(received.size(), offset + kMaxForwardedBlock);
        blocks.emplace_back(received.begin() + offset, received.begin() + end);
    }
    return blocks;
}

}  // namespace probesim
