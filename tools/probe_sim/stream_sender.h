// Frames to stream packets, and the stream connection they are written on.
#pragma once

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "chaos.h"
#include "end_face_picture.h"
#include "frame_encoder.h"
#include "probe_simulator.h"
#include "probe_socket.h"
#include "video_model.h"

namespace probesim {

// One stream connection to a host. Every write is a whole run of packets
// under one lock, so nothing another thread sends lands inside a frame.
class StreamLink {
public:
    // Writes block, so one large write per frame goes out at the link's pace.
    explicit StreamLink(net::Socket socket);
    // With chaos, every write is one draw of the link's channel; stop ends its pauses.
    StreamLink(net::Socket socket, std::shared_ptr<Chaos> chaos, const std::atomic<bool> &stop);

    bool write(const std::vector<uint8_t> &bytes);
    // Waits up to wait_ms for the host to close its end; what it sends
    // meanwhile (audio, serial bytes) is appended to received.
    bool host_closed(int wait_ms, std::vector<uint8_t> &received);
    // Wakes a blocked write; the descriptor is closed with the link.
    void shutdown() const { socket_.shutdown(); }

private:
    std::mutex write_mutex_;
    net::Socket socket_;
    std::shared_ptr<Chaos> chaos_;
    std::optional<Chaos::Channel> channel_;  // guarded by write_mutex_
    const std::atomic<bool> &stop_;
};

// The payload as packets of one frame or block: fragments of fragment_size
// bytes or more, since the fragment count has to fit a byte.
void append_packets(std::vector<uint8_t> &out, uint32_t token, uint8_t type, const std::vector<uint8_t> &payload,
                    uint32_t fragment_size);

std::vector<uint8_t> raw_packets(const std::vector<StreamPacket> &packets, uint32_t token);

// One JPEG still as picture packets.
std::vector<uint8_t> snapshot_packets(uint32_t token, const SnapshotSettings &settings, uint32_t sequence,
                                      const StreamOptions &options);

enum class FrameOutcome { Sent, Skipped, WriteFailed, Dropped };

struct FrameOrder {
    VideoSettings settings;
    StreamOptions options;
    Fault fault = Fault::None;  // a stream fault, or None
    bool key_frame_wanted = false;
};

// Produces the video frames of one session: renders, encodes, numbers and
// fragments them, and writes each as one run. Sequence numbers and the
// encoder live as long as the session, across stream reconnects.
class VideoSender {
public:
    explicit VideoSender(uint32_t token) : token_(token) {}

    FrameOutcome send_next(StreamLink &link, const FrameOrder &order, uint64_t &bytes_written);

private:
    struct CachedFrame {
        std::vector<uint8_t> payload;  // FrameHeader + data, sequence 0
        std::vector<uint8_t> packets;  // the same, fragmented
    };
    struct CycleKey {
        VideoSettings settings;
        bool strip_dht = false;
        uint32_t fragment_size = 0;
        uint32_t frames = 0;
        bool operator==(const CycleKey &other) const;
    };

    bool encode_fresh(const FrameOrder &order, uint32_t sequence, std::vector<uint8_t> &payload);
    CachedFrame *next_cached(const FrameOrder &order);  // none when nothing encodes
    FrameOutcome send_faulted(StreamLink &link, std::vector<uint8_t> payload, const FrameOrder &order,
                              uint64_t &bytes_written);

    uint32_t token_;
    uint32_t sequence_ = 0;
    bool key_frame_pending_ = true;
    EndFacePicture picture_;
    FrameEncoder encoder_;
    std::vector<CachedFrame> cycle_;
    CycleKey cycle_key_;
    size_t cycle_position_ = 0;
};

}  // namespace probesim
