// Wireless settings against a simulated probe: what the checks refuse, what
// goes on the wire, and what the probe keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe_session.h"
#include "probe_wire.h"

using namespace testing_support;
using probesim::Fault;
using probesim::ReceivedPacket;
using probesim::WirelessSettings;

namespace {

using probesim::wire::kCloseApClient;
using probesim::wire::kRestartNetwork;
using probesim::wire::kSetAp;
using probesim::wire::kSetApChannel;
using probesim::wire::kSetApClient;
using probesim::wire::kSetApHidden;
using probesim::wire::kSetStation;

WirelessConfig config(const char *ssid, const char *passphrase)
{
    WirelessConfig c{};
    std::strncpy(c.ssid, ssid, sizeof c.ssid - 1);
    std::strncpy(c.passphrase, passphrase, sizeof c.passphrase - 1);
    return c;
}

// Fields filled to the brim: no NUL inside their 40 bytes.
WirelessConfig unterminated_name()
{
    WirelessConfig c = config("", "password");
    std::memset(c.ssid, 'n', sizeof c.ssid);
    return c;
}

WirelessConfig unterminated_passphrase()
{
    WirelessConfig c = config("net", "");
    std::memset(c.passphrase, 'p', sizeof c.passphrase);
    return c;
}

std::string text_of(const char (&field)[40])
{
    return std::string(field, strnlen(field, sizeof field));
}

// ---- argument checks ----------------------------------------------------------

struct NamedCall {
    const char *name;
    int (*call)(int handle);
};

const WirelessConfig kTwoCharName = config("ab", "password");
const WirelessConfig kSevenCharPassphrase = config("network", "passwor");
const WirelessConfig kEmptyName = config("", "password");
const WirelessConfig kNoNulInName = unterminated_name();
const WirelessConfig kNoNulInPassphrase = unterminated_passphrase();

const NamedCall kRefused[] = {
    {"GetApcliInfoNull", [](int h) { return QRN_NET_Wireless_GetApcliInfo(h, nullptr); }},
    {"GetApInfoNull", [](int h) { return QRN_NET_Wireless_GetApInfo(h, nullptr); }},
    {"GetStaInfoNull", [](int h) { return QRN_NET_Wireless_GetStaInfo(h, nullptr); }},
    {"GetApChnNull", [](int h) { return QRN_NET_Wireless_GetApChn(h, nullptr); }},
    {"GetApHideNull", [](int h) { return QRN_NET_Wireless_GetApHide(h, nullptr); }},
    {"GetNetTypeNull", [](int h) { return QRN_NET_Wireless_GetNetType(h, nullptr); }},
    {"SetApChn0", [](int h) { return QRN_NET_Wireless_SetApChn(h, 0); }},
    {"SetApChn14", [](int h) { return QRN_NET_Wireless_SetApChn(h, 14); }},
    {"SetApChnNegative", [](int h) { return QRN_NET_Wireless_SetApChn(h, static_cast<uint32_t>(-1)); }},
    {"SetApcliNull", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, nullptr); }},
    {"SetApNull", [](int h) { return QRN_NET_Wireless_SetApInfo(h, nullptr); }},
    {"SetStaNull", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, nullptr); }},
    {"SetStaModeNull", [](int h) { return QRN_NET_Wireless_SetStaMode(h, nullptr); }},
    {"ApcliTwoCharName", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, &kTwoCharName); }},
    {"ApcliShortPassphrase", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, &kSevenCharPassphrase); }},
    {"ApShortPassphrase", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kSevenCharPassphrase); }},
    {"StaShortPassphrase", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, &kSevenCharPassphrase); }},
    {"StaModeShortPassphrase", [](int h) { return QRN_NET_Wireless_SetStaMode(h, &kSevenCharPassphrase); }},
    {"ApEmptyName", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kEmptyName); }},
    {"StaEmptyName", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, &kEmptyName); }},
    {"ApNoNulInName", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kNoNulInName); }},
    {"StaNoNulInName", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, &kNoNulInName); }},
    {"ApcliNoNulInPassphrase", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, &kNoNulInPassphrase); }},
    {"ApNoNulInPassphrase", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kNoNulInPassphrase); }},
};

TEST(WirelessArguments, RefusedBeforeTheHandleAndNothingSent)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    for (const NamedCall &c : kRefused) {
        EXPECT_EQ(c.call(kBogusHandle), QRN_ERR_FAILED) << c.name;
        EXPECT_EQ(c.call(probe.handle), QRN_ERR_FAILED) << c.name;
    }
    EXPECT_TRUE(probe.sent().empty());
}

const WirelessConfig kGood = config("network", "password");

// One call per line reads as a table.
// clang-format off
const NamedCall kNeedingAHandle[] = {
    {"GetApcliInfo", [](int h) { WirelessConfig c; return QRN_NET_Wireless_GetApcliInfo(h, &c); }},
    {"SetApcliInfo", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, &kGood); }},
    {"CloseApcli", [](int h) { return QRN_NET_Wireless_CloseApcli(h); }},
    {"GetApInfo", [](int h) { WirelessConfig c; return QRN_NET_Wireless_GetApInfo(h, &c); }},
    {"SetApInfo", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kGood); }},
    {"GetApChn", [](int h) { int v; return QRN_NET_Wireless_GetApChn(h, &v); }},
    {"SetApChn", [](int h) { return QRN_NET_Wireless_SetApChn(h, 1); }},
    {"GetApHide", [](int h) { int v; return QRN_NET_Wireless_GetApHide(h, &v); }},
    {"SetApHide", [](int h) { return QRN_NET_Wireless_SetApHide(h, 1); }},
    {"GetStaInfo", [](int h) { WirelessConfig c; return QRN_NET_Wireless_GetStaInfo(h, &c); }},
    {"SetStaInfo", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, &kGood); }},
    {"SetStaMode", [](int h) { return QRN_NET_Wireless_SetStaMode(h, &kGood); }},
    {"GetNetType", [](int h) { int v; return QRN_NET_Wireless_GetNetType(h, &v); }},
    {"NetReboot", [](int h) { return QRN_NET_Wireless_NetReboot(h); }},
};
// clang-format on

TEST(WirelessArguments, InvalidHandleIsRefused)
{
    for (const NamedCall &c : kNeedingAHandle)
        EXPECT_EQ(c.call(kBogusHandle), QRN_ERR_INVALID_HANDLE) << c.name;
}

// ---- setters ----------------------------------------------------------------------

const WirelessConfig kApWithShortName = config("ab", "password");  // the AP has no three-letter rule
const WirelessConfig kClientLink = config("upstream", "passphrase1");
const WirelessConfig kHomeNetwork = config("home", "passphrase2");

struct SetterCase {
    const char *name;
    int (*call)(int handle);
    uint16_t code;
    Bytes payload;
    bool (*kept)(const WirelessSettings &settings);
};

const SetterCase kSetters[] = {
    {"ApChn13", [](int h) { return QRN_NET_Wireless_SetApChn(h, 13); }, kSetApChannel, le32_bytes(13),
     [](const WirelessSettings &s) { return s.ap_channel == 13; }},
    {"ApChn1", [](int h) { return QRN_NET_Wireless_SetApChn(h, 1); }, kSetApChannel, le32_bytes(1),
     [](const WirelessSettings &s) { return s.ap_channel == 1; }},
    {"ApHide", [](int h) { return QRN_NET_Wireless_SetApHide(h, 1); }, kSetApHidden, le32_bytes(1),
     [](const WirelessSettings &s) { return s.ap_hidden == 1; }},
    {"ApTwoCharName", [](int h) { return QRN_NET_Wireless_SetApInfo(h, &kApWithShortName); }, kSetAp,
     bytes_of(kApWithShortName), [](const WirelessSettings &s) { return s.ap.ssid == "ab"; }},
    {"Apcli", [](int h) { return QRN_NET_Wireless_SetApcliInfo(h, &kClientLink); }, kSetApClient, bytes_of(kClientLink),
     [](const WirelessSettings &s) {
         return s.ap_client.ssid == "upstream" && s.ap_client.passphrase == "passphrase1" &&
                s.net_type == probesim::kNetTypeApClient;
     }},
    {"Sta", [](int h) { return QRN_NET_Wireless_SetStaInfo(h, &kHomeNetwork); }, kSetStation, bytes_of(kHomeNetwork),
     [](const WirelessSettings &s) { return s.station.ssid == "home" && s.net_type == probesim::kNetTypeStation; }},
    {"CloseApcli",
     [](int h) { return QRN_NET_Wireless_CloseApcli(h); },
     kCloseApClient,
     {},
     [](const WirelessSettings &s) { return s.net_type == probesim::kNetTypeAp; }},
    {"NetReboot",
     [](int h) { return QRN_NET_Wireless_NetReboot(h); },
     kRestartNetwork,
     {},
     [](const WirelessSettings &) { return true; }},
};

TEST(WirelessSetters, SendTheirPayloadAndTheProbeKeepsIt)
{
    for (const SetterCase &c : kSetters) {
        ProbeSession probe;
        ASSERT_EQ(probe.connected, 0);
        EXPECT_EQ(c.call(probe.handle), 0) << c.name;
        const auto packets = probe.sent();
        ASSERT_EQ(packets.size(), 1u) << c.name;
        EXPECT_EQ(packets[0].code, c.code) << c.name;
        EXPECT_EQ(packets[0].payload, c.payload) << c.name;
        EXPECT_TRUE(c.kept(probe.sim().state().wireless)) << c.name;
    }
}

TEST(WirelessSetters, StaModeIsTheSameRequestAsStaInfo)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    WirelessConfig block = config("home", "passphrase");
    block.ssid[30] = 'x';  // past the NUL: the block still goes as it is
    block.passphrase[39] = 'y';
    ASSERT_EQ(QRN_NET_Wireless_SetStaInfo(probe.handle, &block), 0);
    ASSERT_EQ(QRN_NET_Wireless_SetStaMode(probe.handle, &block), 0);
    const auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].code, kSetStation);
    EXPECT_EQ(packets[1].code, packets[0].code);
    EXPECT_EQ(packets[0].payload, bytes_of(block));
    EXPECT_EQ(packets[1].payload, packets[0].payload);
}

// ---- getters ---------------------------------------------------------------------------

TEST(WirelessGetters, ReadWhatTheProbeHolds)
{
    const probesim::DeviceModel model;
    ProbeSession probe(model);
    ASSERT_EQ(probe.connected, 0);
    WirelessConfig read{};
    ASSERT_EQ(QRN_NET_Wireless_GetApInfo(probe.handle, &read), 0);
    EXPECT_EQ(text_of(read.ssid), model.wireless.ap.ssid);
    EXPECT_EQ(text_of(read.passphrase), model.wireless.ap.passphrase);
    ASSERT_EQ(QRN_NET_Wireless_GetStaInfo(probe.handle, &read), 0);
    EXPECT_EQ(text_of(read.ssid), "") << "no station network yet";
    int value = -1;
    ASSERT_EQ(QRN_NET_Wireless_GetApChn(probe.handle, &value), 0);
    EXPECT_EQ(static_cast<uint32_t>(value), model.wireless.ap_channel);
    ASSERT_EQ(QRN_NET_Wireless_GetApHide(probe.handle, &value), 0);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(QRN_NET_Wireless_GetNetType(probe.handle, &value), 0);
    EXPECT_EQ(static_cast<uint32_t>(value), probesim::kNetTypeAp);

    ASSERT_EQ(QRN_NET_Wireless_SetApcliInfo(probe.handle, &kClientLink), 0);
    ASSERT_EQ(QRN_NET_Wireless_GetApcliInfo(probe.handle, &read), 0);
    EXPECT_EQ(bytes_of(read), bytes_of(kClientLink));
    ASSERT_EQ(QRN_NET_Wireless_GetNetType(probe.handle, &value), 0);
    EXPECT_EQ(static_cast<uint32_t>(value), probesim::kNetTypeApClient);
    ASSERT_EQ(QRN_NET_Wireless_CloseApcli(probe.handle), 0);
    ASSERT_EQ(QRN_NET_Wireless_GetNetType(probe.handle, &value), 0);
    EXPECT_EQ(static_cast<uint32_t>(value), probesim::kNetTypeAp);
}

TEST(WirelessGetters, LongerAnswersAreRefusedAndLeaveTheBuffer)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    probe.sim().set_fault(Fault::AnswerOneByteLong);
    WirelessConfig read;
    std::memset(&read, 0xEE, sizeof read);
    EXPECT_EQ(QRN_NET_Wireless_GetApInfo(probe.handle, &read), QRN_ERR_TOO_LONG);
    EXPECT_EQ(bytes_of(read), Bytes(sizeof read, 0xEE));
    int value = 0x5A5A5A5A;
    EXPECT_EQ(QRN_NET_Wireless_GetApChn(probe.handle, &value), QRN_ERR_TOO_LONG);
    EXPECT_EQ(value, 0x5A5A5A5A);
}

TEST(WirelessSetters, TheProbesRefusalIsReturned)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    EXPECT_EQ(QRN_NET_Wireless_SetApHide(probe.handle, 2), QRN_ERR_FAILED) << "the probe knows 0 and 1 only";
    EXPECT_EQ(probe.sent().size(), 1u) << "the library leaves the value to the probe";
    EXPECT_EQ(probe.sim().state().wireless.ap_hidden, 0u);
    probe.sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Wireless_SetApChn(probe.handle, 13), QRN_ERR_FAILED);
    WirelessConfig read{};
    EXPECT_EQ(QRN_NET_Wireless_GetApInfo(probe.handle, &read), QRN_ERR_FAILED);
}

}  // namespace
