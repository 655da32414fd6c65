// The device's Wi-Fi roles: its own access point, a client link to another
// access point, and plain station. Nothing is cached: each call is one
// command, and the values are the device's.
#include <cstring>

#include "command_helpers.h"

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

constexpr int kFieldSize = 40;
constexpr int kMinPassphrase = 8;
constexpr int kMinApClientName = 3;
constexpr uint32_t kChannelCount = 13;

static_assert(sizeof(WirelessConfig) == 2 * kFieldSize, "name and passphrase fields");

// The text's length, or -1 when the field has no NUL inside its 40 bytes.
int field_length(const char *field)
{
    const void *nul = std::memchr(field, 0, kFieldSize);
    return nul ? static_cast<int>(static_cast<const char *>(nul) - field) : -1;
}

bool acceptable(const WirelessConfig *config, int min_name)
{
    if (!config)
        return false;
    const int name = field_length(config->ssid);
    const int passphrase = field_length(config->passphrase);
    return name >= min_name && passphrase >= kMinPassphrase;
}

// The block goes out as the caller gave it, bytes past the NULs included.
int send_config(int handle, uint16_t code, const WirelessConfig *config, int min_name)
{
    if (!acceptable(config, min_name))
        return QRN_ERR_FAILED;
    return send_to(handle, code, config, sizeof *config);
}

int read_config(int handle, uint16_t code, WirelessConfig *out)
{
    return out ? query_into(handle, code, out, sizeof *out) : QRN_ERR_FAILED;
}

int read_word(int handle, uint16_t code, int *out)
{
    return out ? query_into(handle, code, out, sizeof *out) : QRN_ERR_FAILED;
}

}  // namespace

extern "C" {

int QRN_NET_Wireless_GetApcliInfo(int handle, WirelessConfig *out)
{
    return read_config(handle, kGetApClient, out);
}

int QRN_NET_Wireless_SetApcliInfo(int handle, const WirelessConfig *config)
{
    return send_config(handle, kSetApClient, config, kMinApClientName);
}

int QRN_NET_Wireless_CloseApcli(int handle)
{
    return send_to(handle, kCloseApClient, nullptr, 0);
}

int QRN_NET_Wireless_GetApInfo(int handle, WirelessConfig *out)
{
    return read_config(handle, kGetAp, out);
}

int QRN_NET_Wireless_SetApInfo(int handle, const WirelessConfig *config)
{
    return send_config(handle, kSetAp, config, 1);
}

int QRN_NET_Wireless_GetApChn(int handle, int *channel)
{
    return read_word(handle, kGetApChannel, channel);
}

int QRN_NET_Wireless_SetApChn(int handle, uint32_t channel)
{
    if (channel - 1 >= kChannelCount)  // unsigned: 0 wraps round and is refused too
        return QRN_ERR_FAILED;
    return send_word_to(handle, kSetApChannel, channel);
}

int QRN_NET_Wireless_GetApHide(int handle, int *hidden)
{
    return read_word(handle, kGetApHidden, hidden);
}

int QRN_NET_Wireless_SetApHide(int handle, uint32_t hidden)
{
    return send_word_to(handle, kSetApHidden, hidden);
}

int QRN_NET_Wireless_GetStaInfo(int handle, WirelessConfig *out)
{
    return read_config(handle, kGetStation, out);
}

int QRN_NET_Wireless_SetStaInfo(int handle, const WirelessConfig *config)
{
    return send_config(handle, kSetStation, config, 1);
}

int QRN_NET_Wireless_SetStaMode(int handle, const WirelessConfig *config)
{
    return QRN_NET_Wireless_SetStaInfo(handle, config);
}

int QRN_NET_Wireless_GetNetType(int handle, int *type)
{
    return read_word(handle, kGetNetType, type);
}

int QRN_NET_Wireless_NetReboot(int handle)
{
    return send_to(handle, kRestartNetwork, nullptr, 0);
}

}  // extern "C"
