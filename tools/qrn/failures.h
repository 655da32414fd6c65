// The two ways a command can fail, each with its own exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace qrn {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // connection, device or file failure
constexpr int kExitUsage = 2;    // bad command line

// The command line cannot be acted on.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line was sound but the work failed.
class CommandFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "what: <text of code> (code)", for messages about a failed SDK call.
std::string describe_result(const std::string &what, int code);

// Throws CommandFailure when an SDK call returned a negative code.
void check_result(int code, const std::string &what);

}  // namespace qrn
