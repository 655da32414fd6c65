#include "discovery_reply.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"

namespace {

constexpr int kReplyIdOffset = 8;
constexpr int kReplyAliasOffset = 12;

}  // namespace

ScanDeviceInformation device_from_reply(const uint8_t *reply, int length, const char *sender)
{
    ScanDeviceInformation device{};
    if (length >= kReplyAliasOffset)
        device.info.id = get_u32le(reply + kReplyIdOffset);
    if (length > kReplyAliasOffset) {
        const size_t room = std::min<size_t>(length - kReplyAliasOffset, sizeof device.info.alias - 1);
        const uint8_t *alias = reply + kReplyAliasOffset;
        const auto *end = static_cast<const uint8_t *>(std::memchr(alias, 0, room));
        std::memcpy(device.info.alias, alias, end ? static_cast<size_t>(end - alias) : room);
    }
    std::memcpy(device.info.address, sender, strnlen(sender, sizeof device.info.address - 1));
    return device;
}
