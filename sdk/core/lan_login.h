// The login that opens a session on the local network.
#pragma once

#include "session_context.h"

// Picks the port pair, logs in on the command port and leaves the data port
// listening for the device's stream connection. Returns 0 or a connect code.
int lan_login(SessionContext *session);

// The login request: header and, with an access string, its payload.
// Returns the packet's length; packet holds kHeaderSize + kLoginPayloadSize.
int build_login_packet(const SessionContext *session, uint8_t *packet);

// Reads what the login response payload says about the device.
void apply_login_payload(SessionContext *session, const uint8_t *payload, uint32_t length);
