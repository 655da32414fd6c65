// Replacing a relayed peer-to-peer session by a direct one under the same
// handle, on a thread of its own.
#pragma once

#include "session_context.h"

// Starts the switch for the relayed session in slot. Nothing happens when
// the thread cannot be started: the relayed session simply stays.
void start_transport_switch(SessionContext *relayed, int slot);
