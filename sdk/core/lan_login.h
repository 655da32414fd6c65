// The login that opens a session on the local network.
#pragma once

#include "session_context.h"

// Picks the port pair, logs in on the command port and leaves the data port
// listening for the device's stream connection. Returns 0 or a connect code.
int lan_login(SessionContext *session);

// Reads what the login response payload says about the device.
void apply_login_payload(SessionContext *session, const uint8_t *payload, uint32_t length);
