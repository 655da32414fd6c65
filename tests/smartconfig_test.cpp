// SmartConfig: the datagram lengths a host broadcasts, recorded with a
// plain socket, and the texts a simulated probe reads back from them.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ctime>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "broadcast_list.h"
#include "smartconfig_listener.h"
#include "test_support.h"

using namespace testing_support;
using probesim::SmartConfigListener;
using probesim::SmartConfigTexts;

namespace {

constexpr uint16_t kPort = 10009;
constexpr int kWaitMs = 5000;
constexpr int kQuietMs = 200;

// Stops the broadcast on every way out of a test.
struct Broadcasting {
    Broadcasting(const char *first, const char *second) : result(QRN_NET_SmartConfig_Begin(0, first, second)) {}
    ~Broadcasting() { QRN_NET_SmartConfig_End(); }
    const int result;
};

// What arrives on one address: each datagram's length, and whether it was
// made of the character 0 only.
class Recorder {
public:
    explicit Recorder(const std::string &address) : address_(address)
    {
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kPort);
        inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        bound_ = ::bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
    }
    ~Recorder() { ::close(socket_); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    bool bound() const { return bound_; }
    const std::string &address() const { return address_; }

    // The next datagram's length, or nothing within timeout_ms.
    std::optional<int> next(int timeout_ms)
    {
        pollfd p{socket_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return std::nullopt;
        std::vector<uint8_t> buffer(4096);
        const ssize_t got = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (got < 0)
            return std::nullopt;
        for (ssize_t i = 0; i < got; ++i)
            all_zero_characters_ = all_zero_characters_ && buffer[i] == '0';
        return static_cast<int>(got);
    }

    // From the next preamble start to its end mark, inclusive; empty when
    // no whole cycle arrives in time.
    std::vector<int> cycle()
    {
        std::vector<int> lengths;
        std::optional<int> length;
        while ((length = next(kWaitMs)) && *length != 1000) {
        }
        if (!length)
            return {};
        lengths.push_back(*length);
        while ((length = next(kWaitMs))) {
            lengths.push_back(*length);
            if (*length == 680)
                return lengths;
        }
        return {};
    }

    void drain()
    {
        while (next(0)) {
        }
    }

    bool all_zero_characters() const { return all_zero_characters_; }

private:
    std::string address_;
    int socket_ = -1;
    bool bound_ = false;
    bool all_zero_characters_ = true;
};

struct CycleCase {
    const char *name;
    const char *first;
    const char *second;
    std::vector<int> lengths;
};

// Laid out by stage, each with its note.
// clang-format off
const std::vector<int> kAbcdefghCycle = {
    1000, 1019, 1038, 1057, 458, 458,                                                // preamble, length of the first
    547,  580,  548,  581,  549, 582, 550, 583, 551, 584, 552, 585, 553, 586, 554, 587,  // a..h with positions
    624,  624,  672,  630,  675, 631, 670, 632, 669, 633,                            // the default "4721"
    692,  692,  680};
// clang-format on

TEST(SmartConfigCycle, LengthsCarryBothTextsAndTheirChecksum)
{
    // Each case with its expected lengths, laid out by hand.
    // clang-format off
    const CycleCase cases[] = {
        {"default second text", "abcdefgh", nullptr, kAbcdefghCycle},
        {"a character above 0x7F counts as negative", "abcdefg\xE9", "xy",
         {1000, 1019, 1038, 1057, 458, 458, 547, 580, 548, 581, 549, 582, 550, 583, 551, 584, 552, 585, 553, 586,
          427, 587, 622, 622, 740, 630, 741, 631, 853, 853, 680}},
        {"a negative sum wraps as an unsigned word", "\x80\x80\x80\x80\x80\x80\x80\x80", nullptr,
         {1000, 1019, 1038, 1057, 458, 458, 322, 580, 322, 581, 322, 582, 322, 583, 322, 584, 322, 585, 322, 586,
          322, 587, 624, 624, 672, 630, 675, 631, 670, 632, 669, 633, 905, 905, 680}},
    };
    // clang-format on
    for (const CycleCase &c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder(next_loopback_address());
        ASSERT_TRUE(recorder.bound());
        BroadcastList broadcast({recorder.address()});
        Broadcasting sending(c.first, c.second);
        ASSERT_EQ(sending.result, QRN_OK);
        EXPECT_EQ(recorder.cycle(), c.lengths);
        EXPECT_EQ(recorder.cycle(), c.lengths) << "the cycle repeats";
        EXPECT_TRUE(recorder.all_zero_characters());
    }
}

TEST(SmartConfigCycle, ProbeReadsTheTextsBackOnEveryBroadcastAddress)
{
    const SmartConfigTexts cases[] = {{"abcdefgh", "4721"}, {"my-network-5G", "pass\xE9word"}};
    for (const SmartConfigTexts &texts : cases) {
        SCOPED_TRACE(texts.first);
        SmartConfigListener near_probe, far_probe;
        const std::string near_address = next_loopback_address(), far_address = next_loopback_address();
        ASSERT_TRUE(near_probe.start(near_address));
        ASSERT_TRUE(far_probe.start(far_address));
        BroadcastList broadcast({near_address, far_address});
        const bool default_second = texts.second == "4721";
        Broadcasting sending(texts.first.c_str(), default_second ? nullptr : texts.second.c_str());
        ASSERT_EQ(sending.result, QRN_OK);
        for (const SmartConfigListener *probe : {&near_probe, &far_probe}) {
            ASSERT_TRUE(probe->wait_for_decoded(1, std::chrono::milliseconds(kWaitMs)));
            EXPECT_EQ(probe->decoded().front(), texts);
        }
    }
}

TEST(SmartConfigBegin, RefusesTextsThatDoNotFitAndSendsNothing)
{
    const std::string longest(1023, 'L');
    const std::string too_long(1024, 'L');
    struct Refused {
        const char *name;
        const char *first;
        const char *second;
    };
    const Refused cases[] = {
        {"no first text", nullptr, nullptr},
        {"first text of 7 characters", "abcdefg", nullptr},
        {"first text of 1024 characters", too_long.c_str(), nullptr},
        {"second text of 1024 characters", "abcdefgh", too_long.c_str()},
    };
    Recorder recorder(next_loopback_address());
    ASSERT_TRUE(recorder.bound());
    BroadcastList broadcast({recorder.address()});
    for (const Refused &c : cases) {
        EXPECT_EQ(QRN_NET_SmartConfig_Begin(0, c.first, c.second), QRN_ERR_FAILED) << c.name;
        EXPECT_FALSE(recorder.next(kQuietMs)) << c.name;
    }

    // The longest texts that fit are sent; End stops a cycle in progress.
    Broadcasting sending(longest.c_str(), longest.c_str());
    ASSERT_EQ(sending.result, QRN_OK);
    std::vector<int> start;
    for (int i = 0; i < 6; ++i)
        start.push_back(recorder.next(kWaitMs).value_or(-1));
    EXPECT_EQ(start, (std::vector<int>{1000, 1019, 1038, 1057, 1473, 1473}));
    EXPECT_EQ(QRN_NET_SmartConfig_End(), QRN_OK);
    recorder.drain();
    EXPECT_FALSE(recorder.next(kQuietMs)) << "nothing leaves after End";
}

TEST(SmartConfigBegin, SecondBeginKeepsTheOneSenderAndEndStopsIt)
{
    EXPECT_EQ(QRN_NET_SmartConfig_End(), QRN_OK) << "ending when not sending";
    Recorder recorder(next_loopback_address());
    ASSERT_TRUE(recorder.bound());
    BroadcastList broadcast({recorder.address()});
    Broadcasting sending("abcdefgh", nullptr);
    ASSERT_EQ(sending.result, QRN_OK);
    EXPECT_EQ(QRN_NET_SmartConfig_Begin(0, "zyxwvuts", "other"), QRN_OK);
    EXPECT_EQ(recorder.cycle(), kAbcdefghCycle);
    EXPECT_EQ(recorder.cycle(), kAbcdefghCycle) << "no second sender interleaves";

    EXPECT_EQ(QRN_NET_SmartConfig_End(), QRN_OK);
    recorder.drain();
    EXPECT_FALSE(recorder.next(kQuietMs)) << "nothing leaves after End";
    EXPECT_EQ(QRN_NET_SmartConfig_End(), QRN_OK);

    ASSERT_EQ(QRN_NET_SmartConfig_Begin(0, "zyxwvuts", "other"), QRN_OK) << "a new broadcast after End";
    const std::vector<int> cycle = recorder.cycle();
    ASSERT_EQ(cycle.size(), 4u + 2 + 16 + 2 + 10 + 2 + 1);
    EXPECT_EQ(cycle[6], 450 + 'z');
    EXPECT_EQ(cycle[22], 620 + 5);
}

double process_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

TEST(SmartConfigBegin, HostWithoutBroadcastAddressWaitsInsteadOfSpinning)
{
    BroadcastList broadcast({});
    const double cpu_before = process_cpu_seconds();
    Broadcasting sending("abcdefgh", nullptr);
    ASSERT_EQ(sending.result, QRN_OK) << "it sends once an address appears";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(process_cpu_seconds() - cpu_before, 0.1) << "a spinning sender would use the whole half second";

    const auto ending = std::chrono::steady_clock::now();
    EXPECT_EQ(QRN_NET_SmartConfig_End(), QRN_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - ending, std::chrono::milliseconds(500)) << "End cuts the wait short";
}

}  // namespace
