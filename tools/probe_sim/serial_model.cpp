#include "serial_model.h"

#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint32_t kSerialNotice = 4;

constexpr uint32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr uint32_t kMaxTimeoutMs = 60000;
// The port's receive FIFO: the device forwards at most this much per block.
constexpr size_t kMaxForwardedBlock = 1024;

bool is_setter(uint16_t code)
{
    return code >= wire::kSetSerialSpeed && code <= wire::kSetSerialTimeout;
}

bool in_range(uint32_t v, uint32_t low, uint32_t high)
{
    return v >= low && v <= high;
}

}  // namespace

bool SerialModel::handles(uint16_t code)
{
    return code >= wire::kGetSerialParams && code <= wire::kSerialClose;
}

ModelAnswer SerialModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    const size_t expected = is_setter(code) ? 4 : 0;
    if (payload.size() != expected)
        return status_answer<ModelAnswer>(wire::kStatusBadArgument);
    ModelAnswer a;
    switch (code) {
    case wire::kGetSerialParams:
        a.payload = line_words();
        break;
    case wire::kSerialOpen:
        open_ = true;
        break;
    case wire::kSerialClose:
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
    case wire::kSetSerialSpeed:
        if (std::find(std::begin(kSpeeds), std::end(kSpeeds), value) == std::end(kSpeeds))
            return false;
        line_.speed = value;
        return true;
    case wire::kSetSerialDataBits:
        if (!in_range(value, 5, 8))
            return false;
        line_.data_bits = value;
        return true;
    case wire::kSetSerialStopBits:
        if (!in_range(value, 1, 2))
            return false;
        line_.stop_bits = value;
        return true;
    case wire::kSetSerialParity:
        if (!in_range(value, 0, 2))
            return false;
        line_.parity = value;
        return true;
    case wire::kSetSerialTimeout:
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
