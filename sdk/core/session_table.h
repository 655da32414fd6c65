// The process-wide table of 16 session slots.
#pragma once

#include <cstdint>

#include "session_context.h"

constexpr int32_t kHandleBase = 0x20130805;
constexpr int kSlotCount = 16;

// Takes a free slot and resets its context. Returns the slot index,
// -16 when every slot is in use, -7 when the context cannot be created.
int session_slot_take(int address_kind);
void session_slot_release(int slot);

// Notes that a teardown was started for the session of this id, so that
// session_wait_ended can tell its end from a newer session in the slot.
void session_mark_ending(int handle, uint32_t id);
// Waits until the slot no longer holds the session being torn down.
// Returns 0, -2 when the time ran out, -7 for a number outside the table.
int session_wait_ended(int handle, unsigned timeout_ms);

// The context of a valid handle, or NULL.
SessionContext *session_lookup(int handle);

// Whether the context still sits in a slot that is in use.
bool context_in_use(const SessionContext *context);

// 1 when the slot was switched, -1 when not valid, 0 when valid. An id of 0
// is filled with the context's id; any other id must match it.
int session_validate(int handle, uint32_t *id);

// Whether a relayed peer-to-peer session may be replaced by a direct one.
void set_transport_switch(bool enabled);
bool transport_switch_enabled();
