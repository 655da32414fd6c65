// The simulated probe's serial port: its line settings, whether the
// pass-through is open, and the loop-back plug on it that returns every byte
// the host writes. No I/O here; the simulator sends what an answer asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model_answer.h"

namespace probesim {

// The device's own encoding: bits per second, 5..8 data bits, 1 or 2 stop
// bits, parity 0 none, 1 odd, 2 even, and the receive time-out in ms.
struct SerialLine {
    uint32_t speed = 115200;
    uint32_t data_bits = 8;
    uint32_t stop_bits = 1;
    uint32_t parity = 0;
    uint32_t timeout = 100;
};

class SerialModel {
public:
    static bool handles(uint16_t code);
    ModelAnswer answer(uint16_t code, const std::vector<uint8_t> &payload);

    bool is_open() const { return open_; }
    void close() { open_ = false; }

    // Bytes the port received, as the blocks the device forwards to the
    // host; none while the pass-through is closed. With the loop-back plug,
    // what the host writes to the port is received here too.
    std::vector<std::vector<uint8_t>> forward(const std::vector<uint8_t> &received) const;

private:
    bool set(uint16_t code, uint32_t value);
    std::vector<uint8_t> line_words() const;

    SerialLine line_;
    bool open_ = false;
};

}  // namespace probesim
