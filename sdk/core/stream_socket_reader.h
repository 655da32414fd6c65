// Exact reads from the stream connection, through a read-ahead buffer.
#pragma once

#include <cstdint>

#include "session_context.h"

class StreamSocketReader {
public:
    StreamSocketReader(StreamAssembly &assembly, int socket, quarn_timeval timeout)
        : assembly_(assembly), socket_(socket), timeout_(timeout)
    {
    }
    // Exactly length bytes within the time-out. QRN_OK, or -6 closed, -2
    // time-out, -4 receive failure.
    int read(uint8_t *out, uint32_t length);
    // Reads and throws away length bytes, so the stream stays in step.
    int skip(uint32_t length);

private:
    StreamAssembly &assembly_;
    int socket_;
    quarn_timeval timeout_;
};
