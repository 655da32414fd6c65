// Reading the device's stream connection, one packet at a time.
#pragma once

#include <cstdint>

#include "session_context.h"

constexpr int kMoreFragments = -30;

// Waits up to the stream time-out for the device's stream connection and
// makes it the data socket. True when one was accepted.
bool accept_stream(SessionContext *session);

// Reads one packet and appends its payload to the assembly buffer of its
// type. 0 and *type_out when a frame or block is complete, kMoreFragments
// when more are to come, or a negative code: -6 closed, -8 another
// session's token, -9 no magic, -2 time-out, -4 receive failure, -1 a
// packet that was read and discarded.
int read_stream_packet(SessionContext *session, uint8_t *type_out);

// Closes the data socket so that the device connects again.
void drop_stream_connection(SessionContext *session);
// Closes both stream sockets: the session's stream is gone for good.
void close_stream_sockets(SessionContext *session);
