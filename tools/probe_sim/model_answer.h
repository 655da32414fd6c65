// What a family model answers to one command, before the simulator adds the
// header fields every answer shares and any fault.
#pragma once

#include <cstdint>
#include <vector>

#include "probe_wire.h"

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

// An answer that carries only a status: the model does not know the command,
// or refused its payload before looking at it.
template <typename Answer>
Answer status_answer(uint16_t status)
{
    Answer a;
    a.status = status;
    return a;
}

// A known command's answer once the model has looked at its arguments: one
// it did not accept is answered as a bad argument.
template <typename Answer>
Answer refused_unless(bool accepted, Answer a)
{
    if (!accepted)
        a.status = wire::kStatusBadArgument;
    return a;
}

}  // namespace probesim
