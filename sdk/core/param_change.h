// Parameter-change notices: the device tells the host a setting changed.
#pragma once

#include <cstdint>

#include "session_context.h"

// Applies a notice (sub-type word, then data) to the session's caches.
// Data shorter than its sub-type needs changes nothing.
void apply_param_change(SessionContext *session, uint32_t sub_type, const uint8_t *data, uint32_t length);
