// Reading the device's stream connection, one packet at a time.
#pragma once

#include <cstdint>

#include "session_context.h"

constexpr int kMoreFragments = -30;

// Waits up to the stream time-out for the device's stream connection and
// makes it the data socket. True when one was accepted.
bool accept_stream(SessionContext *session);

// Reads one packet and appends its payload to the assembly buffer of its
// type. A packet outside its fragment count (count 0, index not below
// count) is read past and drops the frame or block of its type. 0 and *type_out when a frame or block is complete, kMoreFragments
// when more are to come, or a negative code: -6 closed, -8 another
// session's token, -9 no magic, -2 time-out, -4 receive failure, -1 a
// packet that was read and discarded.
int read_stream_packet(SessionContext *session, uint8_t *type_out);

// Whether the device's stream connection is up; safe from any thread.
bool stream_channel_up(const SessionContext *session);

// Closes the data socket so that the device connects again.
void drop_stream_connection(SessionContext *session);
// Closes both stream sockets: the session's stream is gone for good.
void close_stream_sockets(SessionContext *session);

// The data socket for one send, marked in use until it is returned, so no
// closer frees its number meanwhile. -1 when the stream connection is not
// up, -4 when an earlier send on it stopped inside a packet (the device
// would read the next one out of step until it connects again).
int borrow_data_socket(SessionContext *session);
// Ends the send: closes the socket if it was dropped meanwhile, or marks it
// out of step when the send stopped inside a packet.
void return_data_socket(SessionContext *session, bool left_out_of_step);
