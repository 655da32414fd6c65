// The SDK when the process runs out of descriptors or address space: calls
// answer with a code of their table, nothing crashes, a running stream is
// not lost, and everything works again once the limit is lifted. Each case
// runs in a fresh process of its own (a death test re-executing this
// program), so the limit touches nothing else; the simulated probe runs as
// a separate program, given as the first argument, outside the limit.
//   resource_limits_test QRN-PROBE-SIM [gtest options]
#include "process_figures.h"
#include "qrn_net.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string simulator_path;

// Each case its own addresses, so cases never share a port. A probe serves
// one host at a time, so the second session goes to a second module.
std::string module_address(int test, int module)
{
    return "127.15.4." + std::to_string(10 * test + module);
}

// The simulated probe as its own process, for as long as the object lives.
class ModuleProcess {
public:
    explicit ModuleProcess(const std::string &address)
    {
        const std::string listen = address + ":34674";
        std::vector<std::string> args = {simulator_path, "--listen", listen, "--size", "640x480", "--fps", "15"};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, simulator_path.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
    }
    ~ModuleProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Failures inside the child are printed and counted; the exit code says
// whether there were any.
int failures = 0;
void check(bool condition, const std::string &what)
{
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
        ++failures;
    }
}

bool one_of(int code, std::initializer_list<int> codes)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

const std::initializer_list<int> kConnectCodes = {QRN_ERR_NO_SLOT, QRN_ERR_TIMEOUT, QRN_ERR_IO,
                                                  QRN_ERR_CONNECT, QRN_ERR_LISTEN,  QRN_ERR_CLOSED,
                                                  QRN_ERR_FAILED};
const std::initializer_list<int> kCommandCodes = {QRN_OK,         QRN_ERR_FAILED,        QRN_ERR_TIMEOUT,
                                                  QRN_ERR_IO,     QRN_ERR_CLOSED,        QRN_ERR_MALFORMED,
                                                  QRN_ERR_OTHER_SESSION, QRN_ERR_INVALID_HANDLE};

// Connects, retrying while the module starts up.
int connect_to(const std::string &address, int &handle)
{
    int result = QRN_ERR_CONNECT;
    for (int attempt = 0; attempt < 50 && result != QRN_OK; ++attempt) {
        result = QRN_NET_ConnectDevice(&handle, address.c_str(), nullptr);
        if (result != QRN_OK)
            std::this_thread::sleep_for(milliseconds(100));
    }
    return result;
}

// Video frames taken (and freed) within the time.
int frames_within(int handle, milliseconds time, int enough)
{
    int frames = 0;
    const auto deadline = Clock::now() + time;
    while (frames < enough && Clock::now() < deadline) {
        int flags = 0;
        if (QRN_NET_Poll(handle, &flags, 100) != QRN_OK)
            continue;
        FrameHeader *frame = nullptr;
        while (QRN_NET_Video_RequestVideoData(handle, &frame) == QRN_OK) {
            QRN_NET_Video_ReleaseVideoData(handle, frame);
            ++frames;
        }
    }
    return frames;
}

// A call that must answer within its time-out plus a margin.
template <typename Call>
int timed(const char *name, milliseconds limit, Call call)
{
    const auto begin = Clock::now();
    const int code = call();
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - begin);
    check(took <= limit + milliseconds(2000),
          std::string(name) + " took " + std::to_string(took.count()) + " ms under the limit");
    return code;
}

// A session streams; the limit is set; a second connect and a command on
// the first answer with codes of their tables and the stream goes on; the
// limit is lifted; the first session's commands and a new connect work.
int run_under_limit(int test, int resource, rlim_t (*tight)())
{
    QRN_NET_SetTrace(0);
    const std::string address = module_address(test, 1);
    const std::string other = module_address(test, 2);
    ModuleProcess module(address), other_module(other);
    check(module.running() && other_module.running(), "the simulators did not start");
    int first = -1;
    check(connect_to(address, first) == QRN_OK, "the first session did not connect");
    check(QRN_NET_Video_Begin(first) == QRN_OK, "video did not begin");
    check(frames_within(first, milliseconds(5000), 5) >= 5, "no video before the limit");

    rlimit saved{};
    getrlimit(resource, &saved);
    rlimit limited = saved;
    limited.rlim_cur = tight();
    check(setrlimit(resource, &limited) == 0, "the limit could not be set");
    // Below a descriptor limit there may be free numbers: take them all.
    std::vector<int> fillers;
    if (resource == RLIMIT_NOFILE)
        for (int fd; (fd = dup(STDERR_FILENO)) >= 0;)
            fillers.push_back(fd);

    int second = -1;
    const int refused = timed("ConnectDevice", milliseconds(4500),
                              [&] { return QRN_NET_ConnectDevice(&second, other.c_str(), nullptr); });
    check(one_of(refused, kConnectCodes), "a connect under the limit gave " + std::to_string(refused));
    const int command = timed("Video_SetFPS", milliseconds(8000), [&] { return QRN_NET_Video_SetFPS(first, 15); });
    check(one_of(command, kCommandCodes), "a command under the limit gave " + std::to_string(command));
    check(frames_within(first, milliseconds(3000), 5) >= 5, "the running stream stopped under the limit");

    for (int fd : fillers)
        close(fd);
    check(setrlimit(resource, &saved) == 0, "the limit could not be lifted");
    // The first session carries on, or, if it ended, a new one works.
    const int after = QRN_NET_Video_SetFPS(first, 30);
    if (after != QRN_OK) {
        QRN_NET_Disconnect(first);
        check(QRN_NET_WaitDisconnected(first, 10000) == QRN_OK, "the ended session was not released");
        check(connect_to(address, first) == QRN_OK, "no session after the limit was lifted");
        check(QRN_NET_Video_Begin(first) == QRN_OK, "no video after the limit was lifted");
    }
    check(frames_within(first, milliseconds(5000), 5) >= 5, "no video after the limit was lifted");
    if (refused == QRN_OK) {
        QRN_NET_Disconnect(second);
        QRN_NET_WaitDisconnected(second, 10000);
    }
    check(connect_to(other, second) == QRN_OK, "a second session does not connect after the limit");
    for (int handle : {first, second}) {
        QRN_NET_Disconnect(handle);
        check(QRN_NET_WaitDisconnected(handle, 10000) == QRN_OK, "a session was not released");
    }
    return failures == 0 ? 0 : 1;
}

// A few more descriptors than are open now; the free numbers are then taken.
rlim_t no_spare_descriptor()
{
    return static_cast<rlim_t>(soak::read_process_figures().descriptors + 16);
}

// Room for a few small allocations, none for a thread's stack or a frame.
rlim_t little_spare_memory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            return (static_cast<rlim_t>(std::stoul(line.substr(7))) + 2048) * 1024;
    return RLIM_INFINITY;
}

class ResourceLimits : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ResourceLimits, DescriptorsExhausted)
{
    EXPECT_EXIT(std::exit(run_under_limit(1, RLIMIT_NOFILE, no_spare_descriptor)),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ResourceLimits, AddressSpaceTight)
{
    EXPECT_EXIT(std::exit(run_under_limit(2, RLIMIT_AS, little_spare_memory)), ::testing::ExitedWithCode(0),
                "");
}

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: resource_limits_test QRN-PROBE-SIM [gtest options]\n");
        return 2;
    }
    simulator_path = argv[1];
    return RUN_ALL_TESTS();
}
