// Exact reads of the stream, whichever transport carries it: the LAN data
// socket or channel 2 of a peer-to-peer session.
#pragma once

#include <cstdint>

class StreamByteReader {
public:
    virtual ~StreamByteReader() = default;
    // Exactly length bytes within the stream time-out. QRN_OK, or -6 closed,
    // -2 time-out, -4 receive failure.
    virtual int read(uint8_t *out, uint32_t length) = 0;
    // Reads and throws away length bytes, so the stream stays in step.
    int skip(uint32_t length);
};
