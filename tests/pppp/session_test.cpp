// Sessions of the peer-to-peer layer against real servers: a device
// registered in this process (or in a pppp-peer child), a host connecting to
// it by ID.
#include "PPPP_API.h"
#include "PPPP_Device.h"
#include "broker_link.h"
#include "init_string.h"
#include "p2p_servers.h"
#include "signal_message.h"
#include "topics.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;
using pppp_test::P2pServers;

namespace {

// Bounded waits, stretched under slow tools (QRN_TEST_TIME_SCALE=N).
milliseconds scaled(milliseconds base)
{
    const char *text = std::getenv("QRN_TEST_TIME_SCALE");
    int scale = text ? std::atoi(text) : 1;
    return base * (scale > 0 ? scale : 1);
}

bool wait_until(const std::function<bool()> &condition, milliseconds limit)
{
    auto deadline = steady_clock::now() + scaled(limit);
    while (!condition()) {
        if (steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

// The entries of a /proc directory, without "." and ".." (and, for fd, the
// descriptor that reads it).
std::vector<std::string> entries(const char *directory)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(directory)) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(dir))
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

std::string describe_files()
{
    std::string text;
    for (const std::string &name : entries("/proc/self/fd")) {
        char target[256] = {};
        ssize_t n = readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
        text += name + "->" + (n > 0 ? target : "?") + " ";
    }
    return text;
}

int open_files()
{
    return int(entries("/proc/self/fd").size());
}
int threads()
{
    return int(entries("/proc/self/task").size());
}

std::vector<uint8_t> pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

int relayed(int session)
{
    unsigned char info[PPPP_CHECK_RECORD_SIZE];
    int result = PPPP_Check(session, info);
    return result == 0 ? info[PPPP_CHECK_RELAYED_OFFSET] : result;
}

// Both ends write at once on one channel and each reads what the other wrote.
void exchange(int host, int device, int channel, size_t down_length, size_t up_length)
{
    auto down = pattern(down_length, uint8_t(channel));
    auto up = pattern(up_length, uint8_t(channel + 100));
    std::thread writer(
        [&] { EXPECT_EQ(PPPP_Write(device, channel, down.data(), int(down.size())), int(down.size())); });
    EXPECT_EQ(PPPP_Write(host, channel, up.data(), int(up.size())), int(up.size()));
    std::vector<uint8_t> got(down.size());
    int size = int(got.size());
    EXPECT_EQ(PPPP_Read(host, channel, got.data(), &size, int(scaled(seconds(10)).count())), 0);
    EXPECT_TRUE(got == down) << "channel " << channel << " from the device";
    got.assign(up.size(), 0);
    size = int(got.size());
    EXPECT_EQ(PPPP_Read(device, channel, got.data(), &size, int(scaled(seconds(10)).count())), 0);
    EXPECT_TRUE(got == up) << "channel " << channel << " from the host";
    writer.join();
}

// The servers of one suite, on this process's address.
class P2pSuite : public ::testing::Test {
protected:
    static void start(const char *mode) { servers = new P2pServers(mode); }
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
    void TearDown() override
    {
        if (listener >= 0)
            PPPP_Device_Unregister(listener);
        PPPP_DeInitialize();
    }

    const char *init() const { return servers->init_string().c_str(); }

    void register_device(const char *id)
    {
        listener = PPPP_Device_Register(id, init());
        ASSERT_GE(listener, 0);
    }

    // Connects to the registered device; both handles, or negative codes.
    std::pair<int, int> connect(const char *id) { return connect_with(id, init()); }
    std::pair<int, int> connect_with(const char *id, const char *host_init)
    {
        int device = -1;
        std::thread accepter([&] { device = PPPP_Device_Accept(listener, int(scaled(seconds(15)).count())); });
        int host = PPPP_ConnectByServer(id, 1, 0, host_init);
        if (host < 0)
            PPPP_Device_Accept(listener, 0);
        accepter.join();
        return {host, device};
    }

    static P2pServers *servers;
    int listener = -1;
};
P2pServers *P2pSuite::servers = nullptr;

class P2pDirect : public P2pSuite {
protected:
    static void SetUpTestSuite() { start("direct"); }
};
class P2pRelayOnly : public P2pSuite {
protected:
    static void SetUpTestSuite() { start("relay-only"); }
};
class P2pRelayRefusing : public P2pSuite {
protected:
    static void SetUpTestSuite() { start("relay-refusing"); }
};
class P2pBrokerSilent : public P2pSuite {
protected:
    static void SetUpTestSuite() { start("broker-silent"); }
};

TEST_F(P2pDirect, DirectSessionCarriesBytesBothWaysOnBothChannels)
{
    register_device("SQRN-000001-AAAAA");
    auto [host, device] = connect("SQRN-000001-AAAAA");
    ASSERT_GE(host, 0);
    ASSERT_GE(device, 0);
    EXPECT_EQ(relayed(host), 0);
    EXPECT_EQ(relayed(device), 0);
    for (int channel : {1, 2})
        exchange(host, device, channel, 3000000, 70000);
    EXPECT_EQ(PPPP_Close(host), 0);
    EXPECT_EQ(PPPP_Close(device), 0);
    EXPECT_EQ(PPPP_Close(host), PPPP_ERROR_INVALID_SESSION);
}

TEST_F(P2pRelayOnly, RelayedSessionCarriesBytesBothWaysOnBothChannels)
{
    register_device("SQRN-000002-BBBBB");
    auto [host, device] = connect("SQRN-000002-BBBBB");
    ASSERT_GE(host, 0);
    ASSERT_GE(device, 0);
    EXPECT_EQ(relayed(host), 1);
    EXPECT_EQ(relayed(device), 1);
    for (int channel : {1, 2})
        exchange(host, device, channel, 3000000, 70000);
    EXPECT_EQ(PPPP_ForceClose(host), 0);
    EXPECT_EQ(PPPP_ForceClose(device), 0);
}

TEST_F(P2pDirect, DeviceRelayOnlyMakesItsNextSessionsRelayed)
{
    register_device("PVBV-000003-CCCCC");
    ASSERT_EQ(PPPP_Device_RelayOnly(listener, 2), 0);
    for (int expected : {1, 1, 0}) {
        auto [host, device] = connect("PVBV-000003-CCCCC");
        ASSERT_GE(host, 0);
        ASSERT_GE(device, 0);
        EXPECT_EQ(relayed(host), expected);
        EXPECT_EQ(relayed(device), expected);
        exchange(host, device, 1, 1000, 1000);
        PPPP_Close(host);
        PPPP_Close(device);
    }
}

TEST_F(P2pDirect, ReadTimeOutReportsTheBytesReadSoFar)
{
    register_device("SQRN-000004-DDDDD");
    auto [host, device] = connect("SQRN-000004-DDDDD");
    ASSERT_GE(host, 0);
    auto bytes = pattern(100, 9);
    ASSERT_EQ(PPPP_Write(device, 2, bytes.data(), 100), 100);
    std::vector<uint8_t> got(200);
    int size = 200;
    EXPECT_EQ(PPPP_Read(host, 2, got.data(), &size, 500), PPPP_ERROR_TIME_OUT);
    EXPECT_EQ(size, 100);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.begin()));
    // The other channel got none of it.
    size = 10;
    EXPECT_EQ(PPPP_Read(host, 1, got.data(), &size, 100), PPPP_ERROR_TIME_OUT);
    EXPECT_EQ(size, 0);
    unsigned write_size = 1, read_size = 1;
    EXPECT_EQ(PPPP_Check_Buffer(host, 2, &write_size, &read_size), 0);
    EXPECT_EQ(read_size, 0u);
}

TEST_F(P2pDirect, UnknownOrOfflineIdIsAnsweredFromTheRetainedStatus)
{
    auto start = steady_clock::now();
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-404404-NOONE", 1, 0, init()), PPPP_ERROR_INVALID_ID);
    // Well inside the status wait: the answer came from the broker's store.
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));

    register_device("SQRN-000005-EEEEE");
    // Going offline also ends an accept that waits on the listener.
    int accepted = 0;
    std::thread accepter([&] { accepted = PPPP_Device_Accept(listener, 60000); });
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(PPPP_Device_Unregister(listener), 0);
    accepter.join();
    EXPECT_EQ(accepted, PPPP_ERROR_INVALID_SESSION);
    EXPECT_EQ(PPPP_Device_Accept(listener, 0), PPPP_ERROR_INVALID_SESSION);
    listener = -1;
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000005-EEEEE", 1, 0, init()), PPPP_ERROR_INVALID_ID);
}

TEST_F(P2pDirect, OnlineModuleThatNeverAnswersTimesOut)
{
    // Online on the broker, but nothing reads its inbox.
    pppp::BrokerOptions options;
    options.host = servers->address();
    options.port = 1883;
    options.client_id = "ghost";
    options.status_topic = pppp::device_status_topic("SQRN-000006-GHOST");
    options.online_payload = pppp::encode_status(true);
    options.will_payload = pppp::encode_status(false);
    std::shared_ptr<pppp::BrokerLink> ghost;
    ASSERT_EQ(pppp::BrokerLink::open(
                  options, [](const std::string &, const char *, size_t) {}, &ghost),
              0);
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000006-GHOST", 1, 0, init()), PPPP_ERROR_TIME_OUT);
    ghost->close();
}

TEST_F(P2pDirect, RelayOnlyPolicyWithoutARelayIsUnreachable)
{
    register_device("SQRN-000015-NNNNN");
    pppp::InitConfig config;
    ASSERT_EQ(pppp::decode_init_string(init(), &config), pppp::DecodeResult::ok);
    config.relay_port = 9;  // nothing answers there
    config.relay_only = true;
    std::string no_relay;
    ASSERT_TRUE(pppp::encode_init_string(config, &no_relay));
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000015-NNNNN", 1, 0, no_relay.c_str()), PPPP_ERROR_SERVER_UNREACHABLE);
    // With every candidate allowed the same relay is not needed.
    config.relay_only = false;
    std::string direct;
    ASSERT_TRUE(pppp::encode_init_string(config, &direct));
    auto [host, device] = connect_with("SQRN-000015-NNNNN", direct.c_str());
    ASSERT_GE(host, 0);
    EXPECT_EQ(relayed(host), 0);
    exchange(host, device, 1, 1000, 1000);
}

TEST_F(P2pDirect, DeInitializeWhileAConnectWaitsEndsItCleanly)
{
    register_device("SQRN-000014-MMMMM");
    const int relay_ports_before = servers->relay_ports_in_use();
    int result = 0;
    std::thread connecting([&] { result = PPPP_ConnectByServer("SQRN-000014-MMMMM", 1, 0, init()); });
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(PPPP_DeInitialize(), 0);
    connecting.join();
    // Either it finished before (and DeInitialize closed it) or it saw the
    // layer go; in no case is a session left open.
    EXPECT_TRUE(result == PPPP_ERROR_NOT_INITIALIZED || result >= 0) << result;
    if (result >= 0) {
        unsigned char info[PPPP_CHECK_RECORD_SIZE];
        EXPECT_EQ(PPPP_Check(result, info), PPPP_ERROR_INVALID_SESSION);
    }
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000014-MMMMM", 1, 0, init()), PPPP_ERROR_NOT_INITIALIZED);
    // Agents closed in the middle of gathering release their allocations too.
    ASSERT_EQ(PPPP_Device_Unregister(listener), 0);
    listener = -1;
    EXPECT_TRUE(wait_until([&] { return servers->relay_ports_in_use() <= relay_ports_before; }, seconds(10)))
        << servers->relay_ports_in_use() - relay_ports_before << " relay ports still allocated";
}

TEST_F(P2pDirect, GarbageOnTheBrokerLeavesSessionsWorking)
{
    register_device("SQRN-000016-OOOOO");
    auto [host, device] = connect("SQRN-000016-OOOOO");
    ASSERT_GE(host, 0);
    ASSERT_GE(device, 0);

    pppp::BrokerOptions options;
    options.host = servers->address();
    options.port = 1883;
    options.client_id = "vandal";
    options.status_topic = "pppp/peer/vandal/status";
    std::shared_ptr<pppp::BrokerLink> vandal;
    ASSERT_EQ(pppp::BrokerLink::open(
                  options, [](const std::string &, const char *, size_t) {}, &vandal),
              0);
    const std::string token = "0123456789abcdef0123456789abcdef";
    const std::string offer_head = R"({"v":1,"type":"offer","session":")";
    std::vector<std::string> payloads = {
        "",
        "{",
        "null",
        std::string(60000, '['),
        std::string(40000, 'x'),
        std::string("\0\xff\xfe", 3),
        offer_head + token + R"(","from":"vandal","ufrag":"abcd","pwd":"0123456789012345678901","c1":[],"c2":[]})",
        offer_head + token +
            R"(","from":"vandal","ufrag":"abcd","pwd":"0123456789012345678901",)"
            R"("c1":["a=candidate:1 1 UDP 1 999.1.1.1 1 typ host"],"c2":["a=candidate:1 2 UDP 1 127.10.255.254 0 typ relay"]})",
        R"({"v":1,"type":"bye","session":"ffffffffffffffffffffffffffffffff"})",
        R"({"v":1,"type":"answer","session":")" + token + R"(","ufrag":"a","pwd":"b","c1":[],"c2":[]})"};
    // Offers, byes, answers and statuses for the device, the host peers and
    // nobody, with nothing right about them.
    for (const std::string &topic :
         {pppp::device_inbox_topic("SQRN-000016-OOOOO"), pppp::device_status_topic("SQRN-000016-OOOOO"),
          std::string("pppp/peer/+/inbox"), std::string("pppp/dev/#")})
        for (const std::string &payload : payloads)
            // An empty status is a deleted one: the device going away.
            if (!payload.empty() || topic.find("/status") == std::string::npos)
                vandal->publish(topic, payload);
    for (int i = 0; i < 40; ++i)
        vandal->publish(pppp::device_inbox_topic("SQRN-000016-OOOOO"),
                        offer_head + pppp::random_token() +
                            R"(","from":"vandal","ufrag":"abcd","pwd":"0123456789012345678901",)"
                            R"("c1":["a=candidate:1 1 UDP 1 127.10.255.254 9 typ host"],"c2":[]})");
    exchange(host, device, 1, 100000, 100000);
    exchange(host, device, 2, 100000, 100);
    // And a new session comes up while the vandal's offers still wait out
    // their checks: one host never holds all of the device's room.
    auto [host2, device2] = connect("SQRN-000016-OOOOO");
    ASSERT_GE(host2, 0);
    exchange(host2, device2, 1, 1000, 1000);
    vandal->close();
    EXPECT_EQ(PPPP_Close(host), 0);
    EXPECT_EQ(PPPP_Close(device), 0);
}

TEST_F(P2pDirect, MalformedArgumentsAreRefused)
{
    EXPECT_EQ(PPPP_ConnectByServer(nullptr, 1, 0, init()), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_ConnectByServer("a/b", 1, 0, init()), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_ConnectByServer("SQRN+#", 1, 0, init()), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-1", 1, 0, "ABZ"), PPPP_ERROR_BAD_INIT_STRING);
    EXPECT_EQ(PPPP_Device_Register("SQRN-1", "QQ"), PPPP_ERROR_BAD_INIT_STRING);
    unsigned char info[PPPP_CHECK_RECORD_SIZE];
    char byte = 0;
    int size = 1;
    EXPECT_EQ(PPPP_Check(12345, info), PPPP_ERROR_INVALID_SESSION);
    EXPECT_EQ(PPPP_Read(12345, 1, &byte, &size, 0), PPPP_ERROR_INVALID_SESSION);
    EXPECT_EQ(PPPP_Write(12345, 1, &byte, 1), PPPP_ERROR_INVALID_SESSION);

    register_device("SQRN-000007-FFFFF");
    auto [host, device] = connect("SQRN-000007-FFFFF");
    ASSERT_GE(host, 0);
    EXPECT_EQ(PPPP_Read(host, 3, &byte, &size, 0), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_Write(host, 0, &byte, 1), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_Write(host, 1, nullptr, 1), PPPP_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PPPP_Check(host, nullptr), PPPP_ERROR_INVALID_PARAMETER);
}

TEST_F(P2pDirect, PeerClosingReportsRemoteClosedAfterTheLastBytes)
{
    register_device("SQRN-000008-GGGGG");
    auto [host, device] = connect("SQRN-000008-GGGGG");
    ASSERT_GE(host, 0);
    ASSERT_GE(device, 0);
    auto bytes = pattern(1000, 3);
    ASSERT_EQ(PPPP_Write(device, 1, bytes.data(), 1000), 1000);
    std::vector<uint8_t> got(1000);
    int size = 1000;
    ASSERT_EQ(PPPP_Read(host, 1, got.data(), &size, 5000), 0);
    ASSERT_EQ(PPPP_Close(device), 0);

    // A reader blocked when the bye comes is woken with the code.
    size = 1;
    EXPECT_EQ(PPPP_Read(host, 1, got.data(), &size, int(scaled(seconds(10)).count())), PPPP_ERROR_REMOTE_CLOSED);
    unsigned char info[PPPP_CHECK_RECORD_SIZE];
    EXPECT_EQ(PPPP_Check(host, info), PPPP_ERROR_REMOTE_CLOSED);
    EXPECT_EQ(PPPP_Write(host, 2, bytes.data(), 10), PPPP_ERROR_REMOTE_CLOSED);
    unsigned w, r;
    EXPECT_EQ(PPPP_Check_Buffer(host, 2, &w, &r), PPPP_ERROR_REMOTE_CLOSED);
    EXPECT_EQ(PPPP_Close(host), 0);
}

TEST_F(P2pDirect, VanishedPeerReportsTheSessionLost)
{
    // The device is a child process killed without a word: only the broker
    // (its last will) tells.
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(PPPP_PEER_PATH, "pppp-peer", "device", "--id", "SQRN-000009-HHHHH", "--init", init(), nullptr);
        _exit(127);
    }
    close(out[1]);
    // Ends the child whatever happens here, so no assertion leaves it running.
    struct Child {
        pid_t pid;
        int out;
        void kill_now()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                close(out);
                pid = -1;
            }
        }
        ~Child() { kill_now(); }
    } device{child, out[0]};
    char line[64] = {};
    ASSERT_GT(read(out[0], line, sizeof line - 1), 0);  // "registered ..."
    int host = PPPP_ConnectByServer("SQRN-000009-HHHHH", 1, 0, init());
    ASSERT_GE(host, 0);
    device.kill_now();

    char byte;
    int size = 1;
    EXPECT_EQ(PPPP_Read(host, 2, &byte, &size, int(scaled(seconds(20)).count())), PPPP_ERROR_SESSION_LOST);
    unsigned char info[PPPP_CHECK_RECORD_SIZE];
    EXPECT_EQ(PPPP_Check(host, info), PPPP_ERROR_SESSION_LOST);
    EXPECT_EQ(PPPP_Write(host, 1, &byte, 1), PPPP_ERROR_SESSION_LOST);
    EXPECT_EQ(PPPP_ForceClose(host), 0);
}

TEST_F(P2pDirect, StalledReaderBoundsWhatTheWriterQueues)
{
    register_device("SQRN-000010-IIIII");
    auto [host, device] = connect("SQRN-000010-IIIII");
    ASSERT_GE(host, 0);
    ASSERT_GE(device, 0);
    // The host reads nothing: the device's writes must stop being taken.
    const size_t chunk = 64 << 10;
    size_t accepted = 0;
    int result = 0;
    while ((result = PPPP_Write(device, 2, pattern(chunk, uint8_t(accepted / chunk)).data(), int(chunk))) ==
           int(chunk)) {
        accepted += chunk;
        ASSERT_LT(accepted, size_t(16) << 20) << "the writer never stopped";
    }
    EXPECT_EQ(result, PPPP_ERROR_TIME_OUT);
    // The reader's window, the writer's queue and PseudoTCP's buffers.
    EXPECT_LE(accepted, size_t(4) << 20);
    unsigned queued = 0, waiting = 0;
    EXPECT_EQ(PPPP_Check_Buffer(host, 2, &queued, &waiting), 0);
    EXPECT_LE(waiting, 1u << 20);
    // Nothing was lost or reordered on the way.
    for (size_t done = 0; done < accepted; done += chunk) {
        std::vector<uint8_t> got(chunk);
        int size = int(chunk);
        ASSERT_EQ(PPPP_Read(host, 2, got.data(), &size, 5000), 0);
        ASSERT_TRUE(got == pattern(chunk, uint8_t(done / chunk))) << "chunk at " << done;
    }
    // And the channel runs again once read.
    exchange(host, device, 2, 200000, 10);
}

TEST_F(P2pDirect, FiftyRoundsLeaveNoRelayPortFileOrThread)
{
    auto round = [&] {
        auto [host, device] = connect("SQRN-000011-JJJJJ");
        ASSERT_GE(host, 0);
        ASSERT_GE(device, 0);
        exchange(host, device, 2, 20000, 100);
        EXPECT_EQ(PPPP_Close(host), 0);
        EXPECT_EQ(PPPP_ForceClose(device), 0);
    };
    // Allocations of peers killed by earlier tests in this process stay
    // until they expire.
    const int relay_ports_before = servers->relay_ports_in_use();
    // One whole cycle first: GLib makes its process-wide contexts once.
    register_device("SQRN-000011-JJJJJ");
    round();
    ASSERT_EQ(PPPP_Device_Unregister(listener), 0);
    ASSERT_EQ(PPPP_DeInitialize(), 0);
    const int threads_idle = threads();
    const int files_idle = open_files();
    const std::string files_idle_text = describe_files();

    ASSERT_EQ(PPPP_Initialize(init()), 0);
    register_device("SQRN-000011-JJJJJ");
    round();
    // Each session allocates on the relay for both components on both ends.
    ASSERT_TRUE(wait_until([&] { return servers->relay_ports_in_use() == relay_ports_before; }, seconds(10)));
    const int threads_running = threads();
    const int files_running = open_files();
    const std::string files_running_text = describe_files();
    for (int i = 0; i < 49 && !HasFatalFailure(); ++i)
        round();
    EXPECT_TRUE(wait_until([&] { return servers->relay_ports_in_use() == relay_ports_before; }, seconds(10)))
        << servers->relay_ports_in_use() - relay_ports_before << " relay ports still allocated";
    EXPECT_TRUE(wait_until([&] { return open_files() <= files_running; }, seconds(5)))
        << "after one round: " << files_running_text << "\nafter 50: " << describe_files();
    EXPECT_TRUE(wait_until([&] { return threads() <= threads_running; }, seconds(5))) << threads();

    ASSERT_EQ(PPPP_Device_Unregister(listener), 0);
    listener = -1;
    ASSERT_EQ(PPPP_DeInitialize(), 0);
    EXPECT_TRUE(wait_until([&] { return open_files() <= files_idle; }, seconds(5)))
        << "idle: " << files_idle_text << "\nafter: " << describe_files();
    EXPECT_TRUE(wait_until([&] { return threads() <= threads_idle; }, seconds(5))) << threads();
}

TEST_F(P2pRelayRefusing, RelayRejectingTheCredentialsRefusesTheSession)
{
    EXPECT_EQ(PPPP_Device_Register("SQRN-000012-KKKKK", init()) >= 0, true);
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000012-KKKKK", 1, 0, init()), PPPP_ERROR_REFUSED);
}

TEST_F(P2pBrokerSilent, BrokerThatNeverAnswersIsUnreachable)
{
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000013-LLLLL", 1, 0, init()), PPPP_ERROR_SERVER_UNREACHABLE);
    EXPECT_EQ(PPPP_Device_Register("SQRN-000013-LLLLL", init()), PPPP_ERROR_SERVER_UNREACHABLE);
    // Nothing listening at all.
    std::string nowhere = pppp_test::init_string_nothing_listening();
    EXPECT_EQ(PPPP_ConnectByServer("SQRN-000013-LLLLL", 1, 0, nowhere.c_str()), PPPP_ERROR_SERVER_UNREACHABLE);
    EXPECT_EQ(PPPP_Device_Register("SQRN-000013-LLLLL", nowhere.c_str()), PPPP_ERROR_SERVER_UNREACHABLE);
}

}  // namespace
