// The peer-to-peer servers (coturn and mosquitto) of one test suite, started
// through scripts/p2p-servers.sh on the suite's own 127.10.x.y address.
#pragma once

#include <string>

namespace pppp_test {

class P2pServers {
public:
    // mode: direct, relay-only, relay-refusing or broker-silent.
    explicit P2pServers(const std::string &mode);
    ~P2pServers();
    P2pServers(const P2pServers &) = delete;
    P2pServers &operator=(const P2pServers &) = delete;

    bool running() const { return mRunning; }
    const std::string &address() const { return mAddress; }
    // The init string the script wrote for this mode.
    const std::string &init_string() const { return mInitString; }
    // UDP sockets the relay holds for allocations (its relay ports).
    int relay_ports_in_use() const;

private:
    std::string mAddress;
    std::string mDir;
    std::string mInitString;
    bool mRunning = false;
};

// This process's own address in 127.10.0.0/16: ctest runs each test in its
// own process, so the process id keeps parallel tests apart.
std::string own_address();
// An init string for servers that are not there (a port nothing listens on).
std::string init_string_nothing_listening();

}  // namespace pppp_test
