// The serial pass-through against a simulated probe whose port has a
// loop-back plug: line settings, open and close, blocks both ways and the
// three counters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_stream.h"
#include "probe_wire.h"
#include "stream_session.h"

using namespace testing_support;
using probesim::Fault;

namespace {

using probesim::wire::kGetSerialParams;
using probesim::wire::kSerialClose;
using probesim::wire::kSerialOpen;
constexpr int kParamChangeSerial = 4;

std::vector<uint8_t> bytes_of(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

struct Counters {
    int received = -1;
    int sent = -1;
    int waiting = -1;
    bool operator==(const Counters &o) const
    {
        return received == o.received && sent == o.sent && waiting == o.waiting;
    }
};

std::ostream &operator<<(std::ostream &out, const Counters &c)
{
    return out << "{received " << c.received << ", sent " << c.sent << ", waiting " << c.waiting << "}";
}

class SerialTest : public StreamSession {
protected:
    Counters counters()
    {
        Counters c;
        EXPECT_EQ(QRN_NET_Serial_GetRxTotalNum(handle, &c.received), QRN_OK);
        EXPECT_EQ(QRN_NET_Serial_GetTxTotalNum(handle, &c.sent), QRN_OK);
        EXPECT_EQ(QRN_NET_Serial_GetCurRxCacheSize(handle, &c.waiting), QRN_OK);
        return c;
    }

    bool waiting_reaches(int bytes)
    {
        return eventually([&] {
            int waiting = 0;
            return QRN_NET_Serial_GetCurRxCacheSize(handle, &waiting) == QRN_OK && waiting == bytes;
        });
    }

    // Takes the next block; empty when none could be taken.
    std::vector<uint8_t> take_block()
    {
        void *data = nullptr;
        int length = 0;
        if (QRN_NET_Serial_RequestData(handle, &data, &length) != QRN_OK)
            return {};
        const auto *bytes = static_cast<const uint8_t *>(data);
        std::vector<uint8_t> block(bytes, bytes + length);
        EXPECT_EQ(QRN_NET_Serial_ReleaseData(handle, data), QRN_OK);
        return block;
    }
};

TEST_F(SerialTest, LineSettingsAreAskedOnceAndServedFromTheCache)
{
    int value = 0;
    struct Getter {
        int (*get)(int, int *);
        int expected;
    };
    const Getter getters[] = {
        {QRN_NET_Serial_GetSpeed, 115200}, {QRN_NET_Serial_GetDataBit, 8},   {QRN_NET_Serial_GetStopBit, 1},
        {QRN_NET_Serial_GetParity, 0},     {QRN_NET_Serial_GetTimeout, 100},
    };
    for (const Getter &g : getters) {
        ASSERT_EQ(g.get(handle, &value), QRN_OK);
        EXPECT_EQ(value, g.expected);
    }
    SerialParam param{};
    ASSERT_EQ(QRN_NET_Serial_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.speed, 115200u);
    EXPECT_EQ(param.data_bits, 8u);
    EXPECT_EQ(param.stop_bits, 1u);
    EXPECT_EQ(param.parity, 0u);
    EXPECT_EQ(param.timeout, 100u);
    EXPECT_EQ(count_code(sim(), kGetSerialParams), 1u);
}

TEST_F(SerialTest, RefusedFillLeavesTheCacheEmptySoTheNextGetterAsksAgain)
{
    struct Case {
        Fault fault;
        int expected;
    };
    const Case cases[] = {
        {Fault::SerialParamsShort, QRN_ERR_MALFORMED},
        {Fault::SerialParamsLong, QRN_ERR_MALFORMED},
        {Fault::NonzeroStatus, QRN_ERR_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        reconnect();
        sim().set_fault(c.fault);
        int value = -1;
        EXPECT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), c.expected);
        EXPECT_EQ(value, -1);
        SerialParam param{7, 7, 7, 7, 7};
        EXPECT_EQ(QRN_NET_Serial_GetParam(handle, &param), c.expected);
        EXPECT_EQ(param.speed, 7u);

        sim().set_fault(Fault::None);
        EXPECT_EQ(QRN_NET_Serial_GetTimeout(handle, &value), QRN_OK);
        EXPECT_EQ(value, 100);
        EXPECT_EQ(count_code(sim(), kGetSerialParams), 3u);
    }
}

TEST_F(SerialTest, NullOutputsAreRefusedAfterTheHandle)
{
    int (*const word_getters[])(int, int *) = {
        QRN_NET_Serial_GetSpeed,      QRN_NET_Serial_GetDataBit,        QRN_NET_Serial_GetStopBit,
        QRN_NET_Serial_GetParity,     QRN_NET_Serial_GetTimeout,        QRN_NET_Serial_GetRxTotalNum,
        QRN_NET_Serial_GetTxTotalNum, QRN_NET_Serial_GetCurRxCacheSize,
    };
    const int invalid = kHandleBase + kSlotCount;
    for (auto get : word_getters) {
        EXPECT_EQ(get(handle, nullptr), QRN_ERR_FAILED);
        EXPECT_EQ(get(invalid, nullptr), QRN_ERR_INVALID_HANDLE);
    }
    EXPECT_EQ(QRN_NET_Serial_GetParam(handle, nullptr), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Serial_GetParam(invalid, nullptr), QRN_ERR_INVALID_HANDLE);
    EXPECT_TRUE(sim().packets().empty()) << "nothing asked for a refused call";
}

TEST_F(SerialTest, SettersSendTheWordAndKeepTheCache)
{
    struct Case {
        int (*set)(int, uint32_t);
        int (*get)(int, int *);
        uint16_t code;
        uint32_t value;
    };
    const Case cases[] = {
        {QRN_NET_Serial_SetSpeed, QRN_NET_Serial_GetSpeed, probesim::wire::kSetSerialSpeed, 9600},
        {QRN_NET_Serial_SetDataBit, QRN_NET_Serial_GetDataBit, probesim::wire::kSetSerialDataBits, 7},
        {QRN_NET_Serial_SetStopBit, QRN_NET_Serial_GetStopBit, probesim::wire::kSetSerialStopBits, 2},
        {QRN_NET_Serial_SetParity, QRN_NET_Serial_GetParity, probesim::wire::kSetSerialParity, 2},
        {QRN_NET_Serial_SetTimeout, QRN_NET_Serial_GetTimeout, probesim::wire::kSetSerialTimeout, 250},
    };
    int value = 0;
    ASSERT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), QRN_OK);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        sim().clear_packets();
        ASSERT_EQ(c.set(handle, c.value), QRN_OK);
        const auto packets = sim().packets();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].code, c.code);
        EXPECT_EQ(packets[0].payload, u32_words({c.value}));
        ASSERT_EQ(c.get(handle, &value), QRN_OK);
        EXPECT_EQ(value, static_cast<int>(c.value));
        // The device tells every host of the new settings.
        ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);
        int sub_type = -1;
        ASSERT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), QRN_OK);
        EXPECT_EQ(sub_type, kParamChangeSerial);
    }
    SerialParam param{};
    ASSERT_EQ(QRN_NET_Serial_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.speed, 9600u);
    EXPECT_EQ(param.timeout, 250u);
    EXPECT_EQ(count_code(sim(), kGetSerialParams), 0u) << "the setters kept the cache filled";

    // The settings live on the device: a new session reads them back.
    reconnect();
    ASSERT_EQ(QRN_NET_Serial_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.data_bits, 7u);
    EXPECT_EQ(param.parity, 2u);
}

TEST_F(SerialTest, RefusedSettingLeavesTheCache)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), QRN_OK);
    EXPECT_EQ(QRN_NET_Serial_SetSpeed(handle, 12345), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Serial_SetDataBit(handle, 9), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Serial_SetSpeed(kHandleBase + kSlotCount, 9600), QRN_ERR_INVALID_HANDLE);
    SerialParam param{};
    ASSERT_EQ(QRN_NET_Serial_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.speed, 115200u);
    EXPECT_EQ(param.data_bits, 8u);
}

TEST_F(SerialTest, BeginOpensThePortAndEndClosesIt)
{
    EXPECT_EQ(QRN_NET_Serial_End(handle), QRN_OK) << "closing a closed port";
    EXPECT_TRUE(sim().packets().empty()) << "sends nothing";

    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    EXPECT_EQ(count_code(sim(), kSerialOpen), 1u);
    EXPECT_TRUE(sim().state().serial_open);
    ASSERT_EQ(QRN_NET_Serial_End(handle), QRN_OK);
    EXPECT_EQ(count_code(sim(), kSerialClose), 1u);
    EXPECT_FALSE(sim().state().serial_open);
    EXPECT_EQ(QRN_NET_Serial_End(handle), QRN_OK);
    EXPECT_EQ(count_code(sim(), kSerialClose), 1u);
}

TEST_F(SerialTest, DeviceBlockCarriesItsLengthAndCounts)
{
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    void *data = nullptr;
    int length = -1;
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, &data, &length), QRN_ERR_FAILED) << "nothing waiting";
    EXPECT_EQ(length, -1);

    ASSERT_TRUE(sim().send_serial(bytes_of("hello")));
    ASSERT_EQ(wait_for(POLL_SERIAL), POLL_SERIAL);
    ASSERT_TRUE(waiting_reaches(5));
    EXPECT_EQ(counters(), (Counters{5, 0, 5}));

    ASSERT_EQ(QRN_NET_Serial_RequestData(handle, &data, &length), QRN_OK);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(0, std::memcmp(data, "hello", 5));
    uint32_t length_word = 0;  // the element: length word, then the bytes
    std::memcpy(&length_word, static_cast<uint8_t *>(data) - 4, 4);
    EXPECT_EQ(length_word, 5u);
    EXPECT_EQ(counters(), (Counters{5, 0, 0}));
    EXPECT_EQ(QRN_NET_Serial_ReleaseData(handle, data), QRN_OK);
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, &data, &length), QRN_ERR_FAILED);
}

TEST_F(SerialTest, WhatIsSentComesBackThroughTheLoopBack)
{
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    const std::vector<uint8_t> line = bytes_of("AT+VER?\r\n");
    ASSERT_EQ(QRN_NET_Serial_SendData(handle, line.data(), static_cast<int>(line.size())), QRN_OK);
    const int size = static_cast<int>(line.size());
    ASSERT_TRUE(waiting_reaches(size));
    EXPECT_EQ(counters(), (Counters{size, size, size}));
    EXPECT_EQ(take_block(), line);

    // Blocks come back in order, each as it was sent.
    const std::vector<uint8_t> second = bytes_of("one");
    const std::vector<uint8_t> third = bytes_of("three");
    ASSERT_EQ(QRN_NET_Serial_SendData(handle, second.data(), 3), QRN_OK);
    ASSERT_EQ(QRN_NET_Serial_SendData(handle, third.data(), 5), QRN_OK);
    ASSERT_TRUE(waiting_reaches(8));
    EXPECT_EQ(take_block(), second);
    EXPECT_EQ(take_block(), third);
    EXPECT_EQ(counters(), (Counters{size + 8, size + 8, 0}));
}

TEST_F(SerialTest, ClosedPortRefusesSendAndRequest)
{
    const std::vector<uint8_t> bytes = bytes_of("early");
    EXPECT_EQ(QRN_NET_Serial_SendData(handle, bytes.data(), 5), QRN_ERR_FAILED);
    // A block the device sends anyway is queued, but a closed port hands out nothing.
    probesim::StreamPacket stray;
    stray.type = 3;
    stray.payload = bytes;
    ASSERT_TRUE(sim().send_stream_packets({stray}));
    ASSERT_EQ(wait_for(POLL_SERIAL), POLL_SERIAL);
    void *data = nullptr;
    int length = -1;
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, &data, &length), QRN_ERR_FAILED);
    EXPECT_EQ(length, -1);
    int sent = -1;
    ASSERT_EQ(QRN_NET_Serial_GetTxTotalNum(handle, &sent), QRN_OK);
    EXPECT_EQ(sent, 0);
}

TEST_F(SerialTest, BeginAndEndResetTheCountersAndDropQueuedBlocks)
{
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    const std::vector<uint8_t> bytes = bytes_of("1234");
    ASSERT_EQ(QRN_NET_Serial_SendData(handle, bytes.data(), 4), QRN_OK);
    ASSERT_TRUE(waiting_reaches(4));
    ASSERT_EQ(counters(), (Counters{4, 4, 4}));

    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK) << "a second Begin opens again";
    EXPECT_EQ(count_code(sim(), kSerialOpen), 2u);
    EXPECT_EQ(counters(), (Counters{0, 0, 0}));
    ASSERT_TRUE(sim().send_serial(bytes_of("xy")));
    ASSERT_TRUE(waiting_reaches(2));
    EXPECT_EQ(take_block(), bytes_of("xy")) << "the block from before the second Begin is gone";

    ASSERT_TRUE(sim().send_serial(bytes_of("left")));
    ASSERT_TRUE(waiting_reaches(4));
    ASSERT_EQ(QRN_NET_Serial_End(handle), QRN_OK);
    EXPECT_EQ(counters(), (Counters{0, 0, 0}));
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    void *data = nullptr;
    int length = 0;
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, &data, &length), QRN_ERR_FAILED) << "End emptied the queue";
}

TEST_F(SerialTest, FailedCommandsLeaveFlagsAndCounters)
{
    sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Serial_Begin(handle), QRN_ERR_FAILED);
    sim().set_fault(Fault::None);
    const uint8_t byte = 'x';
    EXPECT_EQ(QRN_NET_Serial_SendData(handle, &byte, 1), QRN_ERR_FAILED) << "still closed";

    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    ASSERT_TRUE(sim().send_serial(bytes_of("kept")));
    ASSERT_TRUE(waiting_reaches(4));
    sim().set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Serial_End(handle), QRN_ERR_FAILED);
    sim().set_fault(Fault::None);
    EXPECT_EQ(counters(), (Counters{4, 0, 4}));
    EXPECT_EQ(take_block(), bytes_of("kept")) << "still open";
}

TEST_F(SerialTest, BadPointersAreRefusedAndNothingIsFreed)
{
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    EXPECT_EQ(QRN_NET_Serial_ReleaseData(handle, nullptr), QRN_ERR_FAILED);
    void *data = nullptr;
    int length = 0;
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, nullptr, &length), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Serial_RequestData(handle, &data, nullptr), QRN_ERR_NULL_POINTER);
    const uint8_t byte = 'x';
    EXPECT_EQ(QRN_NET_Serial_SendData(handle, nullptr, 1), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Serial_SendData(handle, &byte, -1), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Serial_SendData(kHandleBase + kSlotCount, &byte, 1), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(counters(), (Counters{0, 0, 0}));
    // Nothing went out: the next byte sent is the only one that comes back.
    ASSERT_EQ(QRN_NET_Serial_SendData(handle, &byte, 1), QRN_OK);
    ASSERT_TRUE(waiting_reaches(1));
    EXPECT_EQ(take_block(), std::vector<uint8_t>{'x'});
}

TEST_F(SerialTest, AReconnectStartsClosedAndLogoutClosesTheDevicePort)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), QRN_OK);
    ASSERT_EQ(QRN_NET_Serial_Begin(handle), QRN_OK);
    ASSERT_TRUE(disconnect_and_wait(handle));
    EXPECT_TRUE(sim().wait_until([](const auto &s) { return !s.serial_open; }, kStreamWait));
    connect();
    const uint8_t byte = 'x';
    EXPECT_EQ(QRN_NET_Serial_SendData(handle, &byte, 1), QRN_ERR_FAILED);
    ASSERT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), QRN_OK);
    EXPECT_EQ(count_code(sim(), kGetSerialParams), 1u) << "the new session asks again";
}

TEST_F(SerialTest, ParameterNoticeReplacesTheCachedSettings)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Serial_GetSpeed(handle, &value), QRN_OK);
    ASSERT_TRUE(sim().send_param_change(kParamChangeSerial, u32_words({57600, 7, 2, 1, 500})));
    ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);
    SerialParam param{};
    ASSERT_EQ(QRN_NET_Serial_GetParam(handle, &param), QRN_OK);
    EXPECT_EQ(param.speed, 57600u);
    EXPECT_EQ(param.data_bits, 7u);
    EXPECT_EQ(param.stop_bits, 2u);
    EXPECT_EQ(param.parity, 1u);
    EXPECT_EQ(param.timeout, 500u);
}

// The device never connects its stream back: there is nowhere for the
// port's bytes to go, so the port is not opened.
TEST(SerialWithoutStream, BeginFailsAndAsksNothing)
{
    RunningSim running = start_sim();
    running.sim->set_fault(Fault::NoConnectBack);
    int handle = 0;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
    running.sim->clear_packets();
    EXPECT_EQ(QRN_NET_Serial_Begin(handle), QRN_ERR_FAILED);
    EXPECT_EQ(count_code(*running.sim, kSerialOpen), 0u);
    EXPECT_FALSE(running.sim->state().serial_open);
    EXPECT_TRUE(disconnect_and_wait(handle));
}

// What the simulated device makes of the bytes a host writes on its stream.
TEST(SimulatorHostStream, FindsWholePacketsInWhatArrives)
{
    auto packet = [](uint8_t type, const std::vector<uint8_t> &payload, uint32_t declared) {
        probesim::wire::StreamHeader header;
        header.token = 0x11223344;
        header.type = type;
        header.length = declared;
        const auto head = probesim::wire::encode(header);
        std::vector<uint8_t> bytes(head.begin(), head.end());
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    };
    const std::vector<uint8_t> serial_packet = packet(3, bytes_of("abc"), 3);
    const std::vector<uint8_t> oversized(probesim::wire::kMaxPayload + 1, 0x51);  // 'Q', to tempt a resync

    struct Case {
        const char *name;
        std::vector<std::vector<uint8_t>> feeds;
    };
    std::vector<uint8_t> split_head(serial_packet.begin(), serial_packet.begin() + 7);
    std::vector<uint8_t> split_tail(serial_packet.begin() + 7, serial_packet.end());
    std::vector<uint8_t> oversized_packet = packet(2, oversized, static_cast<uint32_t>(oversized.size()));
    const Case cases[] = {
        {"whole", {serial_packet}},
        {"split inside the header", {split_head, split_tail}},
        {"garbage before the magic", {bytes_of("xxQRx"), serial_packet}},
        {"after an oversized payload", {oversized_packet, serial_packet}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        probesim::HostStreamParser parser;
        probesim::HostPacket out;
        for (const auto &feed : c.feeds) {
            EXPECT_FALSE(parser.next(out)) << "nothing whole before the last piece";
            parser.feed(feed);
        }
        ASSERT_TRUE(parser.next(out));
        EXPECT_EQ(out.token, 0x11223344u);
        EXPECT_EQ(out.type, 3);
        EXPECT_EQ(out.payload, bytes_of("abc"));
        EXPECT_FALSE(parser.next(out));
    }
}

}  // namespace
