// Video parameters against a simulated probe: what goes on the wire, and
// what the caches answer afterwards.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "probe_wire.h"
#include "test_support.h"

using namespace testing_support;
using probesim::DeviceModel;
using probesim::Fault;
using probesim::ReceivedPacket;
using probesim::wire::kForceKeyFrame;
using probesim::wire::kGetCrop;
using probesim::wire::kGetKeyInterval;
using probesim::wire::kGetQp;
using probesim::wire::kGetQuality;
using probesim::wire::kGetRectYuyv;
using probesim::wire::kGetStreamValue;
using probesim::wire::kGetVideoInfo;
using probesim::wire::kResetVideoCtrl;
using probesim::wire::kSetCrop;
using probesim::wire::kSetFormat;
using probesim::wire::kSetFps;
using probesim::wire::kSetFpsLimit;
using probesim::wire::kSetKeyInterval;
using probesim::wire::kSetQp;
using probesim::wire::kSetQuality;
using probesim::wire::kSetRectYuyv;
using probesim::wire::kSetResolution;
using probesim::wire::kSetRotation;
using probesim::wire::kSetStreamValue;
using probesim::wire::kSetVideoCtrl;
using probesim::wire::kSetXuCtrl;

namespace {

constexpr int kBlockSize = 736;
constexpr int kAbilityBytes = 400;
constexpr int kFormatRecordBytes = 100;
constexpr int kSizesPerFormat = 12;
constexpr int kControlsAt = 400;
constexpr int kControlBytes = 32;
constexpr int kControlCount = 10;
constexpr int kParamsAt = 720;
constexpr int kFpsAt = 728;
constexpr uint32_t kNoticeChangingNothing = 160;

using Block = std::array<uint8_t, kBlockSize>;
using Bytes = std::vector<uint8_t>;

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

Bytes le32_bytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

Bytes slice(const Block &block, int offset, int length)
{
    return Bytes(block.begin() + offset, block.begin() + offset + length);
}

const uint8_t *control_in(const Block &block, int index)
{
    return block.data() + kControlsAt + index * kControlBytes;
}

// The first control the device has (or lacks); -1 when there is none.
int find_control(const Block &block, bool present)
{
    for (int i = 0; i < kControlCount; ++i)
        if ((le32(control_in(block, i)) != 0) == present)
            return i;
    return -1;
}

template <typename T>
Bytes bytes_of(const T &value)
{
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

class VideoParamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        running = start_sim(device());
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
        running.sim->clear_packets();
    }
    void TearDown() override { EXPECT_TRUE(disconnect_and_wait(handle)); }
    virtual DeviceModel device() const { return DeviceModel(); }

    std::vector<ReceivedPacket> sent() const { return running.sim->packets(); }
    size_t count_sent(uint16_t code) const
    {
        size_t count = 0;
        for (const ReceivedPacket &packet : sent())
            count += packet.code == code;
        return count;
    }

    // Fills the video cache; the block the device answered.
    Block fill_video_cache()
    {
        int fps = 0;
        EXPECT_EQ(QRN_NET_Video_GetFPS(handle, &fps), 0);
        return running.sim->video_info_block();
    }

    // Has the simulator send a notice and waits, bounded, until the library
    // has taken it in; notices the probe sent of its own accord are passed over.
    void deliver_notice(uint32_t sub_type, const Bytes &data)
    {
        ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.stream_connections_made >= 1; },
                                            std::chrono::seconds(3)));
        ASSERT_TRUE(running.sim->send_param_change(sub_type, data));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (;;) {
            int type = -1;
            while (QRN_NET_GetParamChangeType(handle, &type) == 0)
                if (type == static_cast<int>(sub_type))
                    return;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "notice " << sub_type << " did not arrive";
            int flags = 0;
            QRN_NET_Poll(handle, &flags, 100);
        }
    }

    // The simulated probe tells every change back through a notice, which
    // would hide what the library itself writes into its caches. Cutting the
    // stream mid-frame ends the notices; commands still run on their own
    // connections.
    void silence_notices()
    {
        running.sim->set_fault(Fault::StreamDropMidFrame);
        ASSERT_EQ(QRN_NET_Video_Begin(handle), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int flags = 0;
        while (QRN_NET_Poll(handle, &flags, 100) != QRN_ERR_CLOSED)
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the stream did not end";
        running.sim->set_fault(Fault::None);
        running.sim->clear_packets();
    }

    RunningSim running;
    int handle = 0;
};

// ---- cached getters --------------------------------------------------------

template <typename T, int (*Get)(int, T *)>
int read_value(int handle, Bytes *out)
{
    T value{};
    const int result = Get(handle, &value);
    *out = bytes_of(value);
    return result;
}

int read_ability(int handle, Bytes *out)
{
    out->assign(kAbilityBytes, 0);
    return QRN_NET_Video_GetAbility(handle, out->data());
}

int read_last_control(int handle, Bytes *out)
{
    VideoCtrlEntry entry{};
    const int result = QRN_NET_Video_GetVideoCtrl(handle, kControlCount - 1, &entry);
    *out = bytes_of(entry);
    return result;
}

struct CachedGetterCase {
    const char *name;
    int (*read)(int handle, Bytes *out);
    int block_offset;  // where the block holds what the getter returns
    int length;
};

void PrintTo(const CachedGetterCase &c, std::ostream *out)
{
    *out << c.name;
}

class CachedGetterTest : public VideoParamTest, public ::testing::WithParamInterface<CachedGetterCase> {};

TEST_P(CachedGetterTest, FirstCallAsksOnceThenTheCacheAnswers)
{
    Bytes first;
    ASSERT_EQ(GetParam().read(handle, &first), 0);
    EXPECT_EQ(first, slice(running.sim->video_info_block(), GetParam().block_offset, GetParam().length));
    Bytes second;
    ASSERT_EQ(GetParam().read(handle, &second), 0);
    EXPECT_EQ(second, first);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 1u) << "the second call reads the cache";
    EXPECT_EQ(packets[0].code, kGetVideoInfo);
    EXPECT_TRUE(packets[0].payload.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Getters, CachedGetterTest,
    ::testing::Values(CachedGetterCase{"Format", read_value<int, QRN_NET_Video_GetFormat>, kParamsAt, 4},
                      CachedGetterCase{"Resolu", read_value<int, QRN_NET_Video_GetResolu>, kParamsAt + 4, 4},
                      CachedGetterCase{"FPS", read_value<int, QRN_NET_Video_GetFPS>, kFpsAt, 4},
                      CachedGetterCase{"Param", read_value<VideoParam, QRN_NET_Video_GetParam>, kParamsAt, 16},
                      CachedGetterCase{"Ability", read_ability, 0, kAbilityBytes},
                      CachedGetterCase{"LastControl", read_last_control,
                                       kControlsAt + (kControlCount - 1) * kControlBytes, kControlBytes}),
    [](const ::testing::TestParamInfo<CachedGetterCase> &info) { return std::string(info.param.name); });

struct FillFaultCase {
    const char *name;
    Fault fault;
    int expected;
};

void PrintTo(const FillFaultCase &c, std::ostream *out)
{
    *out << c.name;
}

class VideoFillFaultTest : public VideoParamTest, public ::testing::WithParamInterface<FillFaultCase> {};

TEST_P(VideoFillFaultTest, FailedFillCachesNothingAndTheNextGetterAsksAgain)
{
    running.sim->set_fault(GetParam().fault);
    int fps = -5;
    EXPECT_EQ(QRN_NET_Video_GetFPS(handle, &fps), GetParam().expected);
    EXPECT_EQ(fps, -5);
    // Not one control of the refused answer may count as read.
    VideoCtrlEntry entry{};
    for (uint32_t index = 0; index < kControlCount; ++index)
        EXPECT_EQ(QRN_NET_Video_SetVideoCtrl(handle, index, &entry), QRN_ERR_FAILED) << "control " << index;
    EXPECT_EQ(count_sent(kSetVideoCtrl), 0u);

    running.sim->set_fault(Fault::None);
    ASSERT_EQ(QRN_NET_Video_GetFPS(handle, &fps), 0);
    EXPECT_EQ(static_cast<uint32_t>(fps), le32(running.sim->video_info_block().data() + kFpsAt));
    EXPECT_EQ(count_sent(kGetVideoInfo), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, VideoFillFaultTest,
                         ::testing::Values(FillFaultCase{"ShortBlock", Fault::VideoInfoShort, QRN_ERR_MALFORMED},
                                           FillFaultCase{"Refused", Fault::NonzeroStatus, QRN_ERR_FAILED},
                                           FillFaultCase{"OtherToken", Fault::WrongToken, QRN_ERR_OTHER_SESSION},
                                           FillFaultCase{"Cut", Fault::CloseMidResponse, QRN_ERR_IO}),
                         [](const ::testing::TestParamInfo<FillFaultCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(VideoParamTest, ControlIndexPastTheTableIsRefused)
{
    VideoCtrlEntry entry{};
    EXPECT_EQ(QRN_NET_Video_GetVideoCtrl(handle, kControlCount, &entry), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(count_sent(kGetVideoInfo), 1u) << "the index is tested after the fill";
    EXPECT_EQ(QRN_NET_Video_GetVideoCtrl(handle, 0xFFFFFFFFu, &entry), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Video_SetVideoCtrl(handle, kControlCount, &entry), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(VideoParamTest, FillingNoticesSpareTheRequests)
{
    Block block = running.sim->video_info_block();
    block[kFpsAt] = 7;  // a rate the device's own block does not hold
    block[kFpsAt + 1] = block[kFpsAt + 2] = block[kFpsAt + 3] = 0;
    ASSERT_NO_FATAL_FAILURE(deliver_notice(7, Bytes(block.begin(), block.end())));
    Bytes h264 = le32_bytes(30);  // QP 30 is quality 50
    for (uint32_t word : {45u, 1234u}) {
        const Bytes more = le32_bytes(word);
        h264.insert(h264.end(), more.begin(), more.end());
    }
    ASSERT_NO_FATAL_FAILURE(deliver_notice(8, h264));
    running.sim->clear_packets();

    int fps = 0, quality = 0, interval = 0, stream = 0;
    ASSERT_EQ(QRN_NET_Video_GetFPS(handle, &fps), 0);
    ASSERT_EQ(QRN_NET_Video_GetH264QpValue(handle, &quality), 0);
    ASSERT_EQ(QRN_NET_Video_GetH264KeyInter(handle, &interval), 0);
    ASSERT_EQ(QRN_NET_Video_GetH264Stream(handle, &stream), 0);
    EXPECT_EQ(fps, 7);
    EXPECT_EQ(quality, 50);
    EXPECT_EQ(interval, 45);
    EXPECT_EQ(stream, 1234);
    EXPECT_TRUE(sent().empty());
}

// ---- H.264 settings ----------------------------------------------------------

struct H264Values {
    int quality = 0;
    int interval = 0;
    int stream = 0;
};

bool operator==(const H264Values &a, const H264Values &b)
{
    return a.quality == b.quality && a.interval == b.interval && a.stream == b.stream;
}

void PrintTo(const H264Values &v, std::ostream *out)
{
    *out << "{quality " << v.quality << ", interval " << v.interval << ", stream " << v.stream << "}";
}

// The quality getter goes first, so it is the one that fills.
H264Values read_h264(int handle)
{
    H264Values v;
    EXPECT_EQ(QRN_NET_Video_GetH264QpValue(handle, &v.quality), 0);
    EXPECT_EQ(QRN_NET_Video_GetH264KeyInter(handle, &v.interval), 0);
    EXPECT_EQ(QRN_NET_Video_GetH264Stream(handle, &v.stream), 0);
    return v;
}

TEST_F(VideoParamTest, H264FillAsksEachValueOnceAndMapsTheDeviceQp)
{
    ASSERT_NO_FATAL_FAILURE(silence_notices());
    // Quality 97 goes out as QP 20, which the fill reads back as 100.
    ASSERT_EQ(QRN_NET_Video_SetH264QpValue(handle, 97), 0);
    ASSERT_EQ(QRN_NET_Video_SetH264KeyInter(handle, 45), 0);
    ASSERT_EQ(QRN_NET_Video_SetH264Stream(handle, 1234), 0);
    running.sim->clear_packets();

    int interval = 0;
    ASSERT_EQ(QRN_NET_Video_GetH264KeyInter(handle, &interval), 0);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].code, kGetQp);
    EXPECT_EQ(packets[1].code, kGetKeyInterval);
    EXPECT_EQ(packets[2].code, kGetStreamValue);
    for (const ReceivedPacket &packet : packets)
        EXPECT_TRUE(packet.payload.empty());
    EXPECT_EQ(read_h264(handle), (H264Values{100, 45, 1234}));
    EXPECT_EQ(sent().size(), 3u) << "the other getters read the cache";
}

TEST_F(VideoParamTest, FailedH264FillIsTriedAgain)
{
    running.sim->set_fault(Fault::NonzeroStatus);
    int quality = -5;
    EXPECT_EQ(QRN_NET_Video_GetH264QpValue(handle, &quality), QRN_ERR_FAILED);
    EXPECT_EQ(quality, -5);
    EXPECT_EQ(sent().size(), 1u) << "the first refusal ends the fill";
    running.sim->set_fault(Fault::None);
    EXPECT_EQ(QRN_NET_Video_GetH264QpValue(handle, &quality), 0);
    EXPECT_EQ(sent().size(), 4u);
}

struct VersionCase {
    const char *name;
    uint32_t version;
    bool setters_write_cache;
};

void PrintTo(const VersionCase &c, std::ostream *out)
{
    *out << c.name;
}

class H264VersionTest : public VideoParamTest, public ::testing::WithParamInterface<VersionCase> {
protected:
    DeviceModel device() const override
    {
        DeviceModel model;
        model.protocol_version = GetParam().version;
        return model;
    }
};

TEST_P(H264VersionTest, SettersWriteTheCacheOnlyForDevicesBeforeFour)
{
    const H264Values before = read_h264(handle);
    ASSERT_NO_FATAL_FAILURE(silence_notices());
    const H264Values set{97, before.interval == 45 ? 46 : 45, before.stream == 1234 ? 1235 : 1234};
    ASSERT_NE(set.quality, before.quality);
    ASSERT_EQ(QRN_NET_Video_SetH264QpValue(handle, static_cast<uint32_t>(set.quality)), 0);
    ASSERT_EQ(QRN_NET_Video_SetH264KeyInter(handle, static_cast<uint32_t>(set.interval)), 0);
    ASSERT_EQ(QRN_NET_Video_SetH264Stream(handle, static_cast<uint32_t>(set.stream)), 0);
    EXPECT_EQ(read_h264(handle), GetParam().setters_write_cache ? set : before);
    EXPECT_EQ(sent().size(), 3u) << "only the three sets went out";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, H264VersionTest,
    ::testing::Values(VersionCase{"V1_2_3", 0x00010203, true}, VersionCase{"V3_9_9", 0x00030909, true},
                      VersionCase{"V4_0_0", 0x00040000, false}, VersionCase{"V5_1_0", 0x00050100, false}),
    [](const ::testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.name); });

// ---- picture controls ----------------------------------------------------

TEST_F(VideoParamTest, SetVideoCtrlBeforeAnyReadSendsNothing)
{
    VideoCtrlEntry entry{};
    for (uint32_t index = 0; index < kControlCount; ++index)
        EXPECT_EQ(QRN_NET_Video_SetVideoCtrl(handle, index, &entry), QRN_ERR_FAILED) << "control " << index;
    EXPECT_TRUE(sent().empty());
}

TEST_F(VideoParamTest, SetVideoCtrlSendsTheCachedEntryWithTheCallersValueAndMode)
{
    const Block block = fill_video_cache();
    const int index = find_control(block, true);
    ASSERT_GE(index, 0);
    VideoCtrlEntry cached{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, index, &cached), 0);
    ASSERT_NO_FATAL_FAILURE(silence_notices());

    VideoCtrlEntry request;
    std::memset(&request, 0x5A, sizeof request);  // words the library must not send
    request.current = cached.current == cached.minimum ? cached.maximum : cached.minimum;
    request.mode = cached.mode ^ 1;
    ASSERT_EQ(QRN_NET_Video_SetVideoCtrl(handle, index, &request), 0);

    Bytes expected = le32_bytes(static_cast<uint32_t>(index));
    expected.insert(expected.end(), control_in(block, index), control_in(block, index) + kControlBytes);
    const Bytes current = le32_bytes(static_cast<uint32_t>(request.current));
    std::copy(current.begin(), current.end(), expected.begin() + 4 + 8);
    const Bytes mode = le32_bytes(static_cast<uint32_t>(request.mode));
    std::copy(mode.begin(), mode.end(), expected.begin() + 4 + 28);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kSetVideoCtrl);
    EXPECT_EQ(packets[0].payload, expected);

    VideoCtrlEntry after{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, index, &after), 0);
    EXPECT_EQ(bytes_of(after), Bytes(expected.begin() + 4, expected.end()));
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(VideoParamTest, SetVideoCtrlOnAnAbsentControlSendsNothing)
{
    const Block block = fill_video_cache();
    const int index = find_control(block, false);
    ASSERT_GE(index, 0) << "the simulated probe lacks one control";
    running.sim->clear_packets();
    VideoCtrlEntry entry{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, index, &entry), 0);
    entry.present = 1;  // the caller's word does not count
    EXPECT_EQ(QRN_NET_Video_SetVideoCtrl(handle, index, &entry), QRN_ERR_FAILED);
    EXPECT_TRUE(sent().empty());
}

TEST_F(VideoParamTest, ResetVCtrlReturnsPresentControlsToTheirDefault)
{
    fill_video_cache();
    // Every other control present, every current value off its default.
    Bytes table;
    for (uint32_t i = 0; i < kControlCount; ++i)
        for (uint32_t word : {i % 2 == 0 ? 1u : 0u, 0u, 10 + i, 100u, 1u, 50 + i, 0u, 0u}) {
            const Bytes b = le32_bytes(word);
            table.insert(table.end(), b.begin(), b.end());
        }
    ASSERT_NO_FATAL_FAILURE(deliver_notice(6, table));
    ASSERT_NO_FATAL_FAILURE(silence_notices());

    ASSERT_EQ(QRN_NET_Video_ResetVCtrl(handle), 0);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, kResetVideoCtrl);
    EXPECT_TRUE(packets[0].payload.empty());
    for (uint32_t i = 0; i < kControlCount; ++i) {
        VideoCtrlEntry entry{};
        ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, i, &entry), 0);
        EXPECT_EQ(entry.current, static_cast<int32_t>(i % 2 == 0 ? 50 + i : 10 + i)) << "control " << i;
    }
}

// ---- format, size and rate -------------------------------------------------

struct SizeEntry {
    uint32_t format;
    uint32_t resolution;
    uint32_t max_fps;
};

// The sizes of the first format offering two different maximum rates:
// {fastest, slowest}.
bool find_fast_and_slow(const Block &block, SizeEntry *fast, SizeEntry *slow)
{
    for (int f = 0; f < 4; ++f) {
        const uint8_t *record = block.data() + f * kFormatRecordBytes;
        *fast = *slow = SizeEntry{le32(record), 0, 0};
        for (int s = 0; s < kSizesPerFormat; ++s) {
            const uint32_t code = le32(record + 4 + 8 * s);
            const uint32_t max_fps = le32(record + 8 + 8 * s);
            if (code == 0)
                continue;
            if (fast->resolution == 0 || max_fps > fast->max_fps)
                *fast = SizeEntry{le32(record), code, max_fps};
            if (slow->resolution == 0 || max_fps < slow->max_fps)
                *slow = SizeEntry{le32(record), code, max_fps};
        }
        if (fast->max_fps > slow->max_fps)
            return true;
    }
    return false;
}

TEST_F(VideoParamTest, NewSizeBoundsTheCachedFrameRate)
{
    SizeEntry fast{}, slow{};
    ASSERT_TRUE(find_fast_and_slow(running.sim->video_info_block(), &fast, &slow));
    running.sim->set_video_format(fast.format, static_cast<uint16_t>(fast.resolution >> 16),
                                  static_cast<uint16_t>(fast.resolution), fast.max_fps);
    ASSERT_NO_FATAL_FAILURE(silence_notices());
    VideoParam param{};
    ASSERT_EQ(QRN_NET_Video_GetParam(handle, &param), 0);
    ASSERT_EQ(param.format, fast.format);
    ASSERT_EQ(param.fps, fast.max_fps);

    ASSERT_EQ(QRN_NET_Video_SetResolu(handle, slow.resolution), 0);
    ASSERT_EQ(QRN_NET_Video_GetParam(handle, &param), 0);
    EXPECT_EQ(param.resolution, slow.resolution);
    EXPECT_EQ(param.fps, slow.max_fps);
    EXPECT_EQ(param.max_fps, slow.max_fps);

    // Back to the fast size: the bound rises, the rate stays.
    ASSERT_EQ(QRN_NET_Video_SetResolu(handle, fast.resolution), 0);
    ASSERT_EQ(QRN_NET_Video_GetParam(handle, &param), 0);
    EXPECT_EQ(param.fps, slow.max_fps);
    EXPECT_EQ(param.max_fps, fast.max_fps);
    EXPECT_EQ(count_sent(kGetVideoInfo), 1u);
}

TEST_F(VideoParamTest, RefusedSettersLeaveTheCacheAsItWas)
{
    const Block block = fill_video_cache();
    const int index = find_control(block, true);
    ASSERT_GE(index, 0);
    VideoCtrlEntry entry{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, index, &entry), 0);
    entry.current = entry.maximum + 1;  // the probe refuses values past its range

    EXPECT_EQ(QRN_NET_Video_SetVideoCtrl(handle, index, &entry), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Video_SetFormat(handle, 99), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Video_SetResolu(handle, 0x7FFF7FFF), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Video_SetFPS(handle, 0), QRN_ERR_FAILED);
    EXPECT_EQ(count_sent(kSetVideoCtrl) + count_sent(kSetFormat) + count_sent(kSetResolution) + count_sent(kSetFps),
              4u);

    VideoParam param{};
    ASSERT_EQ(QRN_NET_Video_GetParam(handle, &param), 0);
    EXPECT_EQ(bytes_of(param), slice(block, kParamsAt, 16));
    VideoCtrlEntry after{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, index, &after), 0);
    EXPECT_EQ(bytes_of(after), Bytes(control_in(block, index), control_in(block, index) + kControlBytes));
}

TEST_F(VideoParamTest, AcceptedSettersKeepTheCacheCurrentWithoutAsking)
{
    const Block block = fill_video_cache();
    SizeEntry fast{}, slow{};
    ASSERT_TRUE(find_fast_and_slow(block, &fast, &slow));
    ASSERT_NO_FATAL_FAILURE(silence_notices());

    ASSERT_EQ(QRN_NET_Video_SetFormat(handle, slow.format), 0);
    ASSERT_EQ(QRN_NET_Video_SetResolu(handle, slow.resolution), 0);
    ASSERT_EQ(QRN_NET_Video_SetFPS(handle, 1), 0);
    VideoParam param{};
    ASSERT_EQ(QRN_NET_Video_GetParam(handle, &param), 0);
    EXPECT_EQ(param.format, slow.format);
    EXPECT_EQ(param.resolution, slow.resolution);
    EXPECT_EQ(param.fps, 1u);
    EXPECT_EQ(count_sent(kGetVideoInfo), 0u);
}

TEST_F(VideoParamTest, SizeOrFormatChangeEmptiesTheVideoQueue)
{
    const Block block = fill_video_cache();
    SizeEntry fast{}, slow{};
    ASSERT_TRUE(find_fast_and_slow(block, &fast, &slow));
    using Change = int (*)(int handle, const SizeEntry &size);
    const Change changes[] = {
        [](int h, const SizeEntry &size) { return QRN_NET_Video_SetFormat(h, size.format); },
        [](int h, const SizeEntry &size) { return QRN_NET_Video_SetResolu(h, size.resolution); },
    };
    for (const Change change : changes) {
        // Frames of the old settings wait in the queue, none still on the way.
        const size_t sent_before = running.sim->state().video_frames_sent;
        ASSERT_EQ(QRN_NET_Video_Begin(handle), 0);
        ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.video_frames_sent >= sent_before + 2; },
                                            std::chrono::seconds(5)));
        ASSERT_EQ(QRN_NET_Video_End(handle), 0);
        // A notice travels behind every frame already on the way.
        ASSERT_NO_FATAL_FAILURE(deliver_notice(kNoticeChangingNothing, {}));
        int queued = 0;
        ASSERT_EQ(QRN_NET_Video_GetCurVideoFrameNum(handle, &queued), 0);
        ASSERT_GT(queued, 0);

        ASSERT_EQ(change(handle, slow), 0);
        ASSERT_EQ(QRN_NET_Video_GetCurVideoFrameNum(handle, &queued), 0);
        EXPECT_EQ(queued, 0);
    }
}

// ---- setters that send one word ---------------------------------------------

struct WordSetterCase {
    const char *name;
    int (*set)(int handle, int argument);
    uint16_t code;
    int argument;
    uint32_t sent;
};

void PrintTo(const WordSetterCase &c, std::ostream *out)
{
    *out << c.name << "(" << c.argument << ")";
}

class WordSetterTest : public VideoParamTest, public ::testing::WithParamInterface<WordSetterCase> {};

TEST_P(WordSetterTest, SendsTheArgumentAfterClamping)
{
    ASSERT_EQ(GetParam().set(handle, GetParam().argument), 0);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, GetParam().code);
    EXPECT_EQ(packets[0].payload, le32_bytes(GetParam().sent));
}

int set_qp(int handle, int quality)
{
    return QRN_NET_Video_SetH264QpValue(handle, static_cast<uint32_t>(quality));
}
int set_key_interval(int handle, int interval)
{
    return QRN_NET_Video_SetH264KeyInter(handle, static_cast<uint32_t>(interval));
}
int set_stream(int handle, int value)
{
    return QRN_NET_Video_SetH264Stream(handle, static_cast<uint32_t>(value));
}
int set_quality(int handle, int quality)
{
    return QRN_NET_Video_SetQuality(handle, static_cast<uint32_t>(quality));
}

INSTANTIATE_TEST_SUITE_P(H264Qp, WordSetterTest,
                         ::testing::Values(WordSetterCase{"QpValue", set_qp, kSetQp, 0, 40},
                                           WordSetterCase{"QpValue", set_qp, kSetQp, 50, 30},
                                           WordSetterCase{"QpValue", set_qp, kSetQp, 97, 20},
                                           WordSetterCase{"QpValue", set_qp, kSetQp, 100, 20},
                                           WordSetterCase{"QpValue", set_qp, kSetQp, 150, 20},
                                           WordSetterCase{"QpValue", set_qp, kSetQp, -1, 20}));
INSTANTIATE_TEST_SUITE_P(H264KeyInterval, WordSetterTest,
                         ::testing::Values(WordSetterCase{"KeyInter", set_key_interval, kSetKeyInterval, 0, 1},
                                           WordSetterCase{"KeyInter", set_key_interval, kSetKeyInterval, 25, 25},
                                           WordSetterCase{"KeyInter", set_key_interval, kSetKeyInterval, 300, 300},
                                           WordSetterCase{"KeyInter", set_key_interval, kSetKeyInterval, 301, 300},
                                           WordSetterCase{"KeyInter", set_key_interval, kSetKeyInterval, -1, 300}));
INSTANTIATE_TEST_SUITE_P(H264Stream, WordSetterTest,
                         ::testing::Values(WordSetterCase{"Stream", set_stream, kSetStreamValue, 0, 1},
                                           WordSetterCase{"Stream", set_stream, kSetStreamValue, 4000, 4000},
                                           WordSetterCase{"Stream", set_stream, kSetStreamValue, 100001, 100000},
                                           WordSetterCase{"Stream", set_stream, kSetStreamValue, -1, 100000}));
INSTANTIATE_TEST_SUITE_P(JpegQuality, WordSetterTest,
                         ::testing::Values(WordSetterCase{"Quality", set_quality, kSetQuality, 10, 30},
                                           WordSetterCase{"Quality", set_quality, kSetQuality, 30, 30},
                                           WordSetterCase{"Quality", set_quality, kSetQuality, 60, 60},
                                           WordSetterCase{"Quality", set_quality, kSetQuality, 90, 90},
                                           WordSetterCase{"Quality", set_quality, kSetQuality, 95, 90},
                                           WordSetterCase{"Quality", set_quality, kSetQuality, -1, 90}));
INSTANTIATE_TEST_SUITE_P(
    Rotation, WordSetterTest,
    ::testing::Values(WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, -90, 0},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 0, 0},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 1, 90},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 45, 90},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 90, 90},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 179, 90},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 180, 180},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 200, 180},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 269, 180},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 270, 270},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 359, 270},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 360, 0},
                      WordSetterCase{"Rotation", QRN_NET_Video_SetVideoRotation, kSetRotation, 720, 0}));
INSTANTIATE_TEST_SUITE_P(FpsLimit, WordSetterTest,
                         ::testing::Values(WordSetterCase{"FpsLimit", QRN_NET_Video_SetFpsLimit, kSetFpsLimit, 0, 0},
                                           WordSetterCase{"FpsLimit", QRN_NET_Video_SetFpsLimit, kSetFpsLimit, 1, 1},
                                           WordSetterCase{"FpsLimit", QRN_NET_Video_SetFpsLimit, kSetFpsLimit, -7, 1}));

// ---- blocks passed through ---------------------------------------------------

struct BlockSetterCase {
    const char *name;
    int (*set)(int handle, const void *block);
    uint16_t code;
    size_t length;
};

void PrintTo(const BlockSetterCase &c, std::ostream *out)
{
    *out << c.name;
}

class BlockSetterTest : public VideoParamTest, public ::testing::WithParamInterface<BlockSetterCase> {};

TEST_P(BlockSetterTest, SendsExactlyItsBlock)
{
    std::array<uint8_t, 128> block{};
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 3 + 1);
    ASSERT_EQ(GetParam().set(handle, block.data()), 0);
    const auto packets = sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, GetParam().code);
    EXPECT_EQ(packets[0].payload, Bytes(block.begin(), block.begin() + GetParam().length));
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockSetterTest,
    ::testing::Values(BlockSetterCase{"RectYuyv", QRN_NET_Video_SetRectYuyv, kSetRectYuyv, 16},
                      BlockSetterCase{"CROP", QRN_NET_Video_SetCROP, kSetCrop, 16},
                      BlockSetterCase{"XuCtrl", QRN_NET_Video_SetXuCtrl, kSetXuCtrl, 70},
                      BlockSetterCase{"ForceI",
                                      [](int handle, const void *) { return QRN_NET_Video_SetForceI(handle); },
                                      kForceKeyFrame, 0}),
    [](const ::testing::TestParamInfo<BlockSetterCase> &info) { return std::string(info.param.name); });

struct RectCase {
    const char *name;
    int (*set)(int handle, const void *rect);
    int (*get)(int handle, void *rect);
    uint16_t get_code;
};

TEST_F(VideoParamTest, RectanglesReadBackWhatTheDeviceHolds)
{
    for (const RectCase &c : {RectCase{"RectYuyv", QRN_NET_Video_SetRectYuyv, QRN_NET_Video_GetRectYuyv, kGetRectYuyv},
                              RectCase{"CROP", QRN_NET_Video_SetCROP, QRN_NET_Video_GetCROP, kGetCrop}}) {
        SCOPED_TRACE(c.name);
        std::array<uint8_t, 16> rect{};
        for (size_t i = 0; i < rect.size(); ++i)
            rect[i] = static_cast<uint8_t>(0xA0 + i + c.get_code);
        ASSERT_EQ(c.set(handle, rect.data()), 0);
        running.sim->clear_packets();
        std::array<uint8_t, 20> read{};
        read.fill(0xEE);
        ASSERT_EQ(c.get(handle, read.data()), 0);
        EXPECT_EQ(Bytes(read.begin(), read.begin() + 16), Bytes(rect.begin(), rect.end()));
        EXPECT_EQ(read[16], 0xEE) << "nothing written past the 16 bytes";
        const auto packets = sent();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].code, c.get_code);
        EXPECT_TRUE(packets[0].payload.empty());
    }
}

TEST_F(VideoParamTest, QualityReadsBackWhatWasSet)
{
    ASSERT_EQ(QRN_NET_Video_SetQuality(handle, 95), 0);
    int quality = 0;
    ASSERT_EQ(QRN_NET_Video_GetQuality(handle, &quality), 0);
    EXPECT_EQ(quality, 90);
    EXPECT_EQ(count_sent(kGetQuality), 1u);
}

// ---- argument checks -------------------------------------------------------------

struct NullCase {
    const char *name;
    int (*call)(int handle);
    int expected;
};

TEST_F(VideoParamTest, NullPointersAreRefusedBeforeTheHandleAndSendNothing)
{
    const NullCase cases[] = {
        {"GetAbility", [](int h) { return QRN_NET_Video_GetAbility(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetVideoCtrl", [](int h) { return QRN_NET_Video_GetVideoCtrl(h, 0, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetFormat", [](int h) { return QRN_NET_Video_GetFormat(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetResolu", [](int h) { return QRN_NET_Video_GetResolu(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetFPS", [](int h) { return QRN_NET_Video_GetFPS(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetParam", [](int h) { return QRN_NET_Video_GetParam(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetH264KeyInter", [](int h) { return QRN_NET_Video_GetH264KeyInter(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetH264QpValue", [](int h) { return QRN_NET_Video_GetH264QpValue(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetH264Stream", [](int h) { return QRN_NET_Video_GetH264Stream(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetQuality", [](int h) { return QRN_NET_Video_GetQuality(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"SetVideoCtrl", [](int h) { return QRN_NET_Video_SetVideoCtrl(h, 0, nullptr); }, QRN_ERR_NULL_POINTER},
        {"SetXuCtrl", [](int h) { return QRN_NET_Video_SetXuCtrl(h, nullptr); }, QRN_ERR_NULL_POINTER},
        {"GetRectYuyv", [](int h) { return QRN_NET_Video_GetRectYuyv(h, nullptr); }, QRN_ERR_FAILED},
        {"GetCROP", [](int h) { return QRN_NET_Video_GetCROP(h, nullptr); }, QRN_ERR_FAILED},
        {"SetRectYuyv", [](int h) { return QRN_NET_Video_SetRectYuyv(h, nullptr); }, QRN_ERR_FAILED},
        {"SetCROP", [](int h) { return QRN_NET_Video_SetCROP(h, nullptr); }, QRN_ERR_FAILED},
    };
    for (const NullCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(handle), c.expected);
        EXPECT_EQ(c.call(0x1234), c.expected);
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(VideoParamTest, InvalidHandlesAreRefused)
{
    using Call = int (*)(int handle);
    // One call per line reads as a table.
    // clang-format off
    const Call calls[] = {
        [](int h) { uint8_t out[400]; return QRN_NET_Video_GetAbility(h, out); },
        [](int h) { VideoCtrlEntry e{}; return QRN_NET_Video_GetVideoCtrl(h, 0, &e); },
        [](int h) { int v; return QRN_NET_Video_GetFormat(h, &v); },
        [](int h) { int v; return QRN_NET_Video_GetResolu(h, &v); },
        [](int h) { int v; return QRN_NET_Video_GetFPS(h, &v); },
        [](int h) { VideoParam p; return QRN_NET_Video_GetParam(h, &p); },
        [](int h) { int v; return QRN_NET_Video_GetH264KeyInter(h, &v); },
        [](int h) { int v; return QRN_NET_Video_GetH264QpValue(h, &v); },
        [](int h) { int v; return QRN_NET_Video_GetH264Stream(h, &v); },
        [](int h) { uint8_t r[16]; return QRN_NET_Video_GetRectYuyv(h, r); },
        [](int h) { uint8_t r[16]; return QRN_NET_Video_GetCROP(h, r); },
        [](int h) { int v; return QRN_NET_Video_GetQuality(h, &v); },
        [](int h) { VideoCtrlEntry e{}; return QRN_NET_Video_SetVideoCtrl(h, 0, &e); },
        [](int h) { return QRN_NET_Video_SetFormat(h, 2); },
        [](int h) { return QRN_NET_Video_SetResolu(h, 0x028001E0); },
        [](int h) { return QRN_NET_Video_SetFPS(h, 15); },
        [](int h) { return QRN_NET_Video_ResetVCtrl(h); },
        [](int h) { return QRN_NET_Video_SetH264KeyInter(h, 30); },
        [](int h) { return QRN_NET_Video_SetH264QpValue(h, 50); },
        [](int h) { return QRN_NET_Video_SetH264Stream(h, 2000); },
        [](int h) { return QRN_NET_Video_SetQuality(h, 50); },
        [](int h) { return QRN_NET_Video_SetFpsLimit(h, 1); },
        [](int h) { return QRN_NET_Video_SetForceI(h); },
        [](int h) { return QRN_NET_Video_SetVideoRotation(h, 90); },
        [](int h) { const uint8_t r[16] = {}; return QRN_NET_Video_SetRectYuyv(h, r); },
        [](int h) { const uint8_t r[16] = {}; return QRN_NET_Video_SetCROP(h, r); },
        [](int h) { const uint8_t b[70] = {}; return QRN_NET_Video_SetXuCtrl(h, b); },
    };
    // clang-format on
    for (int bad : {0, -1, 0x20130805 + 16, handle + 1}) {
        for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i)
            EXPECT_EQ(calls[i](bad), QRN_ERR_INVALID_HANDLE) << "call " << i << " with handle " << bad;
    }
    EXPECT_TRUE(sent().empty());
}

}  // namespace
