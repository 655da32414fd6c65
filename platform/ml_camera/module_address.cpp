#include "module_address.h"

#include <arpa/inet.h>
#include <cstdlib>

namespace mlcam {

std::optional<std::string> module_base_url(const char *address)
{
    const char *override_address = std::getenv("KELVO_ML_ADDRESS");
    if (override_address != nullptr && override_address[0] != '\0')
        address = override_address;
    if (address == nullptr)
        return std::nullopt;
    std::string text = address;
    std::string host = text;
    unsigned long port = 80;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        port = std::stoul(digits);
        if (port == 0 || port > 65535)
            return std::nullopt;
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1)
        return std::nullopt;
    return "http://" + host + ":" + std::to_string(port);
}

}  // namespace mlcam
