// Signalling messages come from anyone who can publish on the broker: a
// valid one round-trips, anything else is dropped.
#include "signal_message.h"

#include <gtest/gtest.h>

#include <string>

using pppp::MessageType;
using pppp::SignalMessage;

namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef";

bool decodes(const std::string &payload, SignalMessage *message = nullptr)
{
    SignalMessage scratch;
    return pppp::decode_message(payload.data(), payload.size(), message ? message : &scratch);
}

std::string offer_with(const std::string &c1)
{
    return R"({"v":1,"type":"offer","session":")" + kToken +
           R"(","from":"h1","ufrag":"abcd","pwd":"0123456789012345678901","c1":)" + c1 + R"(,"c2":["a=candidate:x"]})";
}

TEST(SignalMessage, OfferRoundTrips)
{
    SignalMessage offer;
    offer.type = MessageType::offer;
    offer.session = kToken;
    offer.from = "h0123456789abcdef";
    offer.ice.ufrag = "abcd";
    offer.ice.pwd = "0123456789012345678901";
    offer.ice.candidates[0] = {"a=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ host"};
    offer.ice.candidates[1] = {"a=candidate:1 2 UDP 2013266430 127.0.0.1 40001 typ host",
                               "a=candidate:2 2 UDP 16777215 127.0.0.1 49152 typ relay raddr 127.0.0.1 rport 40001"};
    SignalMessage decoded;
    ASSERT_TRUE(decodes(pppp::encode_message(offer), &decoded));
    EXPECT_EQ(decoded.type, MessageType::offer);
    EXPECT_EQ(decoded.session, offer.session);
    EXPECT_EQ(decoded.from, offer.from);
    EXPECT_EQ(decoded.ice.ufrag, offer.ice.ufrag);
    EXPECT_EQ(decoded.ice.pwd, offer.ice.pwd);
    EXPECT_EQ(decoded.ice.candidates[0], offer.ice.candidates[0]);
    EXPECT_EQ(decoded.ice.candidates[1], offer.ice.candidates[1]);
}

TEST(SignalMessage, CandidatesOutsideTheGrammarAreLeftOut)
{
    const std::string good = "a=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ host";
    SignalMessage decoded;
    ASSERT_TRUE(decodes(offer_with(R"([")" + good + R"(",
        "a=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ",
        "a=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ host raddr",
        "a=candidate:1 1 UDP high 127.0.0.1 40000 typ host",
        "a=candidate:1 1 UDP 2013266431 127.0.0.1 400000 typ host",
        "a=candidate:1 1 TCP 2013266431 127.0.0.1 40000 typ host tcptype passive",
        "a=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ nat",
        "m=candidate:1 1 UDP 2013266431 127.0.0.1 40000 typ host",
        "candidate:2 1 UDP 16777215 127.0.0.2 49152 typ relay raddr 127.0.0.1 rport 40000"])"),
                        &decoded));
    EXPECT_EQ(decoded.ice.candidates[0],
              (std::vector<std::string>{good,
                                        "candidate:2 1 UDP 16777215 127.0.0.2 49152 typ relay raddr 127.0.0.1 "
                                        "rport 40000"}));
}

TEST(SignalMessage, StatusRoundTripsAndRejectsOthers)
{
    for (bool online : {true, false}) {
        std::string payload = pppp::encode_status(online);
        bool decoded = !online;
        ASSERT_TRUE(pppp::decode_status(payload.data(), payload.size(), &decoded));
        EXPECT_EQ(decoded, online);
    }
    bool state;
    for (std::string bad : std::initializer_list<std::string>{
             R"({"v":1,"state":"maybe"})", R"({"v":2,"state":"online"})", R"({"state":"online"})", R"(["online"])",
             R"({"v":1,"state":1})", std::string("\xff\xfe", 2)})
        EXPECT_FALSE(pppp::decode_status(bad.data(), bad.size(), &state)) << bad;
}

TEST(SignalMessage, DropsHostileMessages)
{
    std::string seventeen = "[";
    for (int i = 0; i < 17; ++i)
        seventeen += std::string(i ? "," : "") + "\"a=candidate:x\"";
    seventeen += "]";
    struct Case {
        const char *name;
        std::string payload;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "offer please"},
        {"truncated", offer_with("[]").substr(0, 40)},
        {"array at the top", "[1,2,3]"},
        {"no version", R"({"type":"bye","session":")" + kToken + R"("})"},
        {"version 2", R"({"v":2,"type":"bye","session":")" + kToken + R"("})"},
        {"version as text", R"({"v":"1","type":"bye","session":")" + kToken + R"("})"},
        {"unknown type", R"({"v":1,"type":"hello","session":")" + kToken + R"("})"},
        {"type not a string", R"({"v":1,"type":7,"session":")" + kToken + R"("})"},
        {"short token", R"({"v":1,"type":"bye","session":"abc"})"},
        {"upper-case token", R"({"v":1,"type":"bye","session":"0123456789ABCDEF0123456789ABCDEF"})"},
        {"offer from a topic wildcard", offer_with("[]").replace(offer_with("[]").find("h1"), 2, "h/#")},
        {"candidates not an array", offer_with(R"("a=candidate:x")")},
        {"candidate not a string", offer_with("[1]")},
        {"seventeen candidates", offer_with(seventeen)},
        {"candidate too long", offer_with("[\"" + std::string(600, 'c') + "\"]")},
        {"candidate with a newline", offer_with(R"(["a=candidate:x\nb"])")},
        {"deep nesting", std::string(5000, '[') + std::string(5000, ']')},
        {"too large", R"({"v":1,"type":"bye","session":")" + kToken + R"(","pad":")" + std::string(20000, 'p') + "\"}"},
        {"answer without credentials", R"({"v":1,"type":"answer","session":")" + kToken + R"(","c1":[],"c2":[]})"},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(decodes(c.payload)) << c.name;
    EXPECT_TRUE(decodes(offer_with("[]"))) << "the unmodified offer";
    EXPECT_TRUE(decodes(R"({"v":1,"type":"bye","session":")" + kToken + R"("})")) << "a plain bye";
}

}  // namespace
