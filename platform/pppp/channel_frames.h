// What travels inside a channel's PseudoTCP stream: data frames and credit
// frames. A reader grants credit as it consumes, and a writer never sends
// more than the credit it holds, so a reader's buffer cannot overflow and
// PseudoTCP's own window never closes (its recovery from a closed window
// can stall a session for many seconds).
//
//   data:   0x01, length (u16 big-endian, 1..kMaxFramePayload), payload
//   credit: 0x02, bytes (u32 big-endian, 1..kChannelWindow)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pppp {

// What a reader may hold unread; the writer's credit at the start.
constexpr size_t kChannelWindow = 1 << 20;
constexpr size_t kMaxFramePayload = 16384;

void append_data_frame(std::vector<uint8_t> &out, const uint8_t *payload, size_t length);
void append_credit_frame(std::vector<uint8_t> &out, uint32_t bytes);

// Splits the stream into frames; false on anything else (the stream is then
// unusable).
class FrameParser {
public:
    struct Sink {
        virtual bool on_data(const uint8_t *bytes, size_t length) = 0;
        virtual bool on_credit(uint32_t bytes) = 0;

    protected:
        ~Sink() = default;
    };

    bool feed(const uint8_t *bytes, size_t length, Sink &sink);

private:
    uint8_t mHeader[5] = {};
    size_t mHeaderFill = 0;
    size_t mPayloadLeft = 0;  // of the data frame being read
};

}  // namespace pppp
