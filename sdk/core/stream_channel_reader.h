// Exact reads from channel 2 of a peer-to-peer session.
#pragma once

#include <cstdint>

#include "session_context.h"
#include "stream_byte_reader.h"

class StreamChannelReader : public StreamByteReader {
public:
    explicit StreamChannelReader(SessionContext *session) : session_(session) {}
    // Waits in short slices, so a teardown is seen at once even if the layer
    // did not wake the read. -6 also when the session is being torn down.
    int read(uint8_t *out, uint32_t length) override;

private:
    SessionContext *session_;
};

// Whether a P2P result says the session is gone.
bool p2p_session_gone(int result);
