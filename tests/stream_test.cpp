// Stream reception: fragments, queues, poll, key-frame recovery and the
// video stream calls, against a simulated probe over real sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "session_table.h"
#include "probe_wire.h"
#include "test_support.h"

using namespace testing_support;
using probesim::Fault;
using probesim::ProbeSimulator;
using probesim::StreamPacket;
using probesim::wire::kForceKeyFrame;
using probesim::wire::kSetSnapshotQuality;
using probesim::wire::kVideoBegin;
using probesim::wire::kVideoEnd;

namespace {

constexpr uint32_t kJpeg = 2;
constexpr uint32_t kH264 = 3;
constexpr uint32_t kSmall = (320u << 16) | 240u;
const auto kWait = testing_support::test_wait(std::chrono::seconds(5));

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// Splits a payload into count fragments of one frame.
std::vector<StreamPacket> fragments(uint8_t type, const std::vector<uint8_t> &payload, int count)
{
    std::vector<StreamPacket> packets;
    const size_t step = (payload.size() + count - 1) / count;
    for (int i = 0; i < count; ++i) {
        StreamPacket p;
        p.type = type;
        p.fragment_count = static_cast<uint8_t>(count);
        p.fragment_index = static_cast<uint8_t>(i);
        const size_t begin = std::min(payload.size(), i * step);
        const size_t end = std::min(payload.size(), begin + step);
        p.payload.assign(payload.begin() + begin, payload.begin() + end);
        packets.push_back(p);
    }
    return packets;
}

StreamPacket whole(uint8_t type, std::vector<uint8_t> payload)
{
    StreamPacket p;
    p.type = type;
    p.payload = std::move(payload);
    return p;
}

std::vector<uint8_t> u32_words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return bytes;
}

size_t count_code(const ProbeSimulator &sim, uint16_t code)
{
    const auto packets = sim.packets();
    return static_cast<size_t>(
        std::count_if(packets.begin(), packets.end(), [code](const auto &p) { return p.code == code; }));
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        running = start_sim();
        running.sim->set_video_format(kJpeg, 320, 240, 30);
        ASSERT_EQ(QRN_NET_ConnectDevice(&handle, running.address.c_str(), nullptr), 0);
        ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.stream_connections_made >= 1; }, kWait));
        running.sim->clear_packets();
    }
    void TearDown() override { EXPECT_TRUE(disconnect_and_wait(handle)); }

    // Polls until one of the flags shows up or the time runs out.
    int wait_for(int mask, std::chrono::milliseconds limit = kWait)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int flags = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const int result = QRN_NET_Poll(handle, &flags, 100);
            if (result == QRN_OK && (flags & mask))
                return flags;
            if (result == QRN_ERR_CLOSED || result == QRN_ERR_INVALID_HANDLE)
                return result;
        }
        return 0;
    }

    // Sends a one-fragment video frame and says whether it reached the queue.
    bool frame_arrives(uint32_t format, uint32_t sequence, bool key)
    {
        int before = 0;
        QRN_NET_Video_GetCurVideoFrameNum(handle, &before);
        const auto payload = ProbeSimulator::frame_payload(format, kSmall, sequence, key, pattern(64, 1));
        // A picture right behind the frame shows when the frame has been handled.
        const auto marker = ProbeSimulator::frame_payload(kJpeg, kSmall, 0, false, pattern(8, 2));
        if (!running.sim->send_stream_packets({whole(0, payload), whole(1, marker)}))
            return false;
        if (!(wait_for(POLL_PICTURE) & POLL_PICTURE))
            return false;
        FrameHeader *picture = nullptr;
        QRN_NET_Video_RequestPicData(handle, &picture);
        QRN_NET_Video_ReleasePicData(handle, picture);
        int after = 0;
        QRN_NET_Video_GetCurVideoFrameNum(handle, &after);
        return after == before + 1;
    }

    RunningSim running;
    int handle = 0;
};

TEST_F(StreamTest, ThreeFragmentsMakeOneFrameDeliveredAfterTheLast)
{
    const auto data = pattern(3000, 9);
    const auto packets = fragments(0, ProbeSimulator::frame_payload(kJpeg, kSmall, 5, false, data), 3);
    ASSERT_TRUE(running.sim->send_stream_packets({packets[0], packets[1]}));
    int flags = 0;
    EXPECT_EQ(QRN_NET_Poll(handle, &flags, 300), QRN_ERR_TIMEOUT) << "no frame before its last fragment";

    ASSERT_TRUE(running.sim->send_stream_packets({packets[2]}));
    ASSERT_TRUE(wait_for(POLL_VIDEO) & POLL_VIDEO);
    FrameElement *element = nullptr;
    int remaining = -1;
    ASSERT_EQ(QRN_NET_Video_RequestVideoData1(handle, &element, &remaining), 0);
    EXPECT_EQ(remaining, 0);
    EXPECT_EQ(element->header.format, kJpeg);
    EXPECT_EQ(element->header.sequence, 5u) << "the whole element keeps its sequence number";
    ASSERT_EQ(element->header.length, data.size());
    EXPECT_EQ(0, std::memcmp(element->data, data.data(), data.size()));
    EXPECT_EQ(QRN_NET_Video_ReleaseVideoData1(handle, element), 0);
    EXPECT_EQ(QRN_NET_Video_RequestVideoData1(handle, &element, nullptr), QRN_ERR_FAILED) << "delivered once";
}

// A burst too short to fill half the queue still wakes a waiting poller
// once it has been read, and every frame arrives, once, in order, with its
// own bytes.
TEST_F(StreamTest, BurstOfFramesArrivesWholeAndInOrder)
{
    constexpr uint32_t kFrames = 30;
    std::vector<StreamPacket> burst;
    for (uint32_t n = 1; n <= kFrames; ++n) {
        const auto payload = ProbeSimulator::frame_payload(kJpeg, kSmall, n, false, pattern(9000 + 97 * n, n));
        for (auto &packet : fragments(0, payload, 2))
            burst.push_back(packet);
    }
    bool sent = false;
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sent = running.sim->send_stream_packets(burst);
    });
    int flags = 0;
    EXPECT_EQ(QRN_NET_Poll(handle, &flags, 5000), QRN_OK) << "woken by the burst, not by the time-out";
    EXPECT_TRUE(flags & POLL_VIDEO);
    sender.join();
    ASSERT_TRUE(sent);
    uint32_t next = 1;
    while (next <= kFrames && (wait_for(POLL_VIDEO) & POLL_VIDEO)) {
        FrameElement *element = nullptr;
        while (QRN_NET_Video_RequestVideoData1(handle, &element, nullptr) == 0) {
            EXPECT_EQ(element->header.sequence, next);
            const auto expected = pattern(9000 + 97 * next, static_cast<uint8_t>(next));
            ASSERT_EQ(element->header.length, expected.size());
            EXPECT_EQ(0, std::memcmp(element->data, expected.data(), expected.size())) << "frame " << next;
            QRN_NET_Video_ReleaseVideoData1(handle, element);
            ++next;
        }
    }
    EXPECT_EQ(next, kFrames + 1);
}

// Released elements are filled again with later frames: frames that grow and
// shrink still arrive intact, whichever release call gave the block back.
TEST_F(StreamTest, FramesOfChangingSizeKeepTheirBytes)
{
    const size_t sizes[] = {1000, 64000, 500, 200000, 70000, 3000, 250000};
    uint32_t sequence = 0;
    for (size_t size : sizes) {
        ++sequence;
        const auto data = pattern(size, static_cast<uint8_t>(sequence));
        const auto payload = ProbeSimulator::frame_payload(kJpeg, kSmall, sequence, false, data);
        ASSERT_TRUE(running.sim->send_stream_packets(fragments(0, payload, 3)));
        ASSERT_TRUE(wait_for(POLL_VIDEO) & POLL_VIDEO) << size;
        FrameHeader *frame = nullptr;
        ASSERT_EQ(QRN_NET_Video_RequestVideoData(handle, &frame), 0);
        ASSERT_EQ(frame->length, data.size());
        EXPECT_EQ(0, std::memcmp(reinterpret_cast<uint8_t *>(frame) + sizeof(FrameHeader), data.data(), size));
        if (sequence % 2)
            EXPECT_EQ(QRN_NET_Video_ReleaseVideoData(handle, frame), 0);
        else
            EXPECT_EQ(QRN_NET_Video_ReleaseVideoData1(
                          0x1234, reinterpret_cast<FrameElement *>(reinterpret_cast<uint8_t *>(frame) - 8)),
                      0)
                << "a handle that names no session still frees the element";
    }
}

TEST_F(StreamTest, PollReportsEachQueue)
{
    struct Case {
        uint8_t type;
        std::vector<uint8_t> payload;
        int flags;
    };
    const Case cases[] = {
        {1, ProbeSimulator::frame_payload(kJpeg, kSmall, 0, false, pattern(10, 3)), POLL_PICTURE},
        {2, pattern(160, 4), POLL_AUDIO},
        {3, pattern(5, 5), POLL_SERIAL},
        {4, u32_words({160, 1, 2}), POLL_PARAM},
    };
    SessionContext *session = session_lookup(handle);
    ASSERT_NE(session, nullptr);
    for (const Case &c : cases) {
        ASSERT_TRUE(running.sim->send_stream_packets({whole(c.type, c.payload)}));
        EXPECT_EQ(wait_for(c.flags), c.flags) << "stream type " << int(c.type);
        for (quarn_queue *q : {session->queues.picture, session->queues.audio, session->queues.serial})
            quarn_queue_clean(q);
        int sub_type = -1;
        while (QRN_NET_GetParamChangeType(handle, &sub_type) == 0) {
        }
    }
    EXPECT_EQ(POLL_SERIAL & POLL_VIDEO, POLL_VIDEO) << "serial data also looks like video to a 0x01 test";
}

TEST_F(StreamTest, SerialBlockCarriesItsLengthAndCounts)
{
    ASSERT_TRUE(running.sim->send_stream_packets({whole(3, {'h', 'e', 'l', 'l', 'o'})}));
    ASSERT_EQ(wait_for(POLL_SERIAL), POLL_SERIAL);
    SessionContext *session = session_lookup(handle);
    void *element = nullptr;
    int size = 0;
    int tag = 0;
    ASSERT_EQ(quarn_queue_getElem(session->queues.serial, &element, &size, &tag), 0);
    ASSERT_EQ(size, 9);
    uint32_t length = 0;
    std::memcpy(&length, element, 4);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(0, std::memcmp(static_cast<uint8_t *>(element) + 4, "hello", 5));
    std::free(element);
    EXPECT_EQ(session->serial_received_bytes, 5u);
    EXPECT_EQ(session->serial_cache_size, 5u);
}

TEST_F(StreamTest, H264GapsWaitForAKeyFrameAndAskOnce)
{
    struct Case {
        uint32_t key_sequence;
        uint32_t next;
        bool delivered;
    };
    const Case cases[] = {
        {7, 7, true}, {7, 8, true}, {7, 9, false}, {7, 6, false}, {0xFFFFFFFF, 0, true},
    };
    for (const Case &c : cases) {
        running.sim->clear_packets();
        ASSERT_TRUE(frame_arrives(kH264, c.key_sequence, true));
        EXPECT_EQ(frame_arrives(kH264, c.next, false), c.delivered) << c.key_sequence << " then " << c.next;
        if (!c.delivered) {
            EXPECT_FALSE(frame_arrives(kH264, c.next + 1, false)) << "dropped until the next key frame";
            EXPECT_TRUE(running.sim->wait_until([&](const auto &s) { return s.packets_logged >= 1; }, kWait));
            EXPECT_EQ(count_code(*running.sim, kForceKeyFrame), 1u) << "one key-frame request per gap";
        } else {
            EXPECT_EQ(count_code(*running.sim, kForceKeyFrame), 0u);
        }
    }
    EXPECT_TRUE(frame_arrives(kJpeg, 1000, false)) << "other formats never wait";
}

TEST_F(StreamTest, BeginAndEndAreIdempotentOnTheDevice)
{
    EXPECT_EQ(QRN_NET_Video_End(handle), QRN_ERR_FAILED) << "not running yet";
    EXPECT_EQ(QRN_NET_Video_Begin(handle), 0);
    EXPECT_EQ(QRN_NET_Video_Begin(handle), 0);
    EXPECT_EQ(count_code(*running.sim, kVideoBegin), 1u) << "the second Begin sends nothing";
    EXPECT_EQ(QRN_NET_Video_End(handle), 0);
    EXPECT_EQ(QRN_NET_Video_End(handle), QRN_ERR_FAILED);
    EXPECT_EQ(count_code(*running.sim, kVideoEnd), 1u);
}

TEST_F(StreamTest, FailedBeginStillEmptiesTheQueues)
{
    ASSERT_TRUE(frame_arrives(kJpeg, 1, false));
    running.sim->set_fault(Fault::NonzeroStatus);
    EXPECT_EQ(QRN_NET_Video_Begin(handle), QRN_ERR_FAILED);
    int count = -1;
    ASSERT_EQ(QRN_NET_Video_GetCurVideoFrameNum(handle, &count), 0);
    EXPECT_EQ(count, 0);
    running.sim->set_fault(Fault::None);
    EXPECT_EQ(QRN_NET_Video_End(handle), QRN_ERR_FAILED) << "the failed Begin left the video stopped";
}

TEST_F(StreamTest, HeaderViewSitsEightBytesIntoTheElementWithRateWords)
{
    ASSERT_EQ(QRN_NET_Video_Begin(handle), 0);  // rate window restarts
    ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.video_frames_sent >= 1; }, kWait));
    ASSERT_TRUE(wait_for(POLL_VIDEO) & POLL_VIDEO);
    ASSERT_EQ(QRN_NET_Video_End(handle), 0);

    FrameHeader *frame = nullptr;
    int remaining = -1;
    ASSERT_EQ(QRN_NET_Video_RequestVideoData2(handle, &frame, &remaining), 0);
    const auto *element = reinterpret_cast<const FrameElement *>(reinterpret_cast<uint8_t *>(frame) - 8);
    EXPECT_EQ(&element->header, frame);
    EXPECT_EQ(frame->sequence, element->window_frames) << "offset 12 carries the frames per second";
    uint32_t bytes_word = 0;
    std::memcpy(&bytes_word, reinterpret_cast<uint8_t *>(frame) + 16, 4);
    EXPECT_EQ(bytes_word, element->window_bytes) << "offset 16 carries the bytes per second";
    EXPECT_GE(element->window_frames, 1u) << "the first frame after Begin closes a window at once";
    EXPECT_GE(element->window_bytes, frame->length);
    const auto *data = reinterpret_cast<const uint8_t *>(frame) + sizeof(FrameHeader);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8) << "a JPEG frame follows the header";
    EXPECT_EQ(QRN_NET_Video_ReleaseVideoData(handle, frame), 0);
    EXPECT_EQ(QRN_NET_Video_ReleaseVideoData1(0, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Video_ReleaseVideoData(0, nullptr), QRN_ERR_NULL_POINTER);
    EXPECT_EQ(QRN_NET_Video_ReleasePicData(0, nullptr), QRN_ERR_NULL_POINTER);
}

TEST_F(StreamTest, SnapshotArrivesAsPictureWithZeroRates)
{
    ASSERT_EQ(QRN_NET_Video_SnapShot(handle), 0);
    ASSERT_TRUE(wait_for(POLL_PICTURE) & POLL_PICTURE);
    FrameHeader *picture = nullptr;
    ASSERT_EQ(QRN_NET_Video_RequestPicData(handle, &picture), 0);
    EXPECT_EQ(picture->format, kJpeg);
    EXPECT_EQ(picture->sequence, 0u);
    uint32_t word16 = 1;
    std::memcpy(&word16, reinterpret_cast<uint8_t *>(picture) + 16, 4);
    EXPECT_EQ(word16, 0u);
    EXPECT_GT(picture->length, 100u);
    EXPECT_EQ(QRN_NET_Video_ReleasePicData(handle, picture), 0);
    EXPECT_EQ(QRN_NET_Video_RequestPicData(handle, &picture), QRN_ERR_FAILED);
}

TEST_F(StreamTest, SnapshotQualityIsClamped)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{10, 30}, {30, 30}, {75, 75}, {95, 90}, {0xFFFFFFFF, 90}};
    for (const auto &[asked, sent] : cases) {
        running.sim->clear_packets();
        ASSERT_EQ(QRN_NET_Video_SnapShotQuality(handle, asked), 0);
        const auto packets = running.sim->packets();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].code, kSetSnapshotQuality);
        EXPECT_EQ(packets[0].payload, u32_words({sent})) << asked;
    }
}

TEST_F(StreamTest, FrameLimitsOfBothSides)
{
    int value = 0;
    ASSERT_EQ(QRN_NET_Video_GetLocalMaxFrameNum(handle, &value), 0);
    EXPECT_EQ(value, 100);
    EXPECT_EQ(QRN_NET_Video_SetLocalMaxFrameNum(handle, 0), QRN_ERR_FAILED);
    ASSERT_EQ(QRN_NET_Video_SetLocalMaxFrameNum(handle, 2), 0);
    for (uint32_t i = 1; i <= 3; ++i)
        frame_arrives(kJpeg, i, false);
    int count = 0;
    ASSERT_EQ(QRN_NET_Video_GetCurVideoFrameNum(handle, &count), 0);
    EXPECT_EQ(count, 2) << "the queue holds no more than its capacity";
    FrameElement *oldest = nullptr;
    ASSERT_EQ(QRN_NET_Video_RequestVideoData1(handle, &oldest, nullptr), 0);
    EXPECT_EQ(oldest->header.sequence, 2u) << "a full queue gives up its oldest frame";
    QRN_NET_Video_ReleaseVideoData1(handle, oldest);
    ASSERT_EQ(QRN_NET_Video_SetLocalMaxFrameNum(handle, 100), 0);

    ASSERT_EQ(QRN_NET_Video_GetPeerMaxFrameNum(handle, &value), 0);
    EXPECT_EQ(static_cast<uint32_t>(value), running.sim->state().model.peer_max_frame) << "from the login";
    ASSERT_EQ(QRN_NET_Video_SetPeerMaxFrameNum(handle, 12), 0);
    EXPECT_EQ(running.sim->packets().back().payload, u32_words({12}));
    ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);
    ASSERT_EQ(QRN_NET_Video_GetPeerMaxFrameNum(handle, &value), 0);
    EXPECT_EQ(value, 12) << "the stored figure follows the device's notice";
}

TEST_F(StreamTest, ParamChangeReplacesOneControlEntry)
{
    VideoCtrlEntry before[10];
    for (uint32_t i = 0; i < 10; ++i)
        ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, i, &before[i]), 0);
    const std::vector<uint8_t> entry = u32_words({1, 5, 6, 7, 0, 6, 0, 0});
    std::vector<uint8_t> notice = u32_words({2, 3});
    notice.insert(notice.end(), entry.begin(), entry.end());
    ASSERT_TRUE(running.sim->send_stream_packets({whole(4, notice)}));
    ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);

    int sub_type = -1;
    ASSERT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), 0);
    EXPECT_EQ(sub_type, 2);
    EXPECT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), QRN_ERR_FAILED);
    int length = 0;
    void *data = nullptr;
    ASSERT_EQ(QRN_NET_GetCmdResponse(handle, &length, &data), 0);
    ASSERT_EQ(length, 36) << "the data after the sub-type word";
    EXPECT_EQ(0, std::memcmp(data, notice.data() + 4, 36));

    for (uint32_t i = 0; i < 10; ++i) {
        VideoCtrlEntry now{};
        ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, i, &now), 0);
        if (i == 3)
            EXPECT_EQ(0, std::memcmp(&now, entry.data(), 32));
        else
            EXPECT_EQ(0, std::memcmp(&now, &before[i], 32)) << "entry " << i << " untouched";
    }
}

TEST_F(StreamTest, NoticeForAnEntryPastTheTableChangesNothing)
{
    VideoCtrlEntry entry9{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, 9, &entry9), 0);
    SessionContext *session = session_lookup(handle);
    VideoCache before;
    {
        std::lock_guard<std::mutex> guard(session->cache_mutex);
        before = session->video_cache;
    }
    std::vector<uint8_t> notice = u32_words({2, 10});
    const auto entry = pattern(32, 77);
    notice.insert(notice.end(), entry.begin(), entry.end());
    ASSERT_TRUE(running.sim->send_stream_packets({whole(4, notice)}));
    ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    EXPECT_EQ(0, std::memcmp(&session->video_cache, &before, sizeof before))
        << "index 10 would land on the video words after the table";
}

// A notice may come in several fragments: they are put together before the
// sub-type is read, so the cache and the last response get the whole notice.
TEST_F(StreamTest, NoticeInFragmentsIsAssembledBeforeItIsApplied)
{
    VideoCtrlEntry filled{};
    ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, 3, &filled), 0);  // the cache a notice keeps current
    for (int count : {2, 3}) {
        const std::vector<uint8_t> entry = u32_words({1, 10, 20 + static_cast<uint32_t>(count), 30, 0, 6, 0, 0});
        std::vector<uint8_t> notice = u32_words({2, 3});
        notice.insert(notice.end(), entry.begin(), entry.end());
        ASSERT_TRUE(running.sim->send_stream_packets(fragments(4, notice, count)));
        ASSERT_TRUE(wait_for(POLL_PARAM) & POLL_PARAM);

        int sub_type = -1;
        ASSERT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), 0);
        EXPECT_EQ(sub_type, 2) << count << " fragments";
        EXPECT_EQ(QRN_NET_GetParamChangeType(handle, &sub_type), QRN_ERR_FAILED) << "one notice";
        int length = 0;
        void *data = nullptr;
        ASSERT_EQ(QRN_NET_GetCmdResponse(handle, &length, &data), 0);
        ASSERT_EQ(length, 36);
        EXPECT_EQ(0, std::memcmp(data, notice.data() + 4, 36));
        VideoCtrlEntry now{};
        ASSERT_EQ(QRN_NET_Video_GetVideoCtrl(handle, 3, &now), 0);
        EXPECT_EQ(0, std::memcmp(&now, entry.data(), 32));
    }
}

// A packet whose fragment count is 0 or whose index is not below its count
// is read past and drops the frame or block it belonged to, for every
// stream type; the next whole one arrives alone and intact.
TEST_F(StreamTest, FragmentOutsideItsCountDropsItsFrameOrBlock)
{
    SessionContext *session = session_lookup(handle);
    ASSERT_NE(session, nullptr);
    struct Type {
        uint8_t code;
        int flag;
        quarn_queue *queue;
    };
    const Type types[] = {
        {0, POLL_VIDEO, session->queues.video},       {1, POLL_PICTURE, session->queues.picture},
        {2, POLL_AUDIO, session->queues.audio},       {3, POLL_SERIAL, session->queues.serial},
        {4, POLL_PARAM, session->queues.paramchange},
    };
    // A whole frame or block of the type; seed tells them apart.
    const auto whole_payload = [](uint8_t type, uint8_t seed) {
        if (type <= 1)
            return ProbeSimulator::frame_payload(kJpeg, kSmall, seed, false, pattern(64, seed));
        if (type == 4)
            return u32_words({9, 7000u + seed});  // would change the peer's frame limit
        return pattern(40 + seed, seed);
    };
    const auto packet = [](uint8_t type, uint8_t count, uint8_t index, std::vector<uint8_t> payload) {
        StreamPacket p = whole(type, std::move(payload));
        p.fragment_count = count;
        p.fragment_index = index;
        return p;
    };
    // What a taken element holds: the frame data, the block, or the sub-type.
    const auto take_all = [&](const Type &t) {
        std::vector<std::vector<uint8_t>> taken;
        if (t.code == 4) {
            int sub_type = 0;
            while (QRN_NET_GetParamChangeType(handle, &sub_type) == 0)
                taken.push_back(u32_words({static_cast<uint32_t>(sub_type)}));
            return taken;
        }
        void *element = nullptr;
        int size = 0;
        int tag = 0;
        while (quarn_queue_getElem(t.queue, &element, &size, &tag) == 0) {
            const auto *bytes = static_cast<const uint8_t *>(element);
            if (t.code <= 1) {
                const auto *frame = static_cast<const FrameElement *>(element);
                taken.emplace_back(frame->data, frame->data + frame->header.length);
            } else if (t.code == 3) {
                uint32_t length = 0;
                std::memcpy(&length, bytes, 4);
                EXPECT_EQ(length + 4, static_cast<uint32_t>(size)) << "the length word matches the block";
                taken.emplace_back(bytes + 4, bytes + size);
            } else {
                taken.emplace_back(bytes, bytes + size);
            }
            std::free(element);
        }
        return taken;
    };

    for (const Type &t : types) {
        const auto broken = whole_payload(t.code, 1);
        const auto half = broken.size() / 2;
        const std::vector<uint8_t> first(broken.begin(), broken.begin() + half);
        const std::vector<uint8_t> rest(broken.begin() + half, broken.end());
        const std::vector<std::vector<StreamPacket>> shapes = {
            {packet(t.code, 0, 0, broken)},
            {packet(t.code, 1, 1, broken)},
            {packet(t.code, 2, 5, broken)},
            {packet(t.code, 2, 0, first), packet(t.code, 2, 2, rest), packet(t.code, 2, 1, rest)},
        };
        for (size_t shape = 0; shape < shapes.size(); ++shape) {
            SCOPED_TRACE(testing::Message() << "type " << int(t.code) << ", shape " << shape);
            const uint32_t received_before = session->serial_received_bytes;
            std::vector<StreamPacket> packets = shapes[shape];
            const auto marker = whole_payload(t.code, 2);
            packets.push_back(whole(t.code, marker));
            // Something of another queue behind them shows they were all read.
            const bool notice_behind = t.code != 4;
            packets.push_back(notice_behind ? whole(4, u32_words({160})) : whole(1, whole_payload(1, 3)));
            ASSERT_TRUE(running.sim->send_stream_packets(packets));
            const int behind_flag = notice_behind ? POLL_PARAM : POLL_PICTURE;
            ASSERT_TRUE(wait_for(behind_flag) & behind_flag);
            if (notice_behind) {
                int sub_type = 0;
                while (QRN_NET_GetParamChangeType(handle, &sub_type) == 0) {
                }
            } else {
                quarn_queue_clean(session->queues.picture);
            }

            const auto taken = take_all(t);
            std::vector<uint8_t> expected = marker;
            if (t.code <= 1)
                expected.erase(expected.begin(), expected.begin() + 28);  // the frame header
            else if (t.code == 4)
                expected = u32_words({9});
            EXPECT_EQ(taken.size(), 1u) << "only the whole one arrives";
            if (!taken.empty()) {
                EXPECT_EQ(taken.back(), expected);
            }
            if (t.code == 3) {
                EXPECT_EQ(session->serial_received_bytes - received_before, marker.size());
            }
            if (t.code == 4) {
                int peer_limit = 0;
                QRN_NET_Video_GetPeerMaxFrameNum(handle, &peer_limit);
                EXPECT_EQ(peer_limit, 7002) << "only the whole notice is applied";
            }
        }
    }
}

// Faults of the stream: each is survived and the stream stays in step.
TEST_F(StreamTest, CorruptPacketsAreDiscardedAndTheStreamRecovers)
{
    struct Case {
        Fault fault;
        bool reconnects;
    };
    // One case per line reads as a table.
    // clang-format off
    const Case cases[] = {
        {Fault::StreamOversizedPayload, false},
        {Fault::StreamUnknownType, false},
        {Fault::StreamLengthMismatch, false},
        {Fault::StreamWrongMagic, true},
        {Fault::StreamWrongToken, true},
    };
    // clang-format on
    ASSERT_EQ(QRN_NET_Video_Begin(handle), 0);
    for (const Case &c : cases) {
        const size_t connections = running.sim->state().stream_connections_made;
        ASSERT_TRUE(wait_for(POLL_VIDEO) & POLL_VIDEO);
        running.sim->set_fault(c.fault);
        const size_t sent = running.sim->state().video_frames_sent;
        ASSERT_TRUE(running.sim->wait_until([&](const auto &s) { return s.video_frames_sent >= sent + 3; }, kWait));
        if (c.reconnects)
            EXPECT_TRUE(
                running.sim->wait_until([&](const auto &s) { return s.stream_connections_made > connections; }, kWait))
                << "the host dropped the corrupt stream so the device connects again";
        else
            EXPECT_EQ(running.sim->state().stream_connections_made, connections);
        SessionContext *session = session_lookup(handle);
        quarn_queue_clean(session->queues.video);
        EXPECT_TRUE(wait_for(POLL_VIDEO) & POLL_VIDEO) << "frames flow again";
        FrameElement *element = nullptr;
        ASSERT_EQ(QRN_NET_Video_RequestVideoData1(handle, &element, nullptr), 0);
        EXPECT_EQ(element->data[0], 0xFF) << "a real frame, not the remains of a broken one";
        EXPECT_EQ(element->data[1], 0xD8);
        QRN_NET_Video_ReleaseVideoData1(handle, element);
    }
    EXPECT_EQ(QRN_NET_Video_End(handle), 0);
}

TEST_F(StreamTest, StreamClosedMidFrameEndsTheSession)
{
    ASSERT_EQ(QRN_NET_Video_Begin(handle), 0);
    running.sim->set_fault(Fault::StreamDropMidFrame);
    EXPECT_EQ(wait_for(0), QRN_ERR_CLOSED);
    int flags = 0;
    EXPECT_EQ(QRN_NET_Poll(handle, &flags, 10), QRN_ERR_CLOSED) << "no automatic reconnection";
}

TEST(StreamCalls, RefuseInvalidHandles)
{
    int value = 0;
    FrameHeader *frame = nullptr;
    FrameElement *element = nullptr;
    void *data = nullptr;
    EXPECT_EQ(QRN_NET_Poll(0x1234, &value, 0), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_GetParamChangeType(0x1234, &value), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_GetCmdResponse(0x1234, &value, &data), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_Begin(0x1234), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_End(0x1234), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_RequestVideoData(0x1234, &frame), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_RequestVideoData1(0x1234, &element, nullptr), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_RequestPicData(0x1234, &frame), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_SnapShot(0x1234), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_GetCurVideoFrameNum(0x1234, &value), QRN_ERR_INVALID_HANDLE);
    EXPECT_EQ(QRN_NET_Video_SetPeerMaxFrameNum(0x1234, 1), QRN_ERR_INVALID_HANDLE);
}

}  // namespace
