// Device identity, restart, clock, control text, GPIO and I2C against a
// simulated probe: the bytes on the wire, the codes, the caches afterwards.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "probe_session.h"
#include "probe_wire.h"

using namespace testing_support;
using probesim::DeviceModel;
using probesim::Fault;
using probesim::GpioPin;
using probesim::ReceivedPacket;

namespace {

using probesim::wire::kControlText;
using probesim::wire::kGetAlias;
using probesim::wire::kGetId;
using probesim::wire::kGetMac;
using probesim::wire::kGetPins;
using probesim::wire::kI2cRead;
using probesim::wire::kI2cWrite;
using probesim::wire::kReboot;
using probesim::wire::kReset;
using probesim::wire::kSetAlias;
using probesim::wire::kSetAllPins;
using probesim::wire::kSetClock;
using probesim::wire::kSetId;
using probesim::wire::kSetPin;
constexpr int kGpioNotice = 5;

DeviceModel new_generation()
{
    DeviceModel model;
    model.protocol_version = 0x00030100;  // 3.1.0
    return model;
}

std::vector<uint16_t> codes(const std::vector<ReceivedPacket> &packets)
{
    std::vector<uint16_t> out;
    for (const ReceivedPacket &p : packets)
        out.push_back(p.code);
    return out;
}

uint64_t le64(const uint8_t *p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

GpioTable table_of(const std::vector<GpioPin> &pins)
{
    GpioTable table{};
    table.count = static_cast<uint8_t>(pins.size());
    for (size_t i = 0; i < pins.size(); ++i)
        table.entries[i] = GpioEntry{static_cast<uint8_t>(i), pins[i].mode, pins[i].level};
    return table;
}

bool same_entry(const GpioEntry &a, const GpioEntry &b)
{
    return a.pin == b.pin && a.mode == b.mode && a.level == b.level;
}

// ---- argument checks ----------------------------------------------------------

struct CallCase {
    const char *name;
    int (*call)(int handle);
    int expected;
};

const std::string kAlias20(20, 'a');
const std::string kAlias21(21, 'a');
const std::string kText1008(1008, 't');  // with its NUL one byte past a command
const std::string kText1537(1537, 't');

const CallCase kRefusedBeforeTheHandle[] = {
    {"GetIdNull", [](int h) { return QRN_NET_Device_GetId(h, nullptr); }, QRN_ERR_FAILED},
    {"GetAliasNull", [](int h) { return QRN_NET_Device_GetAlias(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"SetAliasNull", [](int h) { return QRN_NET_Device_SetAlias(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"SetAlias20", [](int h) { return QRN_NET_Device_SetAlias(h, kAlias20.c_str()); }, QRN_ERR_NULL_POINTER},
    {"SetAlias21", [](int h) { return QRN_NET_Device_SetAlias(h, kAlias21.c_str()); }, QRN_ERR_NULL_POINTER},
    {"GetDeviceInfoNull", [](int h) { return QRN_NET_GetDeviceInfo(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"GetMacNull", [](int h) { return QRN_NET_GetMac(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"GetAddressNull", [](int h) { return QRN_NET_Device_GetAddress(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"GetSystemTimeNull", [](int h) { return QRN_NET_GetSystemTime(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"SetSystemTimeNull", [](int h) { return QRN_NET_SetSystemTime(h, nullptr); }, QRN_ERR_NULL_POINTER},
    {"CmdCtrlNull", [](int h) { return QRN_NET_SetCmdCtrl(h, nullptr); }, QRN_ERR_FAILED},
    {"CmdCtrlEmpty", [](int h) { return QRN_NET_SetCmdCtrl(h, ""); }, QRN_ERR_FAILED},
    {"CmdCtrl1008", [](int h) { return QRN_NET_SetCmdCtrl(h, kText1008.c_str()); }, QRN_ERR_FAILED},
    {"CmdCtrl1537", [](int h) { return QRN_NET_SetCmdCtrl(h, kText1537.c_str()); }, QRN_ERR_FAILED},
    {"GpioGetAllNull", [](int h) { return QRN_NET_Gpio_GetAll(h, nullptr); }, QRN_ERR_FAILED},
    {"GpioGetStatusNull", [](int h) { return QRN_NET_Gpio_GetStatus(h, 0, nullptr); }, QRN_ERR_FAILED},
};

TEST(DeviceArguments, RefusedBeforeTheHandleAndNothingSent)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    for (const CallCase &c : kRefusedBeforeTheHandle) {
        EXPECT_EQ(c.call(kBogusHandle), c.expected) << c.name;
        EXPECT_EQ(c.call(probe.handle), c.expected) << c.name;
    }
    EXPECT_TRUE(probe.sent().empty());
}

struct NamedCall {
    const char *name;
    int (*call)(int handle);
};

// One call per line reads as a table.
// clang-format off
const NamedCall kNeedingAHandle[] = {
    {"GetId", [](int h) { int id; return QRN_NET_Device_GetId(h, &id); }},
    {"GetAlias", [](int h) { char alias[20]; return QRN_NET_Device_GetAlias(h, alias); }},
    {"SetId", [](int h) { return QRN_NET_Device_SetId(h, 1); }},
    {"SetAlias", [](int h) { return QRN_NET_Device_SetAlias(h, "cam"); }},
    {"GetAddress", [](int h) { char address[20]; return QRN_NET_Device_GetAddress(h, address); }},
    {"GetDeviceInfo", [](int h) { DeviceInfo info; return QRN_NET_GetDeviceInfo(h, &info); }},
    {"GetMac", [](int h) { uint8_t mac[6]; return QRN_NET_GetMac(h, mac); }},
    {"GetVersion", [](int h) { return QRN_NET_GetVersion(h); }},
    {"Reboot", [](int h) { return QRN_NET_Device_Reboot(h); }},
    {"Reset", [](int h) { return QRN_NET_Device_Reset(h); }},
    {"GetSystemTime", [](int h) { uint8_t t[8]; return QRN_NET_GetSystemTime(h, t); }},
    {"SetSystemTime", [](int h) { uint8_t t[8] = {}; return QRN_NET_SetSystemTime(h, t); }},
    {"SetCmdCtrl", [](int h) { return QRN_NET_SetCmdCtrl(h, "abc"); }},
    {"GpioGetAll", [](int h) { GpioTable t; return QRN_NET_Gpio_GetAll(h, &t); }},
    {"GpioSetAll", [](int h) { return QRN_NET_Gpio_SetAll(h, GpioTable{}); }},
    {"GpioGetStatus", [](int h) { GpioEntry e; return QRN_NET_Gpio_GetStatus(h, 0, &e); }},
    {"GpioSetStatus", [](int h) { return QRN_NET_Gpio_SetStatus(h, GpioEntry{}); }},
    {"I2cGetNull", [](int h) { return QRN_NET_I2C_GetValue(h, nullptr); }},
    {"I2cSetNull", [](int h) { return QRN_NET_I2C_SetValue(h, nullptr); }},
};
// clang-format on

TEST(DeviceArguments, InvalidHandleIsRefused)
{
    for (const NamedCall &c : kNeedingAHandle)
        EXPECT_EQ(c.call(kBogusHandle), QRN_ERR_INVALID_HANDLE) << c.name;
}

// ---- device information ---------------------------------------------------------

TEST(DeviceInfo, FilledOnFirstUseWhenTheLoginCarriedNone)
{
    const DeviceModel model;
    ProbeSession probe(model, Fault::LoginNoPayload);
    ASSERT_EQ(probe.connected, 0);
    EXPECT_EQ(QRN_NET_GetVersion(probe.handle), 0x200);

    DeviceInfo info{};
    ASSERT_EQ(QRN_NET_GetDeviceInfo(probe.handle, &info), 0);
    EXPECT_EQ(info.id, model.device_id);
    EXPECT_STREQ(info.alias, model.alias.c_str());
    EXPECT_STREQ(info.address, probe.running.address.c_str());
    const auto packets = probe.sent();
    EXPECT_EQ(codes(packets), (std::vector<uint16_t>{kGetId, kGetAlias, kGetMac}));
    for (const ReceivedPacket &p : packets)
        EXPECT_TRUE(p.payload.empty());

    uint8_t mac[6];
    ASSERT_EQ(QRN_NET_GetMac(probe.handle, mac), 0);
    EXPECT_EQ(Bytes(mac, mac + 6), Bytes(model.mac.begin(), model.mac.end()));
    int id = 0;
    char alias[20];
    ASSERT_EQ(QRN_NET_Device_GetId(probe.handle, &id), 0);
    ASSERT_EQ(QRN_NET_Device_GetAlias(probe.handle, alias), 0);
    EXPECT_EQ(static_cast<uint32_t>(id), model.device_id);
    EXPECT_STREQ(alias, model.alias.c_str());
    EXPECT_EQ(probe.sent().size(), 3u) << "the cache answers";
}

TEST(DeviceInfo, FullLoginAnswerNeedsNoQuestions)
{
    const DeviceModel model;
    ProbeSession probe(model);
    ASSERT_EQ(probe.connected, 0);
    DeviceInfo info{};
    ASSERT_EQ(QRN_NET_GetDeviceInfo(probe.handle, &info), 0);
    EXPECT_EQ(info.id, model.device_id);
    EXPECT_STREQ(info.alias, model.alias.c_str());
    EXPECT_STREQ(info.address, probe.running.address.c_str()) << "the login answer does not carry it";
    char address[20];
    ASSERT_EQ(QRN_NET_Device_GetAddress(probe.handle, address), 0);
    EXPECT_STREQ(address, probe.running.address.c_str());
    EXPECT_TRUE(probe.sent().empty());
}

// ---- cache fills that fail --------------------------------------------------------

struct FillFaultCase {
    const char *name;
    DeviceModel (*device)();
    Fault login_fault;  // a login without payload leaves the information to be asked for
    Fault fault;
    int expected;
    int (*fill)(int handle, Bytes *out);
};

void PrintTo(const FillFaultCase &c, std::ostream *out)
{
    *out << c.name;
}

DeviceModel default_device()
{
    return DeviceModel();
}

int read_device_info(int handle, Bytes *out)
{
    DeviceInfo info;
    std::memset(&info, 0xEE, sizeof info);
    const int result = QRN_NET_GetDeviceInfo(handle, &info);
    *out = bytes_of(info);
    return result;
}

int read_gpio_table(int handle, Bytes *out)
{
    GpioTable table;
    std::memset(&table, 0xEE, sizeof table);
    const int result = QRN_NET_Gpio_GetAll(handle, &table);
    *out = bytes_of(table);
    return result;
}

class FillFaultTest : public ::testing::TestWithParam<FillFaultCase> {};

TEST_P(FillFaultTest, FailedFillCachesNothingAndTheNextCallAsksAgain)
{
    const FillFaultCase &c = GetParam();
    ProbeSession probe(c.device(), c.login_fault);
    ASSERT_EQ(probe.connected, 0);
    probe.sim().set_fault(c.fault);
    Bytes out;
    EXPECT_EQ(c.fill(probe.handle, &out), c.expected);
    EXPECT_EQ(out, Bytes(out.size(), 0xEE)) << "nothing of the refused answer is handed out";
    const size_t asked = probe.sent().size();

    probe.sim().set_fault(Fault::None);
    EXPECT_EQ(c.fill(probe.handle, &out), 0);
    EXPECT_NE(out, Bytes(out.size(), 0xEE));
    EXPECT_GT(probe.sent().size(), asked) << "the failed fill left the cache unmarked";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FillFaultTest,
    ::testing::Values(FillFaultCase{"InfoShort", default_device, Fault::LoginNoPayload, Fault::AnswerOneByteShort,
                                    QRN_ERR_MALFORMED, read_device_info},
                      FillFaultCase{"InfoLong", default_device, Fault::LoginNoPayload, Fault::AnswerOneByteLong,
                                    QRN_ERR_TOO_LONG, read_device_info},
                      FillFaultCase{"InfoRefused", default_device, Fault::LoginNoPayload, Fault::NonzeroStatus,
                                    QRN_ERR_FAILED, read_device_info},
                      FillFaultCase{"AliasWithoutNul", default_device, Fault::LoginNoPayload, Fault::AliasWithoutNul,
                                    QRN_ERR_MALFORMED, read_device_info},
                      FillFaultCase{"OldPinsShort", default_device, Fault::None, Fault::AnswerOneByteShort,
                                    QRN_ERR_MALFORMED, read_gpio_table},
                      FillFaultCase{"OldPinsLong", default_device, Fault::None, Fault::AnswerOneByteLong,
                                    QRN_ERR_TOO_LONG, read_gpio_table},
                      FillFaultCase{"NewPinsShort", new_generation, Fault::None, Fault::AnswerOneByteShort,
                                    QRN_ERR_MALFORMED, read_gpio_table},
                      FillFaultCase{"NewPinsLong", new_generation, Fault::None, Fault::AnswerOneByteLong,
                                    QRN_ERR_TOO_LONG, read_gpio_table},
                      FillFaultCase{"PinsRefused", new_generation, Fault::None, Fault::NonzeroStatus, QRN_ERR_FAILED,
                                    read_gpio_table}),
    [](const ::testing::TestParamInfo<FillFaultCase> &info) { return std::string(info.param.name); });

// ---- identity setters ----------------------------------------------------------------

TEST(DeviceIdentity, SetAliasSendsTheTextWithItsNulAndKeepsTheCache)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    ASSERT_EQ(QRN_NET_Device_SetAlias(probe.handle, "cam"), 0);
    auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kSetAlias);
    EXPECT_EQ(packets[0].payload, text_bytes("cam"));
    EXPECT_EQ(probe.sim().state().alias, "cam");
    char alias[20];
    ASSERT_EQ(QRN_NET_Device_GetAlias(probe.handle, alias), 0);
    EXPECT_STREQ(alias, "cam");

    const std::string longest(19, 'z');
    ASSERT_EQ(QRN_NET_Device_SetAlias(probe.handle, longest.c_str()), 0);
    EXPECT_EQ(probe.sent().back().payload, text_bytes(longest));
    DeviceInfo info{};
    ASSERT_EQ(QRN_NET_GetDeviceInfo(probe.handle, &info), 0);
    EXPECT_STREQ(info.alias, longest.c_str());
    EXPECT_STREQ(info.address, probe.running.address.c_str()) << "the longest alias stays in its field";

    probe.sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Device_SetAlias(probe.handle, "other"), QRN_ERR_FAILED);
    ASSERT_EQ(QRN_NET_Device_GetAlias(probe.handle, alias), 0);
    EXPECT_STREQ(alias, longest.c_str()) << "a refused alias is not cached";
    EXPECT_EQ(probe.sent().size(), 3u);
}

TEST(DeviceIdentity, SetIdSendsTheWordAndKeepsTheCache)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    ASSERT_EQ(QRN_NET_Device_SetId(probe.handle, 0xCAFEF00Du), 0);
    const auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kSetId);
    EXPECT_EQ(packets[0].payload, le32_bytes(0xCAFEF00Du));
    EXPECT_EQ(probe.sim().state().device_id, 0xCAFEF00Du);
    int id = 0;
    ASSERT_EQ(QRN_NET_Device_GetId(probe.handle, &id), 0);
    EXPECT_EQ(static_cast<uint32_t>(id), 0xCAFEF00Du);
    EXPECT_EQ(probe.sent().size(), 1u);
}

// ---- restart --------------------------------------------------------------------------

TEST(DeviceRestart, RebootIsNotAwaitedAndDropsTheStream)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    ASSERT_TRUE(
        probe.sim().wait_until([&](const auto &s) { return s.stream_connections_made >= 1; }, std::chrono::seconds(3)));
    ASSERT_EQ(QRN_NET_Device_Reboot(probe.handle), 0);
    ASSERT_TRUE(
        probe.sim().wait_until([&](const auto &s) { return s.reboots + s.resets >= 1; }, std::chrono::seconds(3)));
    EXPECT_TRUE(wait_until_closed(probe.handle));
    const auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kReboot);
    EXPECT_TRUE(packets[0].payload.empty());
    EXPECT_EQ(probe.sim().state().reboots, 1u);
    EXPECT_EQ(probe.sim().state().resets, 0u);
}

TEST(DeviceRestart, ResetDropsTheStreamAndRestoresTheDefaults)
{
    const DeviceModel model;
    ProbeSession probe(model);
    ASSERT_EQ(probe.connected, 0);
    ASSERT_TRUE(
        probe.sim().wait_until([&](const auto &s) { return s.stream_connections_made >= 1; }, std::chrono::seconds(3)));
    ASSERT_EQ(QRN_NET_Device_SetAlias(probe.handle, "cam"), 0);
    ASSERT_EQ(QRN_NET_Wireless_SetApChn(probe.handle, 11), 0);
    ASSERT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{0, 0, 0x7F}), 0);

    ASSERT_EQ(QRN_NET_Device_Reset(probe.handle), 0);
    ASSERT_TRUE(
        probe.sim().wait_until([&](const auto &s) { return s.reboots + s.resets >= 1; }, std::chrono::seconds(3)));
    EXPECT_TRUE(wait_until_closed(probe.handle));
    EXPECT_EQ(probe.sent().back().code, kReset);
    EXPECT_EQ(probe.sim().state().resets, 1u);
    EXPECT_EQ(probe.sim().state().alias, model.alias);
    EXPECT_EQ(probe.sim().state().wireless.ap_channel, model.wireless.ap_channel);
    EXPECT_EQ(probe.sim().state().gpio_pins[0].level, model.gpio_pins[0].level);

    // The next session meets the probe as it left the factory.
    ASSERT_TRUE(disconnect_and_wait(probe.handle));
    ASSERT_EQ(QRN_NET_ConnectDevice(&probe.handle, probe.running.address.c_str(), nullptr), 0);
    char alias[20];
    ASSERT_EQ(QRN_NET_Device_GetAlias(probe.handle, alias), 0);
    EXPECT_STREQ(alias, model.alias.c_str());
}

// ---- clock and control text ------------------------------------------------------------

TEST(SystemTime, ReadsAndSetsTheDeviceClock)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    uint8_t time[8] = {};
    ASSERT_EQ(QRN_NET_GetSystemTime(probe.handle, time), 0);
    const uint64_t read = le64(time);
    const uint64_t after = probe.sim().state().clock_seconds;
    EXPECT_LE(read, after);
    EXPECT_GE(read + 2, after);

    const uint64_t set = 2000000000;
    for (int i = 0; i < 8; ++i)
        time[i] = static_cast<uint8_t>(set >> (8 * i));
    ASSERT_EQ(QRN_NET_SetSystemTime(probe.handle, time), 0);
    const auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].code, kSetClock);
    EXPECT_EQ(packets[1].payload, Bytes(time, time + 8));
    EXPECT_GE(probe.sim().state().clock_seconds, set);
    EXPECT_LE(probe.sim().state().clock_seconds, set + 2);
}

TEST(SystemTime, LongerAnswerIsRefusedAndLeavesTheBuffer)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    probe.sim().set_fault(Fault::AnswerOneByteLong);
    uint8_t time[16];
    std::memset(time, 0xEE, sizeof time);
    EXPECT_EQ(QRN_NET_GetSystemTime(probe.handle, time), QRN_ERR_TOO_LONG);
    EXPECT_EQ(Bytes(time, time + sizeof time), Bytes(sizeof time, 0xEE));
}

TEST(ControlText, PrintsItsLineAndSendsTheTextWithItsNul)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    ::testing::internal::CaptureStdout();
    const int result = QRN_NET_SetCmdCtrl(probe.handle, "abc");
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, 0);
    EXPECT_EQ(printed, "[3]cmdCtrl:abc\n");
    auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kControlText);
    EXPECT_EQ(packets[0].payload, text_bytes("abc"));
    EXPECT_EQ(probe.sim().state().control_texts, std::vector<std::string>{"abc"});

    const std::string longest(1007, 'x');  // with its NUL exactly one command
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(QRN_NET_SetCmdCtrl(probe.handle, longest.c_str()), 0);
    ::testing::internal::GetCapturedStdout();
    packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].payload, text_bytes(longest));
}

// ---- GPIO ------------------------------------------------------------------------------

TEST(GpioOldGeneration, FiveLevelsBecomeAFivePinTable)
{
    ProbeSession probe;  // protocol 1.2.3
    ASSERT_EQ(probe.connected, 0);
    const std::vector<GpioPin> pins = probe.sim().state().gpio_pins;
    ASSERT_EQ(pins.size(), 5u);
    GpioTable table;
    std::memset(&table, 0xEE, sizeof table);
    ASSERT_EQ(QRN_NET_Gpio_GetAll(probe.handle, &table), 0);
    GpioTable expected{};
    expected.count = 5;
    for (uint8_t pin = 0; pin < 5; ++pin)
        expected.entries[pin] = GpioEntry{pin, 0, pins[pin].level};  // old probes tell no modes
    EXPECT_EQ(bytes_of(table), bytes_of(expected));

    GpioEntry entry{};
    ASSERT_EQ(QRN_NET_Gpio_GetStatus(probe.handle, 4, &entry), 0);
    EXPECT_TRUE(same_entry(entry, expected.entries[4]));
    for (int pin : {5, 31, 32, -1})
        EXPECT_EQ(QRN_NET_Gpio_GetStatus(probe.handle, pin, &entry), QRN_ERR_FAILED) << pin;
    const auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u) << "one fill, then the cache";
    EXPECT_EQ(packets[0].code, kGetPins);
}

TEST(GpioOldGeneration, PinsAreSetAsWords)
{
    ProbeSession probe;
    ASSERT_EQ(probe.connected, 0);
    ASSERT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{2, 0, 0xFF}), 0);
    auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].code, kSetPin);
    EXPECT_EQ(packets[1].payload, (Bytes{2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})) << "the level byte is sign-extended";
    EXPECT_EQ(probe.sim().state().gpio_pins[2].level, 0xFF);

    // Pins past the five, and mode 1, are not for old probes.
    for (const GpioEntry &refused : {GpioEntry{5, 0, 1}, GpioEntry{6, 0, 1}, GpioEntry{1, 1, 1}})
        EXPECT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, refused), QRN_ERR_FAILED) << int(refused.pin);

    GpioTable table = table_of({{0, 1}, {0, 0}, {0, 0x80}, {0, 1}, {0, 0}});
    ASSERT_EQ(QRN_NET_Gpio_SetAll(probe.handle, table), 0);
    packets = probe.sent();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2].code, kSetAllPins);
    EXPECT_EQ(packets[2].payload, (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}));
    std::vector<uint8_t> levels;
    for (const GpioPin &pin : probe.sim().state().gpio_pins)
        levels.push_back(pin.level);
    EXPECT_EQ(levels, (Bytes{1, 0, 0x80, 1, 0}));

    table.count = 6;
    EXPECT_EQ(QRN_NET_Gpio_SetAll(probe.handle, table), QRN_ERR_FAILED);
    EXPECT_EQ(probe.sent().size(), 3u) << "refusals send nothing";
}

TEST(GpioNewGeneration, TheTableTravelsWhole)
{
    ProbeSession probe(new_generation());
    ASSERT_EQ(probe.connected, 0);
    // The probe's notice would tell all eight pins again, at a moment of its
    // choosing; without it the cache is the library's alone.
    probe.sim().set_fault(Fault::SilentGpio);
    const std::vector<GpioPin> pins = probe.sim().state().gpio_pins;
    ASSERT_EQ(pins.size(), 8u);
    GpioTable table{};
    ASSERT_EQ(QRN_NET_Gpio_GetAll(probe.handle, &table), 0);
    EXPECT_EQ(bytes_of(table), bytes_of(table_of(pins)));

    ASSERT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{7, 1, 0}), 0);
    auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].code, kSetPin);
    EXPECT_EQ(packets[1].payload, (Bytes{7, 1, 0}));
    EXPECT_EQ(probe.sim().state().gpio_pins[7].mode, 1);
    EXPECT_EQ(probe.sim().state().gpio_pins[7].level, 0);

    GpioTable changed = table_of(pins);
    changed.count = 3;  // fewer pins than the probe has: only those change
    changed.entries[1] = GpioEntry{1, 1, 1};
    ASSERT_EQ(QRN_NET_Gpio_SetAll(probe.handle, changed), 0);
    packets = probe.sent();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2].code, kSetAllPins);
    EXPECT_EQ(packets[2].payload, bytes_of(changed));
    EXPECT_EQ(probe.sim().state().gpio_pins[1].mode, 1);

    GpioEntry entry{};
    EXPECT_EQ(QRN_NET_Gpio_GetStatus(probe.handle, 3, &entry), QRN_ERR_FAILED) << "the table now has three pins";
    EXPECT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{3, 0, 1}), QRN_ERR_FAILED);
    for (uint8_t count : {uint8_t{4}, uint8_t{9}, uint8_t{0x80}, uint8_t{0xFF}}) {
        changed.count = count;
        EXPECT_EQ(QRN_NET_Gpio_SetAll(probe.handle, changed), QRN_ERR_FAILED) << int(count);
    }
    EXPECT_EQ(probe.sent().size(), 3u) << "refusals send nothing";
}

TEST(GpioGeneration, FollowsTheProtocolMajor)
{
    const struct {
        uint32_t version;
        uint8_t pins;
    } cases[] = {{0x00020909, 5}, {0x00030000, 8}};
    for (const auto &c : cases) {
        DeviceModel model;
        model.protocol_version = c.version;
        ProbeSession probe(model);
        ASSERT_EQ(probe.connected, 0);
        GpioTable table{};
        EXPECT_EQ(QRN_NET_Gpio_GetAll(probe.handle, &table), 0) << std::hex << c.version;
        EXPECT_EQ(table.count, c.pins) << std::hex << c.version;
    }
}

TEST(GpioCache, SettersKeepTheCacheWithoutTheProbesNotice)
{
    ProbeSession probe(new_generation());
    ASSERT_EQ(probe.connected, 0);
    probe.sim().set_fault(Fault::SilentGpio);
    GpioTable table{};
    ASSERT_EQ(QRN_NET_Gpio_GetAll(probe.handle, &table), 0);
    ASSERT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{5, 0, 1}), 0);
    GpioEntry entry{};
    ASSERT_EQ(QRN_NET_Gpio_GetStatus(probe.handle, 5, &entry), 0);
    EXPECT_TRUE(same_entry(entry, GpioEntry{5, 0, 1}));

    table.entries[6] = GpioEntry{6, 1, 1};
    ASSERT_EQ(QRN_NET_Gpio_SetAll(probe.handle, table), 0);
    GpioTable read{};
    ASSERT_EQ(QRN_NET_Gpio_GetAll(probe.handle, &read), 0);
    EXPECT_EQ(bytes_of(read), bytes_of(table));
    EXPECT_EQ(codes(probe.sent()), (std::vector<uint16_t>{kGetPins, kSetPin, kSetAllPins}));
}

TEST(GpioCache, TheProbesNoticeReachesEverySession)
{
    ProbeSession probe(new_generation());
    ASSERT_EQ(probe.connected, 0);
    int other = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&other, probe.running.address.c_str(), nullptr), 0);
    ASSERT_TRUE(
        probe.sim().wait_until([&](const auto &s) { return s.stream_connections_made >= 2; }, std::chrono::seconds(3)));
    GpioTable table{};
    ASSERT_EQ(QRN_NET_Gpio_GetAll(other, &table), 0);
    ASSERT_EQ(table.entries[0].level, 0);

    ASSERT_EQ(QRN_NET_Gpio_SetStatus(probe.handle, GpioEntry{0, 0, 1}), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    bool noticed = false;
    while (!noticed && std::chrono::steady_clock::now() < deadline) {
        int flags = 0;
        QRN_NET_Poll(other, &flags, 100);
        int type = -1;
        while (QRN_NET_GetParamChangeType(other, &type) == 0)
            noticed = noticed || type == kGpioNotice;
    }
    ASSERT_TRUE(noticed);
    GpioEntry entry{};
    ASSERT_EQ(QRN_NET_Gpio_GetStatus(other, 0, &entry), 0);
    EXPECT_TRUE(same_entry(entry, GpioEntry{0, 0, 1})) << "the other session changed nothing itself";
    EXPECT_TRUE(disconnect_and_wait(other));
}

// ---- I2C -------------------------------------------------------------------------------

I2cBlock i2c_block(uint8_t address, uint8_t first, uint8_t count)
{
    I2cBlock block{};
    block.control[0] = address;
    block.control[1] = first;
    block.control[2] = count;
    return block;
}

TEST(I2c, ReadsAndWritesTheAddressedRegisters)
{
    const DeviceModel model;
    ProbeSession probe(model);
    ASSERT_EQ(probe.connected, 0);
    I2cBlock block = i2c_block(model.i2c_address, 0x10, 4);
    const Bytes request = bytes_of(block);
    ASSERT_EQ(QRN_NET_I2C_GetValue(probe.handle, &block), 0);
    auto packets = probe.sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kI2cRead);
    EXPECT_EQ(packets[0].payload, request) << "the block is the request";
    I2cBlock expected = i2c_block(model.i2c_address, 0x10, 4);
    std::memcpy(expected.data, model.i2c_registers.data() + 0x10, 4);
    EXPECT_EQ(bytes_of(block), bytes_of(expected)) << "and the answer comes back into it";

    block = i2c_block(model.i2c_address, 0x20, 3);
    block.data[0] = 1;
    block.data[1] = 2;
    block.data[2] = 3;
    ASSERT_EQ(QRN_NET_I2C_SetValue(probe.handle, &block), 0);
    packets = probe.sent();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].code, kI2cWrite);
    EXPECT_EQ(packets[1].payload, bytes_of(block));
    auto registers = model.i2c_registers;
    registers[0x20] = 1;
    registers[0x21] = 2;
    registers[0x22] = 3;
    EXPECT_EQ(probe.sim().state().i2c_registers, registers);
}

TEST(I2c, RefusedTransfersLeaveTheBlock)
{
    const DeviceModel model;
    ProbeSession probe(model);
    ASSERT_EQ(probe.connected, 0);
    EXPECT_EQ(QRN_NET_I2C_GetValue(probe.handle, nullptr), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_I2C_SetValue(probe.handle, nullptr), QRN_ERR_FAILED);
    EXPECT_TRUE(probe.sent().empty());

    I2cBlock block = i2c_block(model.i2c_address + 1, 0, 1);  // nobody at that address
    EXPECT_EQ(QRN_NET_I2C_GetValue(probe.handle, &block), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_I2C_SetValue(probe.handle, &block), QRN_ERR_FAILED);

    probe.sim().set_fault(Fault::AnswerOneByteLong);
    block = i2c_block(model.i2c_address, 0, 128);
    const Bytes before = bytes_of(block);
    EXPECT_EQ(QRN_NET_I2C_GetValue(probe.handle, &block), QRN_ERR_TOO_LONG);
    EXPECT_EQ(bytes_of(block), before);
}

}  // namespace
