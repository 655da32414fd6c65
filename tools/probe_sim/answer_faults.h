// How each command fault changes what the device answers. The serving side
// (answer-late, no-connect-back) is the command server's; stream faults are
// the frame sender's.
#pragma once

#include <cstdint>
#include <vector>

#include "command_answers.h"
#include "fault.h"

namespace probesim {

// Changes the answer before any part of it (notices included) goes out.
void apply_fault(Fault fault, uint16_t request_code, uint32_t device_token, Answer &answer);

// The bytes the device writes for the answer.
std::vector<uint8_t> answer_bytes(const Answer &answer, Fault fault);

// True when the device closes the command connection after its answer.
bool closes_after_answer(Fault fault);

}  // namespace probesim
