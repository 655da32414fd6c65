// Login answers and connect arguments.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "device_address.h"
#include "init_string.h"
#include "lan_login.h"
#include "session_table.h"
#include "wire_protocol.h"
#include "test_support.h"

using namespace testing_support;
using probesim::Fault;

namespace {

struct LoginCase {
    const char *name;
    Fault fault;
    int expected_result;
    int expected_version;  // when connected
};

void PrintTo(const LoginCase &c, std::ostream *out)
{
    *out << c.name;
}

class LoginAnswerTest : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginAnswerTest, AnswerDecidesResultAndVersion)
{
    RunningSim running = start_sim();
    running.sim->set_fault(GetParam().fault);
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), GetParam().expected_result);
    if (GetParam().expected_result != 0)
        return;
    EXPECT_EQ(QRN_NET_GetVersion(handle), GetParam().expected_version);
    // A login answer without the MAC leaves it to be asked for.
    uint8_t mac[6];
    EXPECT_EQ(QRN_NET_GetMac(handle, mac), 0);
    const auto expected = running.sim->state().model.mac;
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_TRUE(disconnect_and_wait(handle));
}

INSTANTIATE_TEST_SUITE_P(Answers, LoginAnswerTest,
                         ::testing::Values(LoginCase{"Full", Fault::None, 0, 0x00010203},
                                           LoginCase{"NoPayload", Fault::LoginNoPayload, 0, 0x200},
                                           LoginCase{"ShortPayload", Fault::LoginShortPayload, 0, 0x00010203},
                                           LoginCase{"Refused", Fault::RefuseLogin, QRN_ERR_LOGIN_REFUSED, 0},
                                           LoginCase{"WrongMagic", Fault::WrongMagic, QRN_ERR_IO, 0},
                                           LoginCase{"WrongCode", Fault::WrongCode, QRN_ERR_IO, 0}),
                         [](const ::testing::TestParamInfo<LoginCase> &info) { return std::string(info.param.name); });

TEST(Login, RefusedAccessStringFreesTheSlot)
{
    probesim::DeviceModel model;
    model.access_strings = {"right"};
    RunningSim running = start_sim(model);
    int handle = 0;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), "wrong"), QRN_ERR_LOGIN_REFUSED)
            << "a refused login must not keep its slot";
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), "right"), 0);
    EXPECT_TRUE(disconnect_and_wait(handle));
}

TEST(Login, NobodyListeningIsAConnectFailure)
{
    int handle = 0;
    const std::string address = next_loopback_address();
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, address.c_str(), nullptr), QRN_ERR_CONNECT);
}

// A module that takes the connection and then says nothing: a listening
// socket that never accepts; the kernel completes the handshake for it.
class SilentModule {
public:
    explicit SilentModule(const std::string &address)
    {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kDefaultCommandPort);
        inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        listening_ = socket_ >= 0 && bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
                     listen(socket_, 4) == 0;
    }
    ~SilentModule() { close(socket_); }
    bool listening() const { return listening_; }

private:
    int socket_ = -1;
    bool listening_ = false;
};

TEST(Login, SilentModuleIsATimeOutLikeTheConnectsOwn)
{
    const std::string address = next_loopback_address();
    SilentModule module(address);
    ASSERT_TRUE(module.listening());
    int handle = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, address.c_str(), nullptr), QRN_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "the login waits 2 s";
}

int open_descriptors()
{
    DIR *listing = opendir("/proc/self/fd");
    if (!listing)
        return -1;
    int count = 0;
    while (readdir(listing))
        ++count;
    closedir(listing);
    return count;
}

// Runs in a forked child, which has only this thread: with the descriptor
// limit at the lowest free number no socket can be made, so the connect
// must give up on its own, answer -10 and leave nothing open.
int connect_without_descriptors(const char *address)
{
    const int before = open_descriptors();
    const int lowest_free = dup(0);
    if (lowest_free < 0 || before < 0)
        return 2;
    close(lowest_free);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = static_cast<rlim_t>(lowest_free);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 3;
    int handle = 0;
    const int result = QRN_NET_ConnectDevice(&handle, address, nullptr);
    setrlimit(RLIMIT_NOFILE, &saved);
    if (result != QRN_ERR_LISTEN)
        return 4;
    return open_descriptors() == before ? 0 : 5;
}

TEST(Login, NoDescriptorLeftGivesUpWithCannotListen)
{
    const std::string address = next_loopback_address();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(connect_without_descriptors(address.c_str()));
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the connect still searches for a port after 10 s";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2, 3: setup; 4: not -10; 5: a descriptor left open";
}

TEST(ConnectArguments, StringsThatDoNotFitAreRefused)
{
    int handle = 0;
    const std::string long_address(20, '1');
    const std::string long_user(40, 'u');
    const std::string long_encrypt(32, 'e');
    EXPECT_EQ(QRN_NET_ConnectDevice(nullptr, "127.0.0.1", nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, nullptr, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, long_address.c_str(), nullptr), QRN_ERR_BAD_STRING);
    EXPECT_EQ(QRN_NET_ConnectDeviceUser(&handle, "127.0.0.1", 0, long_user.c_str(), nullptr), QRN_ERR_BAD_STRING);
    EXPECT_EQ(QRN_NET_ConnectDevice(&handle, "127.0.0.1", long_encrypt.c_str()), QRN_ERR_BAD_STRING);
}

TEST(ConnectArguments, DeviceIdWithoutPeerToPeerServerFailsCleanly)
{
    // A broker and relay address where nothing listens.
    pppp::InitConfig nowhere;
    nowhere.broker_host = nowhere.relay_host = "127.11.255.254";
    std::string init_string;
    ASSERT_TRUE(pppp::encode_init_string(nowhere, &init_string));
    setenv("QRN_P2P_INIT_A", init_string.c_str(), 1);
    int handle = 0;
    // More attempts than slots: each failure gives its slot back.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(QRN_NET_ConnectDevice(&handle, "SQRN123456ABCDE", nullptr), QRN_ERR_CONNECT);
    EXPECT_FALSE(p2p_library_initialised());
    unsetenv("QRN_P2P_INIT_A");
}

struct AddressCase {
    const char *input;
    int kind;
    const char *stored;
};

TEST(DeviceAddress, KindAndShortIdExpansion)
{
    const AddressCase cases[] = {
        {"1.2.3.4", kAddressKindIp, "1.2.3.4"},
        {"127.0.0.1", kAddressKindIp, "127.0.0.1"},
        {"ABCDE123456", kAddressKindDeviceId, "SQRN123456ABCDE"},
        {"ABCDEF123456", kAddressKindDeviceId, "SQRN123456ABCDE"},
        {"ABC123", kAddressKindDeviceId, "SQRNABC123ABC12"},
        {"ABCDEFG123456", kAddressKindDeviceId, "ABCDEFG123456"},
        {"ABC12", kAddressKindDeviceId, "ABC12"},
    };
    for (const AddressCase &c : cases) {
        EXPECT_EQ(address_kind_of(c.input), c.kind) << c.input;
        char stored[kAddressSize];
        store_address(c.input, c.kind, stored);
        EXPECT_STREQ(stored, c.stored) << c.input;
    }
}

TEST(LoginPayload, VersionIsAlsoKeptAsDecimal)
{
    struct Case {
        uint32_t version;
        uint32_t length;
        double decimal;
    };
    const Case cases[] = {{0x10203, 336, 1.23}, {0x10203, 100, 1.23}, {0, 0, 0.2}};
    for (const Case &c : cases) {
        uint8_t payload[336] = {};
        payload[0] = static_cast<uint8_t>(c.version);
        payload[1] = static_cast<uint8_t>(c.version >> 8);
        payload[2] = static_cast<uint8_t>(c.version >> 16);
        SessionContext session;
        apply_login_payload(&session, payload, c.length);
        EXPECT_NEAR(session.protocol_version_decimal, c.decimal, 1e-9) << c.length;
        EXPECT_EQ(session.device_info.valid, c.length == 336 ? 1 : 0);
    }
}

TEST(StreamSend, RefusedUntilTheDeviceConnectsBack)
{
    RunningSim running = start_sim();
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
    SessionContext *session = session_lookup(handle);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(send_stream_data(session, STREAM_SERIAL, "abc", 3), QRN_ERR_FAILED);
    EXPECT_TRUE(disconnect_and_wait(handle));
}

TEST(CommandAnswer, LongerThanTheCallersBufferIsRefused)
{
    probesim::DeviceModel model;
    model.company = std::string(QRN_NET_COMPANY_SIZE, 'c');
    RunningSim running = start_sim(model);
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
    char company[QRN_NET_COMPANY_SIZE];
    std::memset(company, 'x', sizeof company);
    EXPECT_EQ(QRN_NET_GetCompany(handle, company), QRN_ERR_TOO_LONG);
    EXPECT_EQ(company[0], 'x') << "nothing is written";
    EXPECT_TRUE(disconnect_and_wait(handle));
}

TEST(TransportSwitch, FollowsTheLastCall)
{
    for (int enable : {0, 7, 0, 1}) {
        EXPECT_EQ(QRN_NET_ForceP2PTransSwitch(enable), 0);
        EXPECT_EQ(transport_switch_enabled(), enable != 0);
    }
}

}  // namespace
