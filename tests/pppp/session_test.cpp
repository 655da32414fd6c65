// Sessions of the peer-to-peer layer against real servers: a device
// registered in this process, a host connecting to it by ID.
#include "PPPP_API.h"
#include "PPPP_Device.h"
#include "p2p_servers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

using namespace std::chrono;
using pppp_test::P2pServers;

namespace {

// A registered device and one host session to it.
struct Pair {
    int listener = -1;
    int host = -1;
    int device = -1;
};

std::vector<uint8_t> pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

class P2pDirect : public ::testing::Test {
protected:
    static void SetUpTestSuite() { servers = new P2pServers("direct"); }
    static void TearDownTestSuite()
    {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(servers->running());
        ASSERT_EQ(PPPP_Initialize(servers->init_string().c_str()), 0);
    }
    void TearDown() override { PPPP_DeInitialize(); }

    // Connects a host to a freshly registered device and accepts on it.
    Pair open_pair(const char *id)
    {
        Pair pair;
        pair.listener = PPPP_Device_Register(id, servers->init_string().c_str());
        EXPECT_GE(pair.listener, 0);
        std::thread accepter([&] { pair.device = PPPP_Device_Accept(pair.listener, 15000); });
        pair.host = PPPP_ConnectByServer(id, 1, 0, servers->init_string().c_str());
        accepter.join();
        EXPECT_GE(pair.host, 0);
        EXPECT_GE(pair.device, 0);
        return pair;
    }

    static P2pServers *servers;
};
P2pServers *P2pDirect::servers = nullptr;

TEST_F(P2pDirect, BytesFlowBothWaysOnBothChannels)
{
    Pair pair = open_pair("SQRN-000001-AAAAA");
    ASSERT_GE(pair.host, 0);
    ASSERT_GE(pair.device, 0);
    for (int channel : {1, 2}) {
        auto down = pattern(300000, uint8_t(channel));
        auto up = pattern(70000, uint8_t(channel + 100));
        std::thread writer([&] { EXPECT_EQ(PPPP_Write(pair.device, channel, down.data(), int(down.size())), int(down.size())); });
        EXPECT_EQ(PPPP_Write(pair.host, channel, up.data(), int(up.size())), int(up.size()));
        std::vector<uint8_t> got(down.size());
        int size = int(got.size());
        EXPECT_EQ(PPPP_Read(pair.host, channel, got.data(), &size, 10000), 0);
        EXPECT_EQ(size, int(down.size()));
        EXPECT_EQ(got, down);
        std::vector<uint8_t> got_up(up.size());
        size = int(got_up.size());
        EXPECT_EQ(PPPP_Read(pair.device, channel, got_up.data(), &size, 10000), 0);
        EXPECT_EQ(got_up, up);
        writer.join();
    }
    unsigned char info[128];
    EXPECT_EQ(PPPP_Check(pair.host, info), 0);
    EXPECT_EQ(info[81], 0);
    EXPECT_EQ(PPPP_Check(pair.device, info), 0);
    EXPECT_EQ(info[81], 0);
    EXPECT_EQ(PPPP_Close(pair.host), 0);
    EXPECT_EQ(PPPP_Close(pair.device), 0);
    EXPECT_EQ(PPPP_Device_Unregister(pair.listener), 0);
}

}  // namespace
