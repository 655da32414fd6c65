// What a hostile or stuck module can do to a session through its stream
// connection, against a hand-driven fake module on its own loopback address.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "fake_module.h"
#include "session_table.h"
#include "stream_reader.h"
#include "stream_session.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kCodeSetBcastEchoPasswd = 0x000E;
constexpr uint8_t kStreamVideo = 0;
constexpr uint8_t kStreamParamChange = 4;

struct FakeSession {
    std::unique_ptr<FakeModule> module;
    int handle = 0;
    SessionContext *session = nullptr;
};

// A session to a fresh fake module whose stream connection is not up yet.
::testing::AssertionResult open_session(FakeSession &s)
{
    s.module = std::make_unique<FakeModule>(next_loopback_address());
    if (!s.module->start())
        return ::testing::AssertionFailure() << "fake module cannot listen on " << s.module->address();
    if (QRN_NET_ConnectDevice(&s.handle, s.module->address().c_str(), nullptr) != 0)
        return ::testing::AssertionFailure() << "no login";
    s.session = session_lookup(s.handle);
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> video_frame(uint32_t sequence, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> payload =
        u32_words({0, 2, (320u << 16) | 240u, sequence, 0, 0, static_cast<uint32_t>(data.size())});
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

struct SendCase {
    const char *name;
    int (*begin)(int handle);
    int (*send)(int handle, const void *data, int length);
};

// Audio and serial sends to a module that has stopped reading end with a
// time-out instead of holding the session's command lock for ever: the
// next command and the teardown go through.
TEST(HostileModule, SendToAModuleThatStopsReadingTimesOut)
{
    const SendCase cases[] = {
        {"audio", QRN_NET_Audio_Begin, QRN_NET_Audio_SendData},
        {"serial", QRN_NET_Serial_Begin, QRN_NET_Serial_SendData},
    };
    for (const SendCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeSession s;
        ASSERT_TRUE(open_session(s));
        ASSERT_TRUE(s.module->connect_back(4096));
        ASSERT_TRUE(eventually([&] { return stream_channel_up(s.session); }));
        ASSERT_EQ(c.begin(s.handle), QRN_OK);

        // Zero bytes keep the send trace short.
        const std::vector<uint8_t> block(64 * 1024, 0);
        std::atomic<bool> done{false};
        int result = QRN_OK;
        Clock::duration last_call{};
        std::thread sender([&] {
            for (int i = 0; i < 4096 && result == QRN_OK; ++i) {
                const auto start = Clock::now();
                result = c.send(s.handle, block.data(), static_cast<int>(block.size()));
                last_call = Clock::now() - start;
            }
            done = true;
        });
        const bool returned = eventually([&] { return done.load(); }, std::chrono::seconds(30));
        if (!returned)
            s.module->close_stream();  // the reset frees the stuck send, so the test can end
        sender.join();
        ASSERT_TRUE(returned) << "the send never returned";
        EXPECT_EQ(result, QRN_ERR_TIMEOUT);
        EXPECT_LT(last_call, std::chrono::seconds(8)) << "bounded by the stream time-out";

        const auto start = Clock::now();
        const int again = c.send(s.handle, block.data(), static_cast<int>(block.size()));
        EXPECT_TRUE(again == QRN_ERR_TIMEOUT || again == QRN_ERR_IO) << again;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));

        EXPECT_EQ(QRN_NET_SetBcastEchoPasswd(s.handle, 7), QRN_OK) << "the command lock is free again";
        EXPECT_EQ(s.module->codes().back(), kCodeSetBcastEchoPasswd);
        QRN_NET_Disconnect(s.handle);
        EXPECT_TRUE(wait_released(s.handle, std::chrono::seconds(10))) << "the teardown finishes";
    }
}

// A stranger that reaches the data port first is turned away: the session,
// its listening socket and the real module's stream are left as they were.
TEST(HostileModule, StrangerOnTheDataPortIsTurnedAway)
{
    FakeSession s;
    ASSERT_TRUE(open_session(s));
    const int listening = s.session->listen_socket;

    const int stranger = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(stranger, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, next_loopback_address().c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.module->host_data_port());
    inet_pton(AF_INET, s.module->host_address().c_str(), &to.sin_addr);
    ASSERT_EQ(bind(stranger, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    ASSERT_EQ(connect(stranger, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    // The host hangs up on the stranger at once.
    pollfd p{stranger, POLLIN, 0};
    char byte = 0;
    const bool hung_up = poll(&p, 1, 5000) == 1 && recv(stranger, &byte, 1, 0) <= 0;
    close(stranger);
    EXPECT_TRUE(hung_up) << "the stranger was kept waiting";

    ASSERT_TRUE(s.module->connect_back());
    ASSERT_TRUE(eventually([&] { return stream_channel_up(s.session); }));
    const std::vector<uint8_t> data(500, 0x5A);
    ASSERT_TRUE(s.module->send_stream(FakeModule::stream_packet(kStreamVideo, 1, 0, video_frame(1, data))));
    ASSERT_TRUE(s.module->send_stream(FakeModule::stream_packet(kStreamParamChange, 1, 0, u32_words({160, 1}))));
    int flags = 0;
    ASSERT_TRUE(eventually([&] { return QRN_NET_Poll(s.handle, &flags, 100) == QRN_OK && (flags & POLL_PARAM); }))
        << "the session is still up and the module's stream flows";
    EXPECT_EQ(s.session->listen_socket, listening);
    FrameElement *element = nullptr;
    ASSERT_EQ(QRN_NET_Video_RequestVideoData1(s.handle, &element, nullptr), QRN_OK);
    EXPECT_EQ(element->header.sequence, 1u);
    ASSERT_EQ(element->header.length, data.size());
    EXPECT_EQ(element->data[0], 0x5A);
    QRN_NET_Video_ReleaseVideoData1(s.handle, element);
    EXPECT_TRUE(disconnect_and_wait(s.handle));
}

}  // namespace
