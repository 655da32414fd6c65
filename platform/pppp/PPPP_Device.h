// Device side of the peer-to-peer layer: a module registers under its ID and
// accepts the sessions hosts open to it. Accepted sessions use the session
// calls of PPPP_API.h.
#pragma once

#include "PPPP_API.h"

#ifdef __cplusplus
extern "C" {
#endif

// Goes online under device_id on the broker the init string names.
// Listener >= 0, or a negative code of PPPP_API.h.
int PPPP_Device_Register(const char *device_id, const char *init_string);
// Session handle >= 0; -3 when none came within timeout_ms; -11 when the
// listener is (or gets) unregistered.
int PPPP_Device_Accept(int listener, int timeout_ms);
// The next `sessions` accepted sessions offer only relayed candidates
// (-1: all of them, 0: off).
int PPPP_Device_RelayOnly(int listener, int sessions);
// Goes offline and closes the listener's sessions.
int PPPP_Device_Unregister(int listener);

#ifdef __cplusplus
}
#endif
