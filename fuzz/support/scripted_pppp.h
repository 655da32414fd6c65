// A stand-in for the peer-to-peer layer, linked into a target instead of
// the real one: session kScriptedSession plays back, on each channel, the
// reads a fuzz input gives, so the SDK's channel readers meet any bytes a
// peer could send without a broker or ICE.
#pragma once

#include <cstdint>
#include <vector>

namespace fuzzing {

constexpr int kScriptedSession = 7;

// The reads channel will deliver, in order: each at most the piece it is
// (less when the caller asks for less; the rest comes next), an empty
// piece a read that timed out. After the last, or once the caller has
// looked at the buffer a few times without reading, the peer has closed.
void script_channel(int channel, std::vector<std::vector<uint8_t>> reads);

}  // namespace fuzzing
