#include "init_string.h"

#include <vector>

namespace pppp {
namespace {

// Version 1 layout: version, flags (bit 0 relay only), then broker host,
// broker port, relay host, relay port, user, password. Texts are a length
// byte and that many bytes; ports are big-endian 16-bit.
constexpr uint8_t kVersion = 1;
constexpr uint8_t kFlagRelayOnly = 0x01;
constexpr size_t kMaxText = 255;
constexpr size_t kMaxLetters = 2 * (2 + 4 * (1 + kMaxText) + 2 * 2);

void put_text(std::vector<uint8_t> &out, const std::string &text)
{
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void put_port(std::vector<uint8_t> &out, uint16_t port)
{
    out.push_back(static_cast<uint8_t>(port >> 8));
    out.push_back(static_cast<uint8_t>(port & 0xff));
}

class Reader {
public:
    explicit Reader(const std::vector<uint8_t> &bytes) : mBytes(bytes) {}
    bool byte(uint8_t *value)
    {
        if (mPos >= mBytes.size())
            return false;
        *value = mBytes[mPos++];
        return true;
    }
    bool port(uint16_t *value)
    {
        uint8_t high, low;
        if (!byte(&high) || !byte(&low))
            return false;
        *value = static_cast<uint16_t>(high << 8 | low);
        return true;
    }
    bool text(std::string *value)
    {
        uint8_t length;
        if (!byte(&length) || mBytes.size() - mPos < length)
            return false;
        value->assign(mBytes.begin() + mPos, mBytes.begin() + mPos + length);
        mPos += length;
        return true;
    }
    bool at_end() const { return mPos == mBytes.size(); }

private:
    const std::vector<uint8_t> &mBytes;
    size_t mPos = 0;
};

// Hosts and credentials end up in MQTT and TURN requests and in logs:
// printable ASCII only, no spaces.
bool printable(const std::string &text)
{
    for (unsigned char c : text)
        if (c <= 0x20 || c >= 0x7f)
            return false;
    return true;
}

}  // namespace

const char *decode_result_text(DecodeResult result)
{
    switch (result) {
    case DecodeResult::ok:
        return "ok";
    case DecodeResult::bad_letter:
        return "a character outside A..P";
    case DecodeResult::odd_length:
        return "an odd number of letters";
    case DecodeResult::too_long:
        return "longer than any init string";
    case DecodeResult::bad_version:
        return "an unknown format version";
    case DecodeResult::truncated:
        return "a field runs past the end";
    case DecodeResult::bad_field:
        return "a field with a value that is not allowed";
    case DecodeResult::trailing_bytes:
        return "bytes after the last field";
    }
    return "unknown";
}

bool encode_init_string(const InitConfig &config, std::string *letters)
{
    for (const std::string *text : {&config.broker_host, &config.relay_host, &config.user, &config.password})
        if (text->size() > kMaxText)
            return false;
    std::vector<uint8_t> bytes{kVersion, static_cast<uint8_t>(config.relay_only ? kFlagRelayOnly : 0)};
    put_text(bytes, config.broker_host);
    put_port(bytes, config.broker_port);
    put_text(bytes, config.relay_host);
    put_port(bytes, config.relay_port);
    put_text(bytes, config.user);
    put_text(bytes, config.password);
    letters->clear();
    for (uint8_t b : bytes) {
        letters->push_back(static_cast<char>('A' + (b >> 4)));
        letters->push_back(static_cast<char>('A' + (b & 0x0f)));
    }
    return true;
}

DecodeResult decode_init_string(const std::string &letters, InitConfig *config)
{
    if (letters.empty()) {
        *config = InitConfig{};
        return DecodeResult::ok;
    }
    if (letters.size() > kMaxLetters)
        return DecodeResult::too_long;
    for (char c : letters)
        if (c < 'A' || c > 'P')
            return DecodeResult::bad_letter;
    if (letters.size() % 2 != 0)
        return DecodeResult::odd_length;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < letters.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>((letters[i] - 'A') << 4 | (letters[i + 1] - 'A')));

    Reader reader(bytes);
    uint8_t version, flags;
    if (!reader.byte(&version))
        return DecodeResult::truncated;
    if (version != kVersion)
        return DecodeResult::bad_version;
    InitConfig decoded;
    if (!reader.byte(&flags) || !reader.text(&decoded.broker_host) || !reader.port(&decoded.broker_port) ||
        !reader.text(&decoded.relay_host) || !reader.port(&decoded.relay_port) || !reader.text(&decoded.user) ||
        !reader.text(&decoded.password))
        return DecodeResult::truncated;
    if (!reader.at_end())
        return DecodeResult::trailing_bytes;
    if ((flags & ~kFlagRelayOnly) != 0 || decoded.broker_host.empty() || decoded.relay_host.empty() ||
        decoded.broker_port == 0 || decoded.relay_port == 0)
        return DecodeResult::bad_field;
    for (const std::string *text : {&decoded.broker_host, &decoded.relay_host, &decoded.user, &decoded.password})
        if (!printable(*text))
            return DecodeResult::bad_field;
    decoded.relay_only = (flags & kFlagRelayOnly) != 0;
    *config = decoded;
    return DecodeResult::ok;
}

}  // namespace pppp
