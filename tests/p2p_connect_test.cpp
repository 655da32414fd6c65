// Which init string a device ID gets, and how a device-ID connect fails.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "init_string.h"
#include "p2p_servers.h"
#include "session_table.h"
#include "stream_session.h"

using namespace testing_support;

namespace {

std::string init_string_naming(const std::string &broker)
{
    pppp::InitConfig config;
    config.broker_host = broker;
    config.relay_host = broker;
    std::string letters;
    EXPECT_TRUE(pppp::encode_init_string(config, &letters));
    return letters;
}

// Sets the variables for one test and takes them away after it.
struct ScopedVariables {
    explicit ScopedVariables(std::initializer_list<std::pair<const char *, std::string>> values)
    {
        for (const auto &value : values) {
            names.push_back(value.first);
            setenv(value.first, value.second.c_str(), 1);
        }
    }
    ~ScopedVariables()
    {
        for (const char *name : names)
            unsetenv(name);
    }
    std::vector<const char *> names;
};

TEST(P2pInitStrings, PrefixChoosesTheStringAndUnknownOrLowerCaseGetsA)
{
    const ScopedVariables variables{{"QRN_P2P_INIT_A", init_string_naming("127.11.0.1")},
                                    {"QRN_P2P_INIT_B", init_string_naming("127.11.0.2")},
                                    {"QRN_P2P_INIT_C", init_string_naming("127.11.0.3")},
                                    {"QRN_P2P_INIT_D", init_string_naming("127.11.0.4")}};
    const auto strings = load_p2p_init_strings();
    struct Case {
        const char *id;
        int row;
    };
    const Case cases[] = {{"SQRN123456ABCDE", 0}, {"PVBV123456ABCDE", 1}, {"SLTW123456ABCDE", 2},
                          {"MXRR123456ABCDE", 3}, {"SZZE123456ABCDE", 3}, {"ABCD123456ABCDE", 0},
                          {"mxrr123456ABCDE", 0}, {"SZZ", 0},             {"", 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(p2p_init_string_row(c.id), c.row) << c.id;
        EXPECT_EQ(p2p_init_string_for(c.id), strings[static_cast<size_t>(c.row)]) << c.id;
    }
    EXPECT_EQ(p2p_init_string_for("MXRR000001AAAAA"), p2p_init_string_for("SZZE000002BBBBB"));
    EXPECT_NE(p2p_init_string_for("MXRR000001AAAAA"), p2p_init_string_for("SQRN000001AAAAA"));
}

TEST(P2pInitStrings, FileThenVariablesThenDefaultsKeyByKey)
{
    char path[] = "/tmp/qrn-p2p-conf-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string from_file = init_string_naming("127.11.1.1");
    const std::string from_variable = init_string_naming("127.11.1.2");
    {
        std::ofstream file(path);
        file << "# a comment\n"
             << "init_string_a = " << from_file << "\n"
             << "init_string_b=HELLOQRN\n"  // letters outside A..P: not a string
             << "unknown_key=AB\n";
    }
    const ScopedVariables variables{{"QRN_P2P_CONFIG", path},
                                    {"QRN_P2P_INIT_A", from_variable},
                                    {"QRN_P2P_INIT_B", from_variable},
                                    {"QRN_P2P_INIT_C", "ABC"}};  // half a byte
    const auto strings = load_p2p_init_strings();
    EXPECT_EQ(strings[0], from_file);
    EXPECT_EQ(strings[1], from_variable);
    EXPECT_EQ(strings[2], "");  // the layer's loopback defaults
    EXPECT_EQ(strings[3], "");
    std::remove(path);
}

// A probe program registered under an ID, in a process of its own so that
// it can be frozen: online by its retained status, answering nothing.
struct ProbeProcess {
    ProbeProcess(const std::string &id, const std::string &config)
    {
        const std::string command = std::string(QRN_PROBE_SIM) + " --device-id " + id + " --p2p " + config;
        pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + command + " >/dev/null").c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~ProbeProcess()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGCONT);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    pid_t pid = -1;
};

class P2pConnectFailure : public ::testing::Test {
protected:
    int connect(const std::string &id)
    {
        int handle = 0;
        const int result = QRN_NET_ConnectDevice(&handle, id.c_str(), nullptr);
        if (result >= 0)
            disconnect_and_wait(handle);
        return result;
    }
};

TEST_F(P2pConnectFailure, AnUnknownIdIsMinus11)
{
    P2pServers servers;
    ASSERT_TRUE(servers.started());
    EXPECT_EQ(connect("SQRN000000NOONE"), QRN_ERR_P2P_CONNECT);
    EXPECT_FALSE(p2p_library_initialised());  // the failed connect released its slot
}

TEST_F(P2pConnectFailure, ABrokerThatNeverAnswersIsMinus12)
{
    P2pServers servers("broker-silent");
    ASSERT_TRUE(servers.started());
    EXPECT_EQ(connect("SQRN123456ABCDE"), QRN_ERR_CONNECT);
}

TEST_F(P2pConnectFailure, AModuleOnlineButSilentIsMinus2)
{
    P2pServers servers;
    ASSERT_TRUE(servers.started());
    const std::string id = "SQRN777777SLEEP";
    ProbeProcess probe(id, servers.config());
    ASSERT_GT(probe.pid, 0);
    // Online once a connect gets that far: an unknown ID is answered at once.
    ASSERT_TRUE(eventually([&] { return connect(id) == 1; }, test_wait(std::chrono::seconds(10))));
    ASSERT_EQ(kill(probe.pid, SIGSTOP), 0);
    EXPECT_EQ(connect(id), QRN_ERR_TIMEOUT);
}

}  // namespace
