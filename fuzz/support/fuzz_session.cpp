#include "fuzz_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qrn_net.h"
#include "session_table.h"

namespace fuzzing {

FuzzSession::FuzzSession(const char *address, int command_port)
{
    slot_ = session_slot_take(kAddressKindIp);
    if (slot_ < 0) {
        std::fprintf(stderr, "no session slot: %d\n", slot_);
        std::abort();
    }
    handle_ = kHandleBase + slot_;
    context_ = session_lookup(handle_);
    std::snprintf(context_->address, sizeof context_->address, "%s", address);
    context_->address_kind = kAddressKindIp;
    context_->trans_mode = TRANS_LAN;
    context_->command_port = command_port;
    context_->token = kFuzzToken;
    context_->protocol_version = 0x00010203;
    context_->connected = 1;
}

FuzzSession::~FuzzSession()
{
    // The next take resets the context and frees whatever its queues hold.
    context_->connected = 0;
    session_slot_release(slot_);
}

}  // namespace fuzzing
