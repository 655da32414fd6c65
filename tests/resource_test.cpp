// A long run of sessions must give back every descriptor and thread.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <string>

#include "test_support.h"

using namespace testing_support;

namespace {

int open_descriptors()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dirent *entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

int threads()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

// Detached teardown threads end shortly after their slot is released.
bool settles_to(int (*measure)(), int limit)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (measure() > limit) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(Resources, ThousandSessionsLeakNothing)
{
    RunningSim running = start_sim();
    const int iterations = std::getenv("QRN_LEAK_ITERATIONS") ? std::atoi(std::getenv("QRN_LEAK_ITERATIONS")) : 1000;
    // The baseline is taken before the first connect and every check runs
    // while the simulator still holds its own threads and sockets: stopping
    // it first would free as many as a leak takes and hide the leak. No SDK
    // thread or socket outlives its session, so even the first session must
    // give everything back.
    const int base_threads = threads();
    const int base_descriptors = open_descriptors();
    const auto expect_baseline = [&](const char *when) {
        EXPECT_TRUE(settles_to(threads, base_threads))
            << when << ": " << threads() << " threads, " << base_threads << " before";
        EXPECT_TRUE(settles_to(open_descriptors, base_descriptors))
            << when << ": " << open_descriptors() << " descriptors, " << base_descriptors << " before";
    };

    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
    ASSERT_TRUE(disconnect_and_wait(handle));
    expect_baseline("after one session");

    char company[QRN_NET_COMPANY_SIZE];
    for (int i = 0; i < iterations; ++i) {
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0) << "round " << i;
        ASSERT_EQ(QRN_NET_GetCompany(handle, company), 0) << "round " << i;
        ASSERT_TRUE(disconnect_and_wait(handle)) << "round " << i;
    }
    expect_baseline("after the loop");
}

}  // namespace
