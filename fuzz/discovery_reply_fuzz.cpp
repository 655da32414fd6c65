// Any datagram on the discovery port that the scanner takes for a reply.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The scanner reads at most this much of one datagram.
    constexpr size_t kReplyBufferSize = 1024;
    const int length = static_cast<int>(size < kReplyBufferSize ? size : kReplyBufferSize);
    // Exactly the datagram's bytes, so a read past them is caught.
    const std::vector<uint8_t> reply(data, data + length);
    const ScanDeviceInformation device = device_from_reply(reply.data(), length, "127.14.0.4");
    // What the table hands to a caller must be terminated within its fields.
    if (!std::memchr(device.info.alias, 0, sizeof device.info.alias) ||
        !std::memchr(device.info.address, 0, sizeof device.info.address))
        __builtin_trap();
    return 0;
}
