// Exact reads from the LAN stream connection, through a read-ahead buffer.
#pragma once

#include <cstdint>

#include "session_context.h"
#include "stream_byte_reader.h"

class StreamSocketReader : public StreamByteReader {
public:
    StreamSocketReader(StreamAssembly &assembly, int socket, quarn_timeval timeout)
        : assembly_(assembly), socket_(socket), timeout_(timeout)
    {
    }
    int read(uint8_t *out, uint32_t length) override;

private:
    StreamAssembly &assembly_;
    int socket_;
    quarn_timeval timeout_;
};
