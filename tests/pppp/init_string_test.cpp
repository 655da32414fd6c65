// Init strings: what encodes comes back the same; what does not decode is
// refused with the reason, whatever the letters.
#include "init_string.h"

#include <gtest/gtest.h>

#include <string>

using pppp::DecodeResult;
using pppp::InitConfig;

namespace {

std::string encode(const InitConfig &config)
{
    std::string letters;
    EXPECT_TRUE(pppp::encode_init_string(config, &letters));
    return letters;
}

// Letters for raw bytes, to build strings the encoder would never make.
std::string letters_of(const std::string &bytes)
{
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(char('A' + (b >> 4)));
        out.push_back(char('A' + (b & 15)));
    }
    return out;
}

TEST(InitString, EncodesTwoLettersPerByteHighNibbleFirst)
{
    InitConfig config;
    config.broker_host = "b";
    config.broker_port = 0x075b;
    config.relay_host = "r";
    config.relay_port = 0x0d96;
    config.user = "u";
    config.password = "p";
    config.relay_only = true;
    // version 1, flags 1, "b", port, "r", port, "u", "p"
    EXPECT_EQ(encode(config), letters_of(std::string("\x01\x01\x01"
                                                     "b\x07\x5b\x01r\x0d\x96\x01u\x01p",
                                                     14)));
}

TEST(InitString, RoundTripsEveryField)
{
    InitConfig config;
    config.broker_host = "broker.example.net";
    config.broker_port = 8883;
    config.relay_host = "10.20.30.40";
    config.relay_port = 65535;
    config.user = "user-1";
    config.password = std::string(255, 'x');
    for (bool relay_only : {false, true}) {
        config.relay_only = relay_only;
        InitConfig decoded;
        ASSERT_EQ(pppp::decode_init_string(encode(config), &decoded), DecodeResult::ok);
        EXPECT_EQ(decoded.broker_host, config.broker_host);
        EXPECT_EQ(decoded.broker_port, config.broker_port);
        EXPECT_EQ(decoded.relay_host, config.relay_host);
        EXPECT_EQ(decoded.relay_port, config.relay_port);
        EXPECT_EQ(decoded.user, config.user);
        EXPECT_EQ(decoded.password, config.password);
        EXPECT_EQ(decoded.relay_only, relay_only);
    }
}

TEST(InitString, EmptyStringMeansTheLoopbackDefaults)
{
    InitConfig decoded;
    decoded.broker_host = "elsewhere";
    ASSERT_EQ(pppp::decode_init_string("", &decoded), DecodeResult::ok);
    EXPECT_EQ(decoded.broker_host, "127.0.0.1");
    EXPECT_EQ(decoded.broker_port, 1883);
    EXPECT_EQ(decoded.relay_host, "127.0.0.1");
    EXPECT_EQ(decoded.relay_port, 3478);
    EXPECT_FALSE(decoded.relay_only);
}

TEST(InitString, TextTooLongForItsLengthByteIsNotEncoded)
{
    InitConfig config;
    config.user = std::string(256, 'u');
    std::string letters;
    EXPECT_FALSE(pppp::encode_init_string(config, &letters));
}

TEST(InitString, RefusesWhatDoesNotDecode)
{
    const std::string good = encode(InitConfig{});
    const std::string body(
        "\x01\x00\x01"
        "b\x07\x5b\x01r\x0d\x96\x01u\x01p",
        14);
    struct Case {
        const char *name;
        std::string letters;
        DecodeResult expected;
    } cases[] = {
        {"lower case", "abab", DecodeResult::bad_letter},
        {"letter after P", "ABAQ", DecodeResult::bad_letter},
        {"digit", "AB0B", DecodeResult::bad_letter},
        {"NUL inside", std::string("AB\0B", 4), DecodeResult::bad_letter},
        {"high byte",
         "AB\xc3\x84"
         "B",
         DecodeResult::bad_letter},
        {"odd length", good.substr(0, good.size() - 1), DecodeResult::odd_length},
        {"version 0", "AA" + good.substr(2), DecodeResult::bad_version},
        {"version 2", "AC" + good.substr(2), DecodeResult::bad_version},
        {"version only", "AB", DecodeResult::truncated},
        {"cut inside a field", good.substr(0, good.size() - 4), DecodeResult::truncated},
        {"length past the end",
         letters_of(std::string("\x01\x00\xff"
                                "abc",
                                6)),
         DecodeResult::truncated},
        {"trailing byte", good + "AA", DecodeResult::trailing_bytes},
        {"unknown flag", letters_of(std::string(body).replace(1, 1, "\x02")), DecodeResult::bad_field},
        {"port 0", letters_of(std::string(body).replace(4, 2, std::string("\0\0", 2))), DecodeResult::bad_field},
        {"empty host", letters_of(std::string("\x01\x00\x00\x07\x5b\x01r\x0d\x96\x01u\x01p", 13)),
         DecodeResult::bad_field},
        {"space in host", letters_of(std::string(body).replace(3, 1, " ")), DecodeResult::bad_field},
        {"control character", letters_of(std::string(body).replace(13, 1, "\n")), DecodeResult::bad_field},
        {"far too long", std::string(1 << 20, 'A'), DecodeResult::too_long},
    };
    for (const Case &c : cases) {
        InitConfig decoded;
        decoded.broker_host = "untouched";
        EXPECT_EQ(pppp::decode_init_string(c.letters, &decoded), c.expected) << c.name;
        EXPECT_EQ(decoded.broker_host, "untouched") << c.name;
    }
    InitConfig decoded;
    EXPECT_EQ(pppp::decode_init_string(letters_of(body), &decoded), DecodeResult::ok) << "the unmodified body";
}

}  // namespace
