// G.711 A-law coding of the probe's microphone samples, written for the
// simulator alone so that the host's decoder is checked against it.
#pragma once

#include <cstdint>

namespace probesim {

// The A-law code of one 16-bit linear sample.
uint8_t alaw_encode(int16_t sample);

}  // namespace probesim
