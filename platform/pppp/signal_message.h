// The signalling messages exchanged over the broker, as JSON. Every decoder
// treats its input as hostile: bounded sizes, strict field checks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pppp {

constexpr size_t kMaxMessageBytes = 16384;
constexpr size_t kMaxCandidatesPerComponent = 16;
constexpr size_t kComponents = 2;

// What one side tells the other about its ICE stream.
struct IceDescription {
    std::string ufrag;
    std::string pwd;
    std::vector<std::string> candidates[kComponents];
};

enum class MessageType { offer, answer, refuse, bye, probe };

struct SignalMessage {
    MessageType type = MessageType::bye;
    std::string session;  // 32 hex digits chosen by the host
    std::string from;     // offers: the host's peer ID, where answers go
    IceDescription ice;   // offers and answers
    std::string reason;   // refusals
};

std::string encode_message(const SignalMessage &message);
bool decode_message(const char *payload, size_t length, SignalMessage *message);

// The retained status of a device or a host peer.
std::string encode_status(bool online);
// False when the payload is not a status; *online tells which one it is.
bool decode_status(const char *payload, size_t length, bool *online);

// Device IDs and peer IDs become MQTT topic levels: letters, digits, '-' and
// '_' only, 1..64 of them.
bool valid_id(const std::string &id);
bool valid_session_token(const std::string &token);

}  // namespace pppp
