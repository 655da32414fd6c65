#include "ml_module_main.h"

#include "ml_http_server.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace probesim {

namespace {

// Every line typed (Enter alone is enough) presses the capture key. Polls
// so that it ends with the program even when nobody types.
void press_key_from_terminal(MlHttpServer &server, const std::atomic<bool> &stopping)
{
    std::string line;
    while (!stopping) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, 200);
        if (ready <= 0)
            continue;
        char chunk[256];
        const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0)
            return;  // no terminal (or it closed): keys come by request only
        for (ssize_t i = 0; i < got; ++i)
            if (chunk[i] == '\n') {
                server.press_key();
                std::cout << "qrn-probe-sim: capture key pressed" << std::endl;
            }
    }
}

}  // namespace

int run_ml_module(const MlModuleOptions &options, const sigset_t &stop_signals)
{
    MlHttpServer server(options.device_type);
    server.set_fault(options.fault);
    server.set_video(options.width, options.height, options.fps);
    if (options.chaos)
        server.set_chaos(*options.chaos);
    const std::string endpoint = options.address + ":" + std::to_string(options.port);
    if (!server.start(options.address, options.port)) {
        std::cerr << "qrn-probe-sim: cannot listen on " << endpoint << "\n";
        return EXIT_FAILURE;
    }
    std::cout << "qrn-probe-sim: ml module (device type 0x" << std::hex << options.device_type << std::dec
              << ") streaming on http://" << endpoint << "/stream; press Enter to press the capture key" << std::endl;

    std::atomic<bool> stopping{false};
    std::thread terminal([&] { press_key_from_terminal(server, stopping); });
    int received = 0;
    sigwait(&stop_signals, &received);
    stopping = true;
    terminal.join();
    server.stop();
    if (options.chaos)
        std::cout << "qrn-probe-sim: chaos seed " << options.chaos->seed << ": " << server.chaos_summary() << std::endl;
    return EXIT_SUCCESS;
}

}  // namespace probesim
