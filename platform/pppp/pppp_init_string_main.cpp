// pppp-init-string: prints the init string for a broker, a relay and its
// credentials, or decodes one.
//
//   pppp-init-string [--broker HOST:PORT] [--relay HOST:PORT] [--user U]
//                    [--password P] [--relay-only]
//   pppp-init-string --decode STRING
#include "init_string.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: pppp-init-string [--broker HOST:PORT] [--relay HOST:PORT] [--user U] "
                 "[--password P] [--relay-only]\n"
                 "       pppp-init-string --decode STRING\n");
    return 2;
}

bool split_endpoint(const std::string &text, std::string *host, uint16_t *port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return false;
    char *end = nullptr;
    long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || value < 1 || value > 65535)
        return false;
    *host = text.substr(0, colon);
    *port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    pppp::InitConfig config;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--relay-only") {
            config.relay_only = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        std::string value = argv[++i];
        if (option == "--decode") {
            if (argc != 3)
                return usage();
            pppp::DecodeResult result = pppp::decode_init_string(value, &config);
            if (result != pppp::DecodeResult::ok) {
                std::fprintf(stderr, "pppp-init-string: not an init string: %s\n", pppp::decode_result_text(result));
                return 1;
            }
            std::printf("broker=%s:%u\nrelay=%s:%u\nuser=%s\npassword=%s\npolicy=%s\n", config.broker_host.c_str(),
                        config.broker_port, config.relay_host.c_str(), config.relay_port, config.user.c_str(),
                        config.password.c_str(), config.relay_only ? "relay-only" : "all");
            return 0;
        }
        if (option == "--broker") {
            if (!split_endpoint(value, &config.broker_host, &config.broker_port))
                return usage();
        } else if (option == "--relay") {
            if (!split_endpoint(value, &config.relay_host, &config.relay_port))
                return usage();
        } else if (option == "--user") {
            config.user = value;
        } else if (option == "--password") {
            config.password = value;
        } else {
            return usage();
        }
    }
    std::string letters;
    pppp::InitConfig check;
    if (!pppp::encode_init_string(config, &letters) ||
        pppp::decode_init_string(letters, &check) != pppp::DecodeResult::ok) {
        std::fprintf(stderr, "pppp-init-string: a value is too long or holds spaces or control characters\n");
        return 1;
    }
    std::printf("%s\n", letters.c_str());
    return 0;
}
