// The broker topics of the layer. A device listens on its inbox and keeps a
// retained status; so does every host peer (one per process and broker).
#pragma once

#include <string>

namespace pppp {

inline std::string device_status_topic(const std::string &id)
{
    return "pppp/dev/" + id + "/status";
}
inline std::string device_inbox_topic(const std::string &id)
{
    return "pppp/dev/" + id + "/inbox";
}
inline std::string peer_status_topic(const std::string &id)
{
    return "pppp/peer/" + id + "/status";
}
inline std::string peer_inbox_topic(const std::string &id)
{
    return "pppp/peer/" + id + "/inbox";
}

// 32 lower-case hex digits from the system's random source.
std::string random_token();

}  // namespace pppp
