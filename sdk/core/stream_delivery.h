// Turning a completed frame or block into a queue element.
#pragma once

#include <cstdint>

#include "session_context.h"

// Hands the completed assembly of this type to its queue, resets the
// assembly and counts the element for the poller's next wake-up. 0 or more
// when something was queued, -1 when nothing was.
int deliver_stream_packet(SessionContext *session, uint8_t type);
