// Opening a session to a device by its ID and logging in on channel 1.
#pragma once

#include "session_context.h"

// Plain form (replacing NULL): opens one P2P session, direct or relayed, and
// logs in. Switch form: a relayed session is closed and another opened, up
// to the session's maximum relay retries, while the session being replaced
// is alive; -1 when it stays relayed or that session is lost. Returns 0 or a
// connect code; on failure no P2P session is left open.
int p2p_connect(SessionContext *session, const SessionContext *replacing);

// Whether a session still stands: connected, and its stream not lost while
// a handover was under way.
bool p2p_session_alive(const SessionContext *session);

// How many relayed sessions the switch form has opened and closed again in
// this process: the module may not see each one, when its close overtakes it.
unsigned p2p_relayed_sessions_closed();
