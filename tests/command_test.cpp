// The command exchange and session-level commands against a simulated probe.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe_wire.h"
#include "test_support.h"

using namespace testing_support;
using probesim::Fault;
using probesim::wire::kGetCompany;
using probesim::wire::kSetEncrypt;

namespace {

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        running = start_sim();
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
        running.sim->clear_packets();
    }
    void TearDown() override { EXPECT_TRUE(disconnect_and_wait(handle)); }
    RunningSim running;
    int handle = 0;
};

TEST_F(CommandTest, GetCompanyReturnsTheDeviceName)
{
    char company[QRN_NET_COMPANY_SIZE];
    ASSERT_EQ(QRN_NET_GetCompany(handle, company), 0);
    EXPECT_EQ(std::string(company), running.sim->state().model.company);
    const auto packets = running.sim->packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kGetCompany);
    EXPECT_EQ(packets[0].token, running.sim->state().model.token) << "every later packet carries the token";
}

TEST_F(CommandTest, SetEncryptSendsStringWithTerminator)
{
    const std::string longest(64, 'k');
    ASSERT_EQ(QRN_NET_SetEncrypt(handle, longest.c_str()), 0);
    const auto packets = running.sim->packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kSetEncrypt);
    EXPECT_EQ(packets[0].payload.size(), 65u);
    EXPECT_EQ(packets[0].payload.back(), 0);

    ASSERT_EQ(QRN_NET_SetEncrypt(handle, "fresh"), 0);
    char stored[40];
    ASSERT_EQ(QRN_NET_GetEncrypt(handle, stored), 0);
    EXPECT_STREQ(stored, "fresh");
}

TEST_F(CommandTest, SetEncryptRefusesBadStringsBeforeSending)
{
    const std::string too_long(65, 'k');
    for (const char *text : {static_cast<const char *>(nullptr), "", too_long.c_str()}) {
        EXPECT_EQ(QRN_NET_SetEncrypt(handle, text), QRN_ERR_BAD_STRING);
        EXPECT_EQ(QRN_NET_SetEncrypt(0x1234, text), QRN_ERR_BAD_STRING) << "checked before the handle";
    }
    EXPECT_TRUE(running.sim->packets().empty());
}

TEST_F(CommandTest, CustomBlockRoundTrips)
{
    uint8_t block[256];
    for (int i = 0; i < 256; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(QRN_NET_SetCustom(handle, block), 0);
    uint8_t answer[256] = {};
    ASSERT_EQ(QRN_NET_GetCustom(handle, answer), 0);
    EXPECT_EQ(std::memcmp(block, answer, sizeof block), 0);
}

TEST_F(CommandTest, BcastEchoPasswordIsLittleEndian)
{
    ASSERT_EQ(QRN_NET_SetBcastEchoPasswd(handle, 0x11223344), 0);
    const auto packets = running.sim->packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].payload, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
}

struct FaultCase {
    Fault fault;
    int expected;
};

void PrintTo(const FaultCase &c, std::ostream *out)
{
    *out << "fault " << static_cast<int>(c.fault) << " gives " << c.expected;
}

class CommandFaultTest : public CommandTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CommandFaultTest, BadAnswerGivesItsCodeAndLeavesBufferAlone)
{
    running.sim->set_fault(GetParam().fault);
    char company[QRN_NET_COMPANY_SIZE];
    std::memset(company, 'x', sizeof company);
    EXPECT_EQ(QRN_NET_GetCompany(handle, company), GetParam().expected);
    EXPECT_EQ(company[0], 'x');
    running.sim->set_fault(Fault::None);
    EXPECT_EQ(QRN_NET_GetCompany(handle, company), 0) << "the session survives a bad answer";
}

INSTANTIATE_TEST_SUITE_P(Faults, CommandFaultTest,
                         ::testing::Values(FaultCase{Fault::WrongMagic, QRN_ERR_MALFORMED},
                                           FaultCase{Fault::WrongCode, QRN_ERR_MALFORMED},
                                           FaultCase{Fault::WrongToken, QRN_ERR_OTHER_SESSION},
                                           FaultCase{Fault::NonzeroStatus, QRN_ERR_FAILED},
                                           FaultCase{Fault::CloseMidResponse, QRN_ERR_IO}));

TEST_F(CommandTest, LateAnswerTimesOut)
{
    running.sim->set_fault(Fault::AnswerLate);
    char company[QRN_NET_COMPANY_SIZE];
    EXPECT_EQ(QRN_NET_GetCompany(handle, company), QRN_ERR_TIMEOUT);
    running.sim->set_fault(Fault::None);
    EXPECT_EQ(QRN_NET_GetCompany(handle, company), 0) << "the command time-out is restored afterwards";
}

TEST(CommandArguments, InvalidHandlesAndNullPointers)
{
    char text[QRN_NET_COMPANY_SIZE];
    uint8_t block[256];
    int mode = 0;
    for (int bad : {0, 0x20130804, 0x20130815, 0x20130805 + 9}) {
        EXPECT_EQ(QRN_NET_GetTransMode(bad, nullptr), QRN_ERR_NULL_POINTER);
        EXPECT_EQ(QRN_NET_GetTransMode(bad, &mode), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_GetCompany(bad, nullptr), QRN_ERR_FAILED);
        EXPECT_EQ(QRN_NET_GetCompany(bad, text), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_GetEncrypt(bad, text), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_SetCustom(bad, block), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_GetCustom(bad, block), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_SetBcastEchoPasswd(bad, 1), QRN_ERR_INVALID_HANDLE);
        EXPECT_EQ(QRN_NET_GetVersion(bad), QRN_ERR_INVALID_HANDLE);
    }
}

}  // namespace
