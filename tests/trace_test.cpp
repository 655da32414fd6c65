// The library's trace lines: escaped payloads, and the two switches that
// silence them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "test_support.h"
#include "trace.h"

using namespace testing_support;

namespace {

TEST(TraceEscaping, PayloadBytesCannotReachTheTerminalRaw)
{
    struct Case {
        const char *name;
        std::string bytes;
        int max_bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"printable text", "abc 123 ~[]", 64, "abc 123 ~[]"},
        {"clear-screen sequence", "\x1b[2J\x1b[H", 64, "\\x1b[2J\\x1b[H"},
        {"controls and high bytes", std::string("\r\n\t\x7f\x80\xff", 6), 64, "\\x0d\\x0a\\x09\\x7f\\x80\\xff"},
        {"an embedded NUL does not end the text", std::string("a\0b", 3), 64, "a\\x00b"},
        {"cut at the limit", "0123456789", 4, "0123..."},
        {"exactly the limit", "0123", 4, "0123"},
        {"nothing", "", 64, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(escaped_bytes(c.bytes.data(), static_cast<int>(c.bytes.size()), c.max_bytes), c.shown) << c.name;
}

// Sets or removes QRN_NET_TRACE for one scope.
class TraceEnvironment {
public:
    explicit TraceEnvironment(const char *value)
    {
        if (const char *old = std::getenv("QRN_NET_TRACE"))
            saved_ = old;
        if (value)
            setenv("QRN_NET_TRACE", value, 1);
        else
            unsetenv("QRN_NET_TRACE");
    }
    ~TraceEnvironment()
    {
        if (saved_)
            setenv("QRN_NET_TRACE", saved_->c_str(), 1);
        else
            unsetenv("QRN_NET_TRACE");
    }

private:
    std::optional<std::string> saved_;
};

// What one control text sends to standard output; the call traces it
// before it goes to the module.
std::string traced_by_control_text(int handle)
{
    testing::internal::CaptureStdout();
    const int result = QRN_NET_SetCmdCtrl(handle, "trace-me");
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, QRN_OK);
    return out;
}

TEST(TraceSwitch, EnvironmentOrCallSilencesEveryLine)
{
    RunningSim running = start_sim();
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);

    struct Case {
        const char *name;
        const char *environment;  // NULL: unset
        int set_trace;
        bool traced;
    };
    // One case per line reads as a table.
    // clang-format off
    const Case cases[] = {
        {"on by default", nullptr, 1, true},
        {"QRN_NET_TRACE=1", "1", 1, true},
        {"QRN_NET_TRACE=0", "0", 1, false},
        {"QRN_NET_SetTrace(0)", nullptr, 0, false},
        {"both off", "0", 0, false},
        {"on again", nullptr, 1, true},
    };
    // clang-format on
    for (const Case &c : cases) {
        TraceEnvironment environment(c.environment);
        QRN_NET_SetTrace(c.set_trace);
        const std::string out = traced_by_control_text(handle);
        if (c.traced)
            EXPECT_EQ(out, "[8]cmdCtrl:trace-me\n") << c.name;
        else
            EXPECT_EQ(out, "") << c.name;
    }
    QRN_NET_SetTrace(1);
    EXPECT_TRUE(disconnect_and_wait(handle));
}

}  // namespace
