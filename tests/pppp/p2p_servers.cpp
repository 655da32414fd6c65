#include "p2p_servers.h"

#include "init_string.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace pppp_test {
namespace {

constexpr int kRelayPortMin = 49152;
constexpr int kRelayPortMax = 49407;

std::string run(const std::string &command)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    pclose(pipe);
    return output;
}

}  // namespace

std::string own_address()
{
    const unsigned pid = static_cast<unsigned>(getpid());
    return "127.10." + std::to_string(pid / 250 % 250) + "." + std::to_string(1 + pid % 250);
}

std::string init_string_nothing_listening()
{
    pppp::InitConfig config;
    config.broker_host = own_address();
    config.broker_port = 9;
    config.relay_host = own_address();
    config.relay_port = 9;
    std::string letters;
    pppp::encode_init_string(config, &letters);
    return letters;
}

P2pServers::P2pServers(const std::string &mode) : mAddress(own_address())
{
    char pattern[] = "/tmp/pppp-servers-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    mDir = pattern;
    std::string command = std::string("bash ") + P2P_SERVERS_SCRIPT + " start " + mDir + " --address " + mAddress +
                          " --mode " + mode + " --relay-ports " + std::to_string(kRelayPortMin) + "-" +
                          std::to_string(kRelayPortMax);
    if (std::system(command.c_str()) != 0)
        return;
    std::ifstream conf(mDir + "/p2p.conf");
    std::string line;
    while (std::getline(conf, line))
        if (line.rfind("init_string_a=", 0) == 0)
            mInitString = line.substr(14);
    mRunning = !mInitString.empty();
}

P2pServers::~P2pServers()
{
    if (mDir.empty())
        return;
    std::system((std::string("bash ") + P2P_SERVERS_SCRIPT + " stop " + mDir).c_str());
    std::system(("rm -rf " + mDir).c_str());
}

int P2pServers::relay_ports_in_use() const
{
    // Only the relay's sockets: the peers' own sockets use this address too.
    std::string output = run("ss -Huanp 'src " + mAddress + "' 2>/dev/null");
    int count = 0;
    size_t start = 0;
    const std::string local = mAddress + ":";
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        size_t pos = line.find(local);
        if (pos == std::string::npos || line.find("\"turnserver\"") == std::string::npos)
            continue;
        int port = std::atoi(line.c_str() + pos + local.size());
        if (port >= kRelayPortMin && port <= kRelayPortMax)
            ++count;
    }
    return count;
}

}  // namespace pppp_test
