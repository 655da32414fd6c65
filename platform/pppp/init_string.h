// The init string: where the broker and the relay are, the relay's
// credentials and the transport policy, as letters A..P (two per byte, high
// nibble first) so it passes through any configuration channel unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace pppp {

struct InitConfig {
    std::string broker_host = "127.0.0.1";
    uint16_t broker_port = 1883;
    std::string relay_host = "127.0.0.1";
    uint16_t relay_port = 3478;
    std::string user = "pppp";
    std::string password = "pppp";
    bool relay_only = false;
};

enum class DecodeResult {
    ok,
    bad_letter,     // a character outside A..P
    odd_length,     // half a byte at the end
    too_long,       // longer than any valid string
    bad_version,    // a format this build does not know
    truncated,      // a field runs past the end
    bad_field,      // a field's value is not allowed (empty host, port 0, control characters)
    trailing_bytes  // bytes after the last field
};

const char *decode_result_text(DecodeResult result);

// Fails (returns false) only when a text field is longer than 255 bytes.
bool encode_init_string(const InitConfig &config, std::string *letters);
// An empty string decodes to the defaults.
DecodeResult decode_init_string(const std::string &letters, InitConfig *config);

}  // namespace pppp
