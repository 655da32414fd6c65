// qrn-probe-sim: runs one simulated probe until SIGINT or SIGTERM.
#include "probe_simulator.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: qrn-probe-sim [--listen ADDR:PORT] [--access STRING]... [--fault NAME]\n"
    "\n"
    "  --listen ADDR:PORT  command address (default 127.0.0.1:34674)\n"
    "  --access STRING     access string the login accepts; repeatable,\n"
    "                      none given accepts any login\n"
    "  --fault NAME        misbehaviour to simulate: none, refuse-login,\n"
    "                      answer-late, wrong-magic, wrong-code, wrong-token,\n"
    "                      nonzero-status, close-mid-response, login-no-payload,\n"
    "                      login-short-payload\n"
    "  --help              this text\n";

struct Options {
    std::string address = "127.0.0.1";
    uint16_t port = 34674;
    std::vector<std::string> access;
    probesim::Fault fault = probesim::Fault::None;
    bool help = false;
};

std::optional<probesim::Fault> parse_fault(const std::string &name)
{
    using probesim::Fault;
    static const std::pair<const char *, Fault> kNames[] = {
        {"none", Fault::None},
        {"refuse-login", Fault::RefuseLogin},
        {"answer-late", Fault::AnswerLate},
        {"wrong-magic", Fault::WrongMagic},
        {"wrong-code", Fault::WrongCode},
        {"wrong-token", Fault::WrongToken},
        {"nonzero-status", Fault::NonzeroStatus},
        {"close-mid-response", Fault::CloseMidResponse},
        {"login-no-payload", Fault::LoginNoPayload},
        {"login-short-payload", Fault::LoginShortPayload},
    };
    for (const auto &[text, fault] : kNames)
        if (name == text)
            return fault;
    return std::nullopt;
}

bool parse_listen(const std::string &value, Options &options)
{
    const auto colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
        return false;
    const std::string port = value.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5)
        return false;
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535)
        return false;
    const std::string address = value.substr(0, colon);
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    options.address = address;
    options.port = static_cast<uint16_t>(number);
    return true;
}

// Parses the command line; on failure returns nothing and sets error.
std::optional<Options> parse(int argc, char **argv, std::string &error)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg != "--listen" && arg != "--access" && arg != "--fault") {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (arg == "--listen") {
            if (!parse_listen(value, options)) {
                error = "--listen expects ADDR:PORT, got '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--access") {
            options.access.push_back(value);
        } else {
            const auto fault = parse_fault(value);
            if (!fault) {
                error = "unknown fault '" + value + "'";
                return std::nullopt;
            }
            options.fault = *fault;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string error;
    const std::optional<Options> options = parse(argc, argv, error);
    if (!options) {
        std::cerr << "qrn-probe-sim: " << error << "\n" << kUsage;
        return EXIT_FAILURE;
    }
    if (options->help) {
        std::cout << kUsage;
        return EXIT_SUCCESS;
    }

    // Block the stop signals before any thread exists so that every thread
    // inherits the mask and only sigwait() below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    probesim::DeviceModel model;
    model.access_strings = options->access;
    probesim::ProbeSimulator simulator(model);
    simulator.set_fault(options->fault);
    const std::string endpoint = options->address + ":" + std::to_string(options->port);
    if (!simulator.start(options->address, options->port)) {
        std::cerr << "qrn-probe-sim: cannot listen on " << endpoint << "\n";
        return EXIT_FAILURE;
    }
    std::cout << "qrn-probe-sim: listening on " << endpoint << std::endl;

    int received = 0;
    sigwait(&stop_signals, &received);
    simulator.stop();
    return EXIT_SUCCESS;
}
