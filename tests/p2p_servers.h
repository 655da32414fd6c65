// The broker and the relay of the peer-to-peer tests, started by the
// project's servers script on an address of this test process's own, and
// a simulated probe registered under a device ID with them.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "probe_simulator.h"
#include "p2p_init_strings.h"
#include "qrn_net.h"
#include "test_support.h"

namespace testing_support {

// 127.11.x.y, from the process id: ctest runs each test in its own process.
inline std::string p2p_test_address()
{
    const unsigned pid = static_cast<unsigned>(getpid());
    return "127.11." + std::to_string(pid / 250 % 250) + "." + std::to_string(1 + pid % 250);
}

inline std::string read_text(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class P2pServers {
public:
    // mode: direct, relay-only, relay-refusing or broker-silent.
    explicit P2pServers(const std::string &mode = "direct") : address_(p2p_test_address()), mode_(mode)
    {
        char pattern[] = "/tmp/qrn-p2p-test-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir_ = pattern;
        started_ = start();
        setenv("QRN_P2P_CONFIG", config().c_str(), 1);
    }
    ~P2pServers()
    {
        unsetenv("QRN_P2P_CONFIG");
        if (dir_.empty())
            return;
        stop();
        const std::string remove = "rm -rf " + dir_;
        if (std::system(remove.c_str()) != 0)
            std::fprintf(stderr, "%s was not removed\n", dir_.c_str());
    }
    P2pServers(const P2pServers &) = delete;
    P2pServers &operator=(const P2pServers &) = delete;

    bool started() const { return started_; }
    // Both servers go down and come back on the same address and ports, as
    // in a deployment's restart: sessions through them are cut.
    bool restart()
    {
        stop();
        started_ = start();
        return started_;
    }
    std::string config() const { return dir_ + "/p2p.conf"; }
    const std::string &dir() const { return dir_; }
    const std::string &address() const { return address_; }
    // String A from the configuration file, for IDs of the prefix "SQRN"
    // (without the SDK's own reader, for programs that link only its
    // shared library).
    std::string init_string_a() const
    {
        std::ifstream file(config());
        std::string line;
        const std::string key = "init_string_a=";
        while (std::getline(file, line))
            if (line.rfind(key, 0) == 0)
                return line.substr(key.size());
        return std::string();
    }
    // The init string a device of this ID uses with these servers.
    std::string init_string_for(const std::string &device_id) const
    {
        return load_p2p_init_strings(config().c_str())[static_cast<size_t>(p2p_init_string_row(device_id.c_str()))];
    }
    // The process id the script recorded for a server ("turnserver", "mosquitto").
    pid_t pid_of(const std::string &name) const
    {
        std::ifstream pids(dir_ + "/pids");
        std::string line;
        while (std::getline(pids, line))
            if (line.find(name) != std::string::npos)
                return static_cast<pid_t>(std::atoi(line.c_str()));
        return -1;
    }

private:
    bool start()
    {
        const std::string command = std::string("bash ") + QRN_P2P_SERVERS_SCRIPT + " start " + dir_ + " --address " +
                                    address_ + " --mode " + mode_ + " >" + dir_ + "/start.log 2>&1";
        if (std::system(command.c_str()) == 0)
            return true;
        std::fprintf(stderr, "p2p servers did not start:\n%s\n", read_text(dir_ + "/start.log").c_str());
        return false;
    }
    void stop()
    {
        const std::string stop = std::string("bash ") + QRN_P2P_SERVERS_SCRIPT + " stop " + dir_ + " >/dev/null 2>&1";
        if (std::system(stop.c_str()) != 0)
            std::fprintf(stderr, "p2p servers in %s did not stop cleanly\n", dir_.c_str());
    }

    std::string address_;
    std::string mode_;
    std::string dir_;
    bool started_ = false;
};

// A probe reachable only by its device ID.
struct P2pProbe {
    explicit P2pProbe(const P2pServers &servers, const std::string &device_id = "SQRN123456ABCDE",
                      probesim::DeviceModel model = probesim::DeviceModel())
        : id(device_id)
    {
        model.id = device_id;
        sim = std::make_unique<probesim::ProbeSimulator>(model);
        registered = sim->start_p2p(device_id, servers.init_string_for(device_id));
    }
    std::string id;
    std::unique_ptr<probesim::ProbeSimulator> sim;
    bool registered = false;
};

}  // namespace testing_support
