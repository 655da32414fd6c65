// qrn-probe-sim: runs one simulated probe until SIGINT or SIGTERM.
#include "probe_simulator.h"
#include "send_stamps.h"
#include "smartconfig_listener.h"
#include "fault.h"
#include "ml_module_main.h"
#include "p2p_init_strings.h"
#include "end_face_command.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr const char *kUsageHead =
    "usage: qrn-probe-sim [--kind qrn|ml] [--listen ADDR:PORT] [--access STRING]...\n"
    "                     [--fault NAME] [--chaos SEED[:RATE]] [--device-type N]\n"
    "                     [--format mjpeg|h264|yuyv] [--size WxH] [--fps N]\n"
    "                     [--strip-dht] [--drop-every N] [--fragment-size N]\n"
    "                     [--discovery] [--smartconfig-listen] [--stamps FILE]\n"
    "                     [--list-faults]\n"
    "                     [--device-id ID [--p2p CONFIG] [--relay-sessions N]]\n"
    "\n"
    "  --kind qrn|ml        the module's kind (default qrn); ml serves the second\n"
    "                       kind's Motion-JPEG stream and commands over HTTP\n"
    "  --listen ADDR:PORT   command address (default 127.0.0.1:34674; for\n"
    "                       --kind ml 127.0.0.2:80)\n"
    "  --access STRING      access string the login accepts; repeatable,\n"
    "                       none given accepts any login\n"
    "  --fault NAME         misbehaviour to simulate (a stream fault hits one\n"
    "                       frame in every 100; ml-... only with --kind ml;\n"
    "                       a chaos-... fault is the only one --chaos draws):\n";
constexpr const char *kUsageTail =
    "  --chaos SEED[:RATE]  seeded random faults (the chaos-... list) on every\n"
    "                       command answer and stream write, a write hit with\n"
    "                       chance RATE (default 0.01); the same seed hits the\n"
    "                       same writes of the same connections; the count of\n"
    "                       faults injected is printed at the end\n"
    "  --device-type N      --kind ml: the device type reported (default 0x1000)\n"
    "  --format NAME        video format at start (default mjpeg); a host can\n"
    "                       change it, and video flows only after it asks\n"
    "  --size WxH           frame size at start (default 1280x960), one the\n"
    "                       format offers\n"
    "  --fps N              frame rate at start (default 30)\n"
    "  --strip-dht          send Motion-JPEG frames without Huffman tables\n"
    "  --drop-every N       H.264: leave out every N-th frame\n"
    "  --fragment-size N    payload bytes per stream packet (default 32768)\n"
    "  --discovery          answer discovery requests on UDP 34673 of the\n"
    "                       listen address\n"
    "  --smartconfig-listen print the texts of SmartConfig broadcasts heard\n"
    "                       on UDP 10009 of the listen address\n"
    "  --device-id ID       also register under this device ID and serve the\n"
    "                       sessions hosts open to it (without --listen: only\n"
    "                       those); the ID is the one the device reports\n"
    "  --p2p CONFIG         the peer-to-peer configuration file (init_string_a\n"
    "                       .. init_string_d); the string of the ID's prefix\n"
    "                       names the broker and the relay (default: the file\n"
    "                       QRN_P2P_CONFIG names, else loopback)\n"
    "  --relay-sessions N   relay-first-sessions: how many sessions (default all)\n"
    "  --stamps FILE        write \"SEQUENCE NANOSECONDS\" to FILE as each video\n"
    "                       frame goes out (wall clock), for latency benchmarks\n"
    "  --list-faults        every fault with what it does, as a markdown list\n"
    "  --help               this text\n";

// The fault names wrapped into the --fault column of the usage text.
std::string usage()
{
    constexpr size_t kIndent = 23;
    constexpr size_t kWidth = 78;
    std::string text = kUsageHead;
    std::string line(kIndent, ' ');
    const auto &table = probesim::fault_table();
    for (size_t i = 0; i < table.size(); ++i) {
        const std::string word = std::string(table[i].name) + (i + 1 < table.size() ? "," : "");
        if (line.size() > kIndent && line.size() + 1 + word.size() > kWidth) {
            text += line + "\n";
            line.assign(kIndent, ' ');
        }
        line += (line.size() > kIndent ? " " : "") + word;
    }
    return text + line + "\n" + kUsageTail + probesim::kEndFaceUsage;
}

// A stream fault hits one frame and clears itself; the program sets it
// again after this many frames so that it keeps happening.
constexpr size_t kStreamFaultPeriod = 100;

struct Options {
    std::string address = "127.0.0.1";
    uint16_t port = 34674;
    bool listen_given = false;
    bool ml_kind = false;
    int32_t device_type = 0x1000;
    std::vector<std::string> access;
    probesim::Fault fault = probesim::Fault::None;
    std::optional<probesim::ChaosSettings> chaos;
    std::optional<uint32_t> format;
    std::optional<std::pair<uint16_t, uint16_t>> size;
    std::optional<uint32_t> fps;
    probesim::StreamOptions stream;
    bool discovery = false;
    bool smartconfig_listen = false;
    std::string device_id;
    std::string p2p_config;
    int relay_sessions = -1;
    std::string stamps;
    bool help = false;
    bool list_faults = false;
};

std::optional<uint32_t> parse_format(const std::string &name)
{
    if (name == "yuyv")
        return 1;
    if (name == "mjpeg")
        return 2;
    if (name == "h264")
        return 3;
    return std::nullopt;
}

// A decimal number from 1 to limit.
std::optional<uint32_t> parse_count(const std::string &text, uint32_t limit)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long number = std::stoul(text);
    if (number == 0 || number > limit)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

std::optional<std::pair<uint16_t, uint16_t>> parse_size(const std::string &text)
{
    const auto x = text.find('x');
    if (x == std::string::npos)
        return std::nullopt;
    const auto width = parse_count(text.substr(0, x), 65535);
    const auto height = parse_count(text.substr(x + 1), 65535);
    if (!width || !height)
        return std::nullopt;
    return std::make_pair(static_cast<uint16_t>(*width), static_cast<uint16_t>(*height));
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
    options.listen_given = true;
    return true;
}

// Parses the command line; on failure returns nothing and sets error.
std::optional<Options> parse(int argc, char **argv, std::string &error)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "--list-faults") {
            (arg == "--help" ? options.help : options.list_faults) = true;
            continue;
        }
        if (arg == "--strip-dht") {
            options.stream.strip_dht = true;
            continue;
        }
        if (arg == "--discovery" || arg == "--smartconfig-listen") {
            (arg == "--discovery" ? options.discovery : options.smartconfig_listen) = true;
            continue;
        }
        static const char *const kWithValue[] = {"--listen",     "--access",        "--fault",     "--format",
                                                 "--size",       "--fps",           "--kind",      "--device-type",
                                                 "--drop-every", "--fragment-size", "--device-id", "--p2p",
                                                 "--relay-sessions", "--chaos",     "--stamps"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        const std::string bad_value = "bad value '" + value + "' for " + arg;
        if (arg == "--listen") {
            if (!parse_listen(value, options)) {
                error = "--listen expects ADDR:PORT, got '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--kind") {
            if (value != "qrn" && value != "ml") {
                error = bad_value;
                return std::nullopt;
            }
            options.ml_kind = value == "ml";
        } else if (arg == "--device-type") {
            char *end = nullptr;
            const long long type = std::strtoll(value.c_str(), &end, 0);
            if (value.empty() || *end != '\0' || type < 0 || type > 0x7FFFFFFF) {
                error = bad_value;
                return std::nullopt;
            }
            options.device_type = static_cast<int32_t>(type);
        } else if (arg == "--stamps") {
            options.stamps = value;
        } else if (arg == "--access") {
            options.access.push_back(value);
        } else if (arg == "--device-id") {
            if (value.empty() || value.size() > 19) {
                error = bad_value;
                return std::nullopt;
            }
            options.device_id = value;
        } else if (arg == "--p2p") {
            options.p2p_config = value;
        } else if (arg == "--fault") {
            const auto fault = probesim::fault_named(value);
            if (!fault) {
                error = "unknown fault '" + value + "'";
                return std::nullopt;
            }
            options.fault = *fault;
        } else if (arg == "--chaos") {
            if (!(options.chaos = probesim::parse_chaos(value))) {
                error = "--chaos expects SEED[:RATE] (RATE from 0 to 1), got '" + value + "'";
                return std::nullopt;
            }
        } else if (arg == "--format") {
            if (!(options.format = parse_format(value))) {
                error = bad_value;
                return std::nullopt;
            }
        } else if (arg == "--size") {
            if (!(options.size = parse_size(value))) {
                error = "--size expects WxH, got '" + value + "'";
                return std::nullopt;
            }
        } else {
            const auto number = parse_count(value, arg == "--fps" ? 1000 : 1u << 24);
            if (!number) {
                error = bad_value;
                return std::nullopt;
            }
            if (arg == "--fps")
                options.fps = *number;
            else if (arg == "--relay-sessions")
                options.relay_sessions = static_cast<int>(*number);
            else if (arg == "--drop-every")
                options.stream.drop_every = *number;
            else
                options.stream.fragment_size = *number;
        }
    }
    if (probesim::is_chaos_fault(options.fault)) {
        // A chaos fault alone: the only one drawn, at --chaos's seed and rate.
        if (!options.chaos)
            options.chaos = probesim::ChaosSettings();
        options.chaos->faults = {options.fault};
        options.fault = probesim::Fault::None;
    }
    if (probesim::is_ml_fault(options.fault) != options.ml_kind && options.fault != probesim::Fault::None) {
        error = "this fault belongs to the other --kind";
        return std::nullopt;
    }
    return options;
}

// The second kind takes only the options that mean something to it.
probesim::MlModuleOptions ml_options(const Options &options)
{
    probesim::MlModuleOptions ml;
    if (options.listen_given) {
        ml.address = options.address;
        ml.port = options.port;
    }
    ml.device_type = options.device_type;
    ml.fault = options.fault;
    if (options.size) {
        ml.width = options.size->first;
        ml.height = options.size->second;
    }
    ml.fps = options.fps.value_or(ml.fps);
    ml.chaos = options.chaos;
    return ml;
}

uint32_t word_at(const std::array<uint8_t, 736> &block, size_t offset)
{
    return static_cast<uint32_t>(block[offset]) | static_cast<uint32_t>(block[offset + 1]) << 8 |
           static_cast<uint32_t>(block[offset + 2]) << 16 | static_cast<uint32_t>(block[offset + 3]) << 24;
}

// Sets what the command line asked for, as a host would, and says so when
// the device does not offer it.
bool apply_video_settings(probesim::ProbeSimulator &simulator, const Options &options)
{
    if (!options.format && !options.size && !options.fps)
        return true;
    auto block = simulator.video_info_block();
    const uint32_t format = options.format.value_or(word_at(block, 720));
    const uint32_t code = word_at(block, 724);
    const auto size =
        options.size.value_or(std::make_pair(static_cast<uint16_t>(code >> 16), static_cast<uint16_t>(code & 0xFFFF)));
    const uint32_t fps = options.fps.value_or(word_at(block, 728));
    simulator.set_video_format(format, size.first, size.second, fps);
    // What was not given may change with the format: its sizes and rates differ.
    block = simulator.video_info_block();
    const bool applied =
        (!options.format || word_at(block, 720) == format) &&
        (!options.size || word_at(block, 724) == (static_cast<uint32_t>(size.first) << 16 | size.second)) &&
        (!options.fps || word_at(block, 728) == fps);
    if (!applied)
        std::cerr << "qrn-probe-sim: the device does not offer format " << format << " at " << size.first << "x"
                  << size.second << ", " << fps << " frames a second\n";
    return applied;
}

void rearm_stream_fault(probesim::ProbeSimulator &simulator, probesim::Fault fault, const std::atomic<bool> &stopping)
{
    size_t next = kStreamFaultPeriod;
    while (!stopping) {
        const auto sent_enough = [next](const probesim::SimulatorState &s) { return s.video_frames_sent >= next; };
        if (!simulator.wait_until(sent_enough, std::chrono::milliseconds(200)))
            continue;
        simulator.set_fault(fault);
        next = simulator.state().video_frames_sent + kStreamFaultPeriod;
    }
}

void print_smartconfig_texts(const probesim::SmartConfigListener &listener, const std::atomic<bool> &stopping)
{
    size_t printed = 0;
    while (!stopping) {
        if (!listener.wait_for_decoded(printed + 1, std::chrono::milliseconds(200)))
            continue;
        const auto decoded = listener.decoded();
        for (; printed < decoded.size(); ++printed)
            std::cout << "qrn-probe-sim: smartconfig first '" << decoded[printed].first << "' second '"
                      << decoded[printed].second << "'" << std::endl;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (probesim::is_end_face_command(argc, argv))
        return probesim::run_end_face_command(argc, argv);
    std::string error;
    const std::optional<Options> options = parse(argc, argv, error);
    if (!options) {
        std::cerr << "qrn-probe-sim: " << error << "\n" << usage();
        return EXIT_FAILURE;
    }
    if (options->help) {
        std::cout << usage();
        return EXIT_SUCCESS;
    }
    if (options->list_faults) {
        std::cout << probesim::fault_list_markdown();
        return EXIT_SUCCESS;
    }

    // Block the stop signals before any thread exists so that every thread
    // inherits the mask and only sigwait() below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    if (options->ml_kind)
        return probesim::run_ml_module(ml_options(*options), stop_signals);

    if (!options->stamps.empty() && !probesim::open_send_stamps(options->stamps)) {
        std::cerr << "qrn-probe-sim: cannot write " << options->stamps << "\n";
        return EXIT_FAILURE;
    }
    probesim::DeviceModel model;
    model.access_strings = options->access;
    const bool by_id = !options->device_id.empty();
    if (by_id)
        model.id = options->device_id;
    probesim::ProbeSimulator simulator(model);
    simulator.set_relay_sessions(options->relay_sessions);
    simulator.set_fault(options->fault);
    if (options->chaos)
        simulator.set_chaos(*options->chaos);
    simulator.set_stream_options(options->stream);
    if (!apply_video_settings(simulator, *options))
        return EXIT_FAILURE;
    const std::string endpoint = options->address + ":" + std::to_string(options->port);
    if ((!by_id || options->listen_given) && !simulator.start(options->address, options->port)) {
        std::cerr << "qrn-probe-sim: cannot listen on " << endpoint << "\n";
        return EXIT_FAILURE;
    }
    if (by_id) {
        const auto strings = options->p2p_config.empty() ? load_p2p_init_strings()
                                                         : load_p2p_init_strings(options->p2p_config.c_str());
        const std::string &init_string = strings[static_cast<size_t>(p2p_init_string_row(options->device_id.c_str()))];
        if (!simulator.start_p2p(options->device_id, init_string)) {
            std::cerr << "qrn-probe-sim: cannot register " << options->device_id << " with the P2P servers\n";
            return EXIT_FAILURE;
        }
        std::cout << "qrn-probe-sim: registered as " << options->device_id << std::endl;
    }
    // Discovery answers with the same identity the commands report.
    probesim::DiscoveryModel identity;
    const probesim::DeviceModel started = simulator.state().model;
    identity.id = started.device_id;
    identity.alias = started.alias;
    if (options->discovery && !simulator.start_discovery(identity)) {
        std::cerr << "qrn-probe-sim: cannot answer discovery on " << options->address << ":" << probesim::kDiscoveryPort
                  << "\n";
        return EXIT_FAILURE;
    }
    if (!by_id || options->listen_given)
        std::cout << "qrn-probe-sim: listening on " << endpoint << std::endl;
    probesim::SmartConfigListener smartconfig;
    if (options->smartconfig_listen && !smartconfig.start(options->address)) {
        std::cerr << "qrn-probe-sim: cannot listen for SmartConfig on " << options->address << ":"
                  << probesim::kSmartConfigPort << "\n";
        return EXIT_FAILURE;
    }

    std::atomic<bool> stopping{false};
    std::thread rearm;
    if (probesim::is_stream_fault(options->fault))
        rearm = std::thread([&] { rearm_stream_fault(simulator, options->fault, stopping); });

    std::thread smartconfig_printer;
    if (options->smartconfig_listen)
        smartconfig_printer = std::thread([&] { print_smartconfig_texts(smartconfig, stopping); });

    int received = 0;
    sigwait(&stop_signals, &received);
    stopping = true;
    if (rearm.joinable())
        rearm.join();
    if (smartconfig_printer.joinable())
        smartconfig_printer.join();
    simulator.stop();
    if (options->chaos)
        std::cout << "qrn-probe-sim: chaos seed " << options->chaos->seed << ": " << simulator.chaos_summary()
                  << std::endl;
    return EXIT_SUCCESS;
}
