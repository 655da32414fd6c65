// One session with a module, open for the life of the object.
#pragma once

#include "arguments.h"

#include <optional>
#include <string>
#include <vector>

namespace qrn {

struct Endpoint {
    std::string address;
    int port = 0;  // 0: the module's usual command port
    std::optional<std::string> access;
};

// --port and --access, shared by every command that connects.
extern const std::vector<OptionRule> kEndpointOptions;
constexpr const char *kEndpointHelp =
    "  --port N           command port of the module (default 34674)\n"
    "  --access STRING    access string for the login\n";

// The endpoint from the ADDRESS operand at index and the endpoint options.
Endpoint endpoint_from(const Arguments &arguments, size_t index);

class Session {
public:
    // Connects and logs in; throws CommandFailure, or UsageError for an
    // address or access string the SDK cannot take.
    explicit Session(const Endpoint &endpoint);
    // Disconnects and waits briefly for the logout to go out, which the
    // SDK does on a thread of its own.
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    int handle() const { return handle_; }
    const std::string &address() const { return address_; }

private:
    int handle_ = 0;
    std::string address_;
};

}  // namespace qrn
