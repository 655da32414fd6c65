// Any payload a broker delivers, and any init string a caller passes: the
// signalling messages, the retained status, the channel framing inside a
// session and the init string's letters. What decodes must encode and
// decode again to the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "channel_frames.h"
#include "init_string.h"
#include "input_split.h"
#include "signal_message.h"

namespace {

constexpr size_t kMaxFeeds = 256;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool same_message(const pppp::SignalMessage &a, const pppp::SignalMessage &b)
{
    return a.type == b.type && a.session == b.session && a.from == b.from && a.ice.ufrag == b.ice.ufrag &&
           a.ice.pwd == b.ice.pwd && a.ice.candidates[0] == b.ice.candidates[0] &&
           a.ice.candidates[1] == b.ice.candidates[1] && a.reason == b.reason;
}

void signal_message(const char *payload, size_t length)
{
    pppp::SignalMessage message;
    if (!pppp::decode_message(payload, length, &message))
        return;
    require(pppp::valid_session_token(message.session));
    require(message.type != pppp::MessageType::offer || pppp::valid_id(message.from));
    for (const auto &candidates : message.ice.candidates)
        require(candidates.size() <= pppp::kMaxCandidatesPerComponent);
    const std::string again = pppp::encode_message(message);
    pppp::SignalMessage decoded;
    require(pppp::decode_message(again.data(), again.size(), &decoded) && same_message(message, decoded));
}

void status(const char *payload, size_t length)
{
    bool online = false;
    if (!pppp::decode_status(payload, length, &online))
        return;
    const std::string again = pppp::encode_status(online);
    bool decoded = !online;
    require(pppp::decode_status(again.data(), again.size(), &decoded) && decoded == online);
}

void init_string(const char *letters, size_t length)
{
    pppp::InitConfig config;
    if (pppp::decode_init_string(std::string(letters, length), &config) != pppp::DecodeResult::ok)
        return;
    require(!config.broker_host.empty() && config.broker_port != 0 && !config.relay_host.empty() &&
            config.relay_port != 0);
    std::string again;
    require(pppp::encode_init_string(config, &again));
    pppp::InitConfig decoded;
    require(pppp::decode_init_string(again, &decoded) == pppp::DecodeResult::ok);
    require(decoded.broker_host == config.broker_host && decoded.broker_port == config.broker_port &&
            decoded.relay_host == config.relay_host && decoded.relay_port == config.relay_port &&
            decoded.user == config.user && decoded.password == config.password &&
            decoded.relay_only == config.relay_only);
}

// Counts what the parser hands on and holds it to the frame limits.
struct CountingSink : pppp::FrameParser::Sink {
    size_t data_bytes = 0;
    bool on_data(const uint8_t *bytes, size_t length) override
    {
        require(length > 0 && length <= pppp::kMaxFramePayload);
        volatile uint8_t sink = 0;
        for (size_t i = 0; i < length; ++i)
            sink ^= bytes[i];
        (void)sink;
        data_bytes += length;
        return true;
    }
    bool on_credit(uint32_t bytes) override
    {
        require(bytes > 0 && bytes <= pppp::kChannelWindow);
        return true;
    }
};

// The stream arrives in pieces of any size.
void channel_frames(const uint8_t *data, size_t size)
{
    pppp::FrameParser parser;
    CountingSink sink;
    size_t fed = 0;
    for (const std::vector<uint8_t> &piece : fuzzing::split_input(data, size, kMaxFeeds)) {
        if (piece.empty())
            continue;
        fed += piece.size();
        if (!parser.feed(piece.data(), piece.size(), sink))
            break;
        require(sink.data_bytes < fed);  // every payload byte came after a header
    }
}

}  // namespace

// The first byte picks the parser; the rest is its input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *text = reinterpret_cast<const char *>(data + 1);
    switch (data[0] % 4) {
    case 0:
        signal_message(text, size - 1);
        break;
    case 1:
        status(text, size - 1);
        break;
    case 2:
        init_string(text, size - 1);
        break;
    default:
        channel_frames(data + 1, size - 1);
        break;
    }
    return 0;
}
