// The per-session thread that reads the device's stream.
#pragma once

#include "session_context.h"

// Starts the receive thread of a freshly connected session. False when it
// cannot be started.
bool start_receive_thread(SessionContext *session);
