#include "wireless_model.h"

#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint16_t kSetStation = 0x6002;
constexpr uint16_t kSetApClient = 0x6003;
constexpr uint16_t kSetAp = 0x6004;
constexpr uint16_t kRestartNetwork = 0x6005;
constexpr uint16_t kSetApChannel = 0x6006;
constexpr uint16_t kGetStation = 0x6007;
constexpr uint16_t kGetApClient = 0x6008;
constexpr uint16_t kGetAp = 0x6009;
constexpr uint16_t kGetApChannel = 0x600A;
constexpr uint16_t kCloseApClient = 0x6011;
constexpr uint16_t kSetApHidden = 0x6012;
constexpr uint16_t kGetApHidden = 0x6013;
constexpr uint16_t kGetNetType = 0x6016;

// Name and passphrase, each NUL-terminated in 40 bytes.
constexpr size_t kFieldSize = 40;
constexpr size_t kConfigSize = 2 * kFieldSize;
constexpr size_t kMaxSsid = 32;  // what 802.11 allows
constexpr size_t kMinPassphrase = 8;
constexpr uint32_t kMaxChannel = 13;

std::vector<uint8_t> encode(const WirelessNetwork &network)
{
    std::vector<uint8_t> out(kConfigSize, 0);
    const size_t ssid = std::min(network.ssid.size(), kFieldSize - 1);
    const size_t passphrase = std::min(network.passphrase.size(), kFieldSize - 1);
    std::copy_n(network.ssid.begin(), ssid, out.begin());
    std::copy_n(network.passphrase.begin(), passphrase, out.begin() + kFieldSize);
    return out;
}

// A field's text; false when it runs past its 40 bytes.
bool field_text(const uint8_t *field, std::string *text)
{
    const uint8_t *nul = std::find(field, field + kFieldSize, uint8_t{0});
    if (nul == field + kFieldSize)
        return false;
    text->assign(field, nul);
    return true;
}

bool decode(const std::vector<uint8_t> &payload, WirelessNetwork *network)
{
    WirelessNetwork decoded;
    if (payload.size() != kConfigSize || !field_text(payload.data(), &decoded.ssid) ||
        !field_text(payload.data() + kFieldSize, &decoded.passphrase))
        return false;
    if (decoded.ssid.empty() || decoded.ssid.size() > kMaxSsid || decoded.passphrase.size() < kMinPassphrase)
        return false;
    *network = decoded;
    return true;
}

std::vector<uint8_t> u32_bytes(uint32_t value)
{
    std::vector<uint8_t> out(4);
    wire::put_u32(out.data(), value);
    return out;
}

bool takes_nothing(uint16_t code)
{
    switch (code) {
    case kRestartNetwork:
    case kGetStation:
    case kGetApClient:
    case kGetAp:
    case kGetApChannel:
    case kCloseApClient:
    case kGetApHidden:
    case kGetNetType:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool WirelessModel::handles(uint16_t code)
{
    return takes_nothing(code) || code == kSetStation || code == kSetApClient || code == kSetAp ||
           code == kSetApChannel || code == kSetApHidden;
}

// A new role takes effect at once; the probe keeps the settings of the
// others for when it returns to them.
WirelessAnswer WirelessModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    WirelessAnswer a;
    if (takes_nothing(code) && !payload.empty()) {
        a.status = wire::kStatusBadArgument;
        return a;
    }
    const bool word = payload.size() == 4;
    const uint32_t value = word ? wire::get_u32(payload.data()) : 0;
    bool accepted = true;
    switch (code) {
    case kSetStation:
        accepted = decode(payload, &settings_.station);
        if (accepted)
            settings_.net_type = kNetTypeStation;
        break;
    case kSetApClient:
        accepted = decode(payload, &settings_.ap_client);
        if (accepted)
            settings_.net_type = kNetTypeApClient;
        break;
    case kSetAp:
        accepted = decode(payload, &settings_.ap);
        break;
    case kCloseApClient:
        if (settings_.net_type == kNetTypeApClient)
            settings_.net_type = kNetTypeAp;
        break;
    case kRestartNetwork:
        break;
    case kSetApChannel:
        accepted = word && value >= 1 && value <= kMaxChannel;
        if (accepted)
            settings_.ap_channel = value;
        break;
    case kSetApHidden:
        accepted = word && value <= 1;
        if (accepted)
            settings_.ap_hidden = value;
        break;
    case kGetStation:
        a.payload = encode(settings_.station);
        break;
    case kGetApClient:
        a.payload = encode(settings_.ap_client);
        break;
    case kGetAp:
        a.payload = encode(settings_.ap);
        break;
    case kGetApChannel:
        a.payload = u32_bytes(settings_.ap_channel);
        break;
    case kGetApHidden:
        a.payload = u32_bytes(settings_.ap_hidden);
        break;
    case kGetNetType:
        a.payload = u32_bytes(settings_.net_type);
        break;
    default:
        a.status = wire::kStatusUnsupported;
        return a;
    }
    if (!accepted)
        a.status = wire::kStatusBadArgument;
    return a;
}

}  // namespace probesim
