// qrn smartconfig: hands network credentials to a module not yet on a network.
#include "commands.h"
#include "failures.h"
#include "interrupt.h"
#include "qrn_net.h"

#include <chrono>
#include <iostream>
#include <string>

namespace qrn {

namespace {

const std::string kUsage = std::string(
                               "usage: qrn smartconfig SSID [PASSWORD] [--seconds N]\n"
                               "\n"
                               "Broadcasts SSID and PASSWORD for N seconds on every broadcast address of\n"
                               "this host (or those of QRN_BCAST_ADDRS) for a module in provisioning mode\n"
                               "to pick up. Ctrl-C stops early. Put -- before a text that starts with\n"
                               "a dash.\n"
                               "\n"
                               "  SSID               the first text, at least 8 characters\n"
                               "  PASSWORD           the second text (the module's default when left out)\n"
                               "  --seconds N        how long to broadcast, 1 to 3600 (default 30)\n") +
                           kHelpOptionHelp;

constexpr int kDefaultSeconds = 30;
constexpr size_t kShortestFirstText = 8;

// Ends the broadcast however the command ends.
class Broadcast {
public:
    Broadcast(const std::string &first, const char *second)
    {
        check_result(QRN_NET_SmartConfig_Begin(0, first.c_str(), second), "cannot start the broadcast");
    }
    ~Broadcast() { QRN_NET_SmartConfig_End(); }
    Broadcast(const Broadcast &) = delete;
    Broadcast &operator=(const Broadcast &) = delete;
};

int run(const Arguments &arguments)
{
    arguments.expect_operands(1, 2);
    const std::string &ssid = arguments.operands()[0];
    const char *password = arguments.operands().size() > 1 ? arguments.operands()[1].c_str() : nullptr;
    const int seconds = integer_option(arguments, "--seconds", 1, 3600, kDefaultSeconds);
    if (ssid.size() < kShortestFirstText)
        throw UsageError("the SSID must have at least " + std::to_string(kShortestFirstText) + " characters");
    catch_interrupt();

    Broadcast broadcast(ssid, password);
    std::cout << "broadcasting '" << ssid << "' for " << seconds << " s (Ctrl-C stops)" << std::endl;
    const bool completed = sleep_unless_interrupted(std::chrono::seconds(seconds));
    std::cout << (completed ? "done" : "stopped") << std::endl;
    return kExitSuccess;
}

}  // namespace

const Command &smartconfig_command()
{
    static const Command command{
        "smartconfig", "broadcasts network credentials to a module", kUsage, {{"--seconds", true}}, run};
    return command;
}

}  // namespace qrn
