// qrn scan: the modules that answer discovery on the local networks.
#include "commands.h"
#include "failures.h"
#include "fixed_text.h"
#include "interrupt.h"
#include "qrn_net.h"

#include <chrono>
#include <iomanip>
#include <iostream>
#include <string>
#include <unistd.h>

namespace qrn {

namespace {

const std::string kUsage = std::string(
                               "usage: qrn scan [--once] [--interval S]\n"
                               "\n"
                               "Asks the local networks for modules every S seconds and shows the ones\n"
                               "that answer, refreshed until Ctrl-C. QRN_BCAST_ADDRS, a comma list of\n"
                               "addresses, replaces the broadcast addresses asked.\n"
                               "\n"
                               "  --once             wait two intervals, print the table once and end\n"
                               "  --interval S       seconds between requests, 1 to 3600 (default 1)\n") +
                           kHelpOptionHelp;

// Stops the process-wide scanner however the command ends.
class Scanner {
public:
    explicit Scanner(int interval_seconds)
    {
        check_result(QRN_NET_ScanDevice_Init(interval_seconds), "cannot start the scanner");
    }
    ~Scanner() { QRN_NET_ScanDevice_UnInit(); }
    Scanner(const Scanner &) = delete;
    Scanner &operator=(const Scanner &) = delete;
};

void print_table(const ScanDeviceInfo *devices, int count)
{
    std::cout << std::left << std::setw(12) << "ID" << std::setw(21) << "alias"
              << "address\n";
    for (int i = 0; i < count; ++i)
        std::cout << std::setw(12) << devices[i].id << std::setw(21) << fixed_text(devices[i].alias)
                  << fixed_text(devices[i].address) << "\n";
    if (count == 0)
        std::cout << "(no modules found)\n";
    std::cout << std::flush;
}

void show_devices(bool redraw)
{
    ScanDeviceInfo devices[QRN_SCAN_MAX_DEVICES] = {};
    int count = 0;
    check_result(QRN_NET_Scan_GetDeviceInfo(devices, &count), "cannot read the scanner's table");
    if (redraw)
        std::cout << "\033[H\033[J";  // home, clear to the end of the screen
    print_table(devices, count);
}

int run(const Arguments &arguments)
{
    arguments.expect_operands(0, 0);
    const int interval = integer_option(arguments, "--interval", 1, 3600, 1);
    const std::chrono::milliseconds period(interval * 1000);
    catch_interrupt();

    Scanner scanner(interval);
    if (arguments.has("--once")) {
        // Answers to the first request, and to the one an interval later.
        if (sleep_unless_interrupted(2 * period + std::chrono::milliseconds(500)))
            show_devices(false);
        return kExitSuccess;
    }
    const bool redraw = isatty(STDOUT_FILENO) == 1;
    while (sleep_unless_interrupted(period)) {
        show_devices(redraw);
        if (!redraw)
            std::cout << "\n";
    }
    return kExitSuccess;
}

}  // namespace

const Command &scan_command()
{
    static const Command command{"scan",
                                 "lists the modules that answer on the local networks",
                                 kUsage,
                                 {{"--once", false}, {"--interval", true}},
                                 run};
    return command;
}

}  // namespace qrn
