// The stream packets a host writes on the connection the device opened back
// to it: audio for the speaker and bytes for the serial port. Bytes come in
// as the socket delivers them; whole packets come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace probesim {

struct HostPacket {
    uint32_t token = 0;
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

class HostStreamParser {
public:
    void feed(const std::vector<uint8_t> &bytes);
    // The next whole packet; false until one has arrived. Bytes before a
    // magic are skipped, and a payload too large for the device is read
    // past and dropped, so the parser stays in step with the host.
    bool next(HostPacket &packet);

private:
    void drop_front(size_t count);

    std::vector<uint8_t> pending_;
    uint64_t skipping_ = 0;  // payload bytes of a dropped packet still to come
};

}  // namespace probesim
