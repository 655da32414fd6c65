// What a family model answers to one command, before the simulator adds the
// header fields every answer shares and any fault.
#pragma once

#include <cstdint>
#include <vector>

namespace probesim {

// A parameter-change notice the device sends on the stream.
struct ParamNotice {
    uint32_t sub_type = 0;
    std::vector<uint8_t> data;
};

struct ModelAnswer {
    uint16_t status = 0;
    std::vector<uint8_t> payload;
    std::vector<ParamNotice> notices;  // to send on the stream before the answer
};

}  // namespace probesim
