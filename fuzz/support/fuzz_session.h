// A session from the library's own table, set up as a connect over the
// local network leaves it, so that a fuzz input reaches the code that reads
// a module's bytes with everything that code expects around it.
#pragma once

#include <cstdint>

#include "session_context.h"

namespace fuzzing {

// The token the seeds were captured with: the simulator's default.
constexpr uint32_t kFuzzToken = 0x5A17C0DE;

class FuzzSession {
public:
    // Commands go to address:command_port.
    FuzzSession(const char *address, int command_port);
    ~FuzzSession();
    FuzzSession(const FuzzSession &) = delete;
    FuzzSession &operator=(const FuzzSession &) = delete;

    int handle() const { return handle_; }
    SessionContext &context() { return *context_; }

private:
    int slot_;
    int handle_;
    SessionContext *context_;
};

}  // namespace fuzzing
