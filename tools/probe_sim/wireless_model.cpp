#include "wireless_model.h"

#include "probe_wire.h"

#include <algorithm>
#include <utility>

namespace probesim {

namespace {

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
    case wire::kRestartNetwork:
    case wire::kGetStation:
    case wire::kGetApClient:
    case wire::kGetAp:
    case wire::kGetApChannel:
    case wire::kCloseApClient:
    case wire::kGetApHidden:
    case wire::kGetNetType:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool WirelessModel::handles(uint16_t code)
{
    return takes_nothing(code) || code == wire::kSetStation || code == wire::kSetApClient || code == wire::kSetAp ||
           code == wire::kSetApChannel || code == wire::kSetApHidden;
}

// A new role takes effect at once; the probe keeps the settings of the
// others for when it returns to them.
ModelAnswer WirelessModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    if (takes_nothing(code) && !payload.empty())
        return status_answer<ModelAnswer>(wire::kStatusBadArgument);
    ModelAnswer a;
    const bool word = payload.size() == 4;
    const uint32_t value = word ? wire::get_u32(payload.data()) : 0;
    bool accepted = true;
    switch (code) {
    case wire::kSetStation:
        accepted = decode(payload, &settings_.station);
        if (accepted)
            settings_.net_type = kNetTypeStation;
        break;
    case wire::kSetApClient:
        accepted = decode(payload, &settings_.ap_client);
        if (accepted)
            settings_.net_type = kNetTypeApClient;
        break;
    case wire::kSetAp:
        accepted = decode(payload, &settings_.ap);
        break;
    case wire::kCloseApClient:
        if (settings_.net_type == kNetTypeApClient)
            settings_.net_type = kNetTypeAp;
        break;
    case wire::kRestartNetwork:
        break;
    case wire::kSetApChannel:
        accepted = word && value >= 1 && value <= kMaxChannel;
        if (accepted)
            settings_.ap_channel = value;
        break;
    case wire::kSetApHidden:
        accepted = word && value <= 1;
        if (accepted)
            settings_.ap_hidden = value;
        break;
    case wire::kGetStation:
        a.payload = encode(settings_.station);
        break;
    case wire::kGetApClient:
        a.payload = encode(settings_.ap_client);
        break;
    case wire::kGetAp:
        a.payload = encode(settings_.ap);
        break;
    case wire::kGetApChannel:
        a.payload = u32_bytes(settings_.ap_channel);
        break;
    case wire::kGetApHidden:
        a.payload = u32_bytes(settings_.ap_hidden);
        break;
    case wire::kGetNetType:
        a.payload = u32_bytes(settings_.net_type);
        break;
    default:
        return status_answer<ModelAnswer>(wire::kStatusUnsupported);
    }
    return refused_unless(accepted, std::move(a));
}

}  // namespace probesim
