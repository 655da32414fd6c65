// The wall-clock time each video frame leaves the simulator, keyed by its
// sequence number, written to a file beside the stream so that a benchmark
// can measure a viewer's latency without anything extra on the wire.
#pragma once

#include <cstdint>
#include <string>

namespace probesim {

// Opens the stamp file (one "sequence nanoseconds" line per frame sent);
// false when it cannot be written. Without it stamp_sent does nothing.
bool open_send_stamps(const std::string &path);
void stamp_sent(uint32_t sequence);

}  // namespace probesim
