// Session slots, connect and teardown against a simulated probe.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "probe_wire.h"
#include "test_support.h"

using namespace testing_support;
using probesim::Fault;
using probesim::wire::kLogin;
using probesim::wire::kLogout;

namespace {

constexpr int kHandleBase = 0x20130805;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { running = start_sim(); }
    void TearDown() override
    {
        for (int handle : handles)
            EXPECT_TRUE(disconnect_and_wait(handle));
    }
    int connect()
    {
        int handle = 0;
        const int result = QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr);
        if (result == 0)
            handles.push_back(handle);
        return result == 0 ? handle : result;
    }
    void disconnect(int handle)
    {
        ASSERT_TRUE(disconnect_and_wait(handle));
        handles.erase(std::find(handles.begin(), handles.end(), handle));
    }
    RunningSim running;
    std::vector<int> handles;
};

TEST_F(SessionTest, ConnectLogsInAndDeviceConnectsBack)
{
    const int handle = connect();
    ASSERT_GE(handle, kHandleBase);
    ASSERT_LE(handle, kHandleBase + 15);
    int mode = 0;
    EXPECT_EQ(QRN_NET_GetTransMode(handle, &mode), 0);
    EXPECT_EQ(mode, TRANS_LAN);
    EXPECT_TRUE(running.sim->wait_until([&](const auto &s) { return s.stream_connections_made >= 1; },
                                        std::chrono::seconds(5)));
    const auto packets = running.sim->packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].code, kLogin);
    EXPECT_EQ(packets[0].token, 0u);
    EXPECT_EQ(packets[0].declared_length, 0u) << "an empty access string sends a bare header";
    EXPECT_EQ(QRN_NET_GetVersion(handle), static_cast<int>(running.sim->state().model.protocol_version));
}

TEST_F(SessionTest, LoginPayloadCarriesAccessStringSystemAndUser)
{
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDeviceUser(&handle, running.address.c_str(), 0, "tech", "secret"), 0);
    handles.push_back(handle);
    const auto login = running.sim->packets().at(0);
    ASSERT_EQ(login.payload.size(), 308u);
    EXPECT_STREQ(reinterpret_cast<const char *>(login.payload.data()), "secret");
    EXPECT_STREQ(reinterpret_cast<const char *>(login.payload.data() + 32), "Windows");
    EXPECT_STREQ(reinterpret_cast<const char *>(login.payload.data() + 44), "tech");
    char encrypt[40];
    EXPECT_EQ(QRN_NET_GetEncrypt(handle, encrypt), 0);
    EXPECT_STREQ(encrypt, "secret");
}

TEST_F(SessionTest, SeventeenthConnectFindsNoSlot)
{
    for (int i = 0; i < 16; ++i)
        ASSERT_GE(connect(), kHandleBase) << "connect " << i;
    int handle = 0;
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), QRN_ERR_NO_SLOT);
    int mode = 0;
    for (int h : handles)
        EXPECT_EQ(QRN_NET_GetTransMode(h, &mode), 0) << "the 16 sessions stay untouched";
}

// Earlier tests leave the search hint anywhere, so fill every slot first.
TEST_F(SessionTest, SlotSearchResumesAfterLastReleased)
{
    for (int i = 0; i < 16; ++i)
        ASSERT_GE(connect(), kHandleBase);
    for (int slot : {10, 3, 5})
        disconnect(kHandleBase + slot);
    EXPECT_EQ(connect(), kHandleBase + 10) << "a free slot after the last released one comes first";
    EXPECT_EQ(connect(), kHandleBase + 3) << "then the search wraps to slot 0";
    EXPECT_EQ(connect(), kHandleBase + 5);
    disconnect(kHandleBase + 5);
    EXPECT_EQ(connect(), kHandleBase + 5) << "with all others in use the released slot is taken again";
}

TEST_F(SessionTest, DisconnectReturnsAtOnceForAnyHandle)
{
    for (int handle : {0, -1, kHandleBase - 1, kHandleBase + 16, kHandleBase + 7})
        EXPECT_EQ(QRN_NET_Disconnect(handle), 0) << handle;
    const int handle = connect();
    ASSERT_GE(handle, kHandleBase);
    EXPECT_EQ(QRN_NET_Disconnect(handle), 0);
    EXPECT_TRUE(wait_released(handle));
    handles.clear();
    EXPECT_TRUE(running.sim->wait_until([&](const auto &s) { return s.packets_logged >= 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(running.sim->packets().back().code, kLogout) << "teardown logs out";
}

TEST_F(SessionTest, WaitDisconnectedReturnsOnceTheSlotIsFree)
{
    EXPECT_EQ(QRN_NET_WaitDisconnected(kHandleBase - 1, 0), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_WaitDisconnected(kHandleBase + 16, 0), QRN_ERR_INVALID_HANDLE);
    const int handle = connect();
    ASSERT_GE(handle, kHandleBase);
    EXPECT_EQ(QRN_NET_WaitDisconnected(handle, 0), QRN_OK) << "no teardown under way";

    // A command the module answers late holds the command lock, so the
    // teardown cannot log out before the answer's time-out.
    running.sim->set_fault(Fault::AnswerLate);
    running.sim->clear_packets();
    std::thread busy([handle] {
        char company[QRN_NET_COMPANY_SIZE];
        QRN_NET_GetCompany(handle, company);
    });
    ASSERT_TRUE(running.sim->wait_until([](const auto &s) { return s.packets_logged >= 1; }, std::chrono::seconds(5)))
        << "the late command arrived";
    handles.clear();
    EXPECT_EQ(QRN_NET_Disconnect(handle), 0);
    EXPECT_EQ(QRN_NET_WaitDisconnected(handle, 100), QRN_ERR_TIMEOUT);
    int mode = 0;
    EXPECT_EQ(QRN_NET_GetTransMode(handle, &mode), QRN_OK) << "still torn down";
    EXPECT_EQ(QRN_NET_WaitDisconnected(handle, 15000), QRN_OK);
    EXPECT_EQ(QRN_NET_GetTransMode(handle, &mode), QRN_ERR_INVALID_HANDLE) << "the slot was freed before the return";
    busy.join();
}

TEST_F(SessionTest, DisconnectTwiceTearsDownOnce)
{
    const int handle = connect();
    ASSERT_GE(handle, kHandleBase);
    handles.clear();
    running.sim->clear_packets();
    EXPECT_EQ(QRN_NET_Disconnect(handle), 0);
    EXPECT_EQ(QRN_NET_Disconnect(handle), 0);
    ASSERT_TRUE(wait_released(handle));

    // A stale handle must not end the session that takes the slot next.
    const int next = connect();
    ASSERT_GE(next, kHandleBase);
    QRN_NET_Disconnect(handle);
    char company[QRN_NET_COMPANY_SIZE];
    EXPECT_EQ(QRN_NET_GetCompany(next, company), 0);
    // The logout is not answered, so the teardown ends once it is written;
    // the simulator serves each command connection on its own thread and
    // may log it after the next session's login and request.
    ASSERT_TRUE(running.sim->wait_until([](const auto &s) { return s.packets_logged >= 3; }, std::chrono::seconds(5)))
        << "the logout, the next login and its request arrived";
    size_t logouts = 0;
    for (const auto &packet : running.sim->packets())
        logouts += packet.code == kLogout;
    EXPECT_EQ(logouts, 1u);
}

}  // namespace
