// Commands and their answers on channel 1 of a peer-to-peer session.
#pragma once

#include <cstdint>

#include "session_context.h"
#include "wire_protocol.h"

// Writes one whole command packet. 0; -12 the session is gone, -4 the layer
// could not take it, -1 no P2P session or another failure.
int p2p_write_command(const SessionContext *session, const uint8_t *packet, int length);

// Reads answers until one for code (and token, unless it is 0) is complete;
// others are dropped. Bytes before a header are skipped up to the next
// magic. The wait is counted against the command time-out: 1 per idle
// millisecond, 2000 per read that timed out. The caller holds the command
// lock. 0 with *header and the payload in payload (its length is
// header->length); -2 time-out; -6 the session is gone; -17 the payload is
// longer than capacity (it was read past).
int p2p_read_response(SessionContext *session, uint16_t code, uint32_t token, CommandHeader *header, uint8_t *payload,
                      uint32_t capacity);
