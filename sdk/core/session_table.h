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

// Validates the handle as session_validate does and, when valid, notes
// that a teardown was started for its session (its id goes to *id), so that
// session_wait_ended can tell its end from a newer session in the slot and
// the transport switch leaves it alone. Returns what validation returned.
int session_begin_ending(int handle, uint32_t *id);
// Waits until the slot no longer holds the session being torn down.
// Returns 0, -2 when the time ran out, -7 for a number outside the table.
int session_wait_ended(int handle, unsigned timeout_ms);

// The context of a valid handle, or NULL.
SessionContext *session_lookup(int handle);

// Whether the context still sits in a slot that is in use.
bool context_in_use(const SessionContext *context);

// 0 when valid, -1 when not. An id of 0 is filled with the context's id;
// any other id must match it, except that 1 tells that the session of that
// id was replaced by the transport switch under the same handle.
int session_validate(int handle, uint32_t *id);

// The transport switch: puts the replacement's context into the slot of the
// handle it replaces, and the replaced context into the replacement's slot.
// Done only while the replaced session (of that id) is alive, still in that
// slot, and no teardown was started for it. True when swapped.
bool session_slots_swap(int replaced_slot, const SessionContext *replaced, uint32_t replaced_id, int replacement_slot,
                        bool (*alive)(const SessionContext *));

// Whether the P2P layer is initialised: from the first device-ID connect
// until the last session is released.
bool p2p_library_initialised();

// Whether a relayed peer-to-peer session may be replaced by a direct one.
void set_transport_switch(bool enabled);
bool transport_switch_enabled();
