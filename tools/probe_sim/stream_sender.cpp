#include "stream_sender.h"

#include "jpeg_encoder.h"
#include "probe_wire.h"
#include "send_stamps.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint32_t kDefaultFragmentSize = 32768;
constexpr uint32_t kMaxFragments = 255;
constexpr uint32_t kOversizedPayload = 1024 * 1024 + 64;
constexpr uint8_t kUnknownStreamType = 7;
constexpr uint32_t kUnknownPayload = 100;
constexpr size_t kTokenOffset = 4;

void append_packet(std::vector<uint8_t> &out, uint32_t token, uint8_t type, uint8_t count, uint8_t index,
                   const uint8_t *payload, size_t size)
{
    wire::StreamHeader header;
    header.token = token;
    header.type = type;
    header.fragment_count = count;
    header.fragment_index = index;
    header.length = static_cast<uint32_t>(size);
    const auto head = wire::encode(header);
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), payload, payload + size);
}

PictureLook look_of(const VideoSettings &s)
{
    return PictureLook{s.brightness, s.contrast, s.rotation};
}

bool dropped(const FrameOrder &order, uint32_t sequence)
{
    const uint32_t every = order.options.drop_every;
    return order.settings.format == wire::kFormatH264 && every > 0 && sequence % every == 0;
}

}  // namespace

namespace {
const std::atomic<bool> kNeverStopped{false};
}  // namespace

StreamLink::StreamLink(net::Socket socket) : StreamLink(std::move(socket), nullptr, kNeverStopped) {}

StreamLink::StreamLink(net::Socket socket, std::shared_ptr<Chaos> chaos, const std::atomic<bool> &stop)
    : socket_(std::move(socket)), chaos_(std::move(chaos)), stop_(stop)
{
    net::set_blocking(socket_.fd());
    if (chaos_)
        channel_ = chaos_->open_channel();
}

bool StreamLink::write(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(write_mutex_);
    const int fd = socket_.fd();
    const auto send = [fd](const uint8_t *data, size_t length) { return net::send_all(fd, data, length); };
    if (!channel_)
        return send(bytes.data(), bytes.size());
    if (chaos_send(*chaos_, *channel_, bytes.data(), bytes.size(), send, stop_))
        return true;
    // Cut by chaos: the host sees the connection close.
    socket_.shutdown();
    return false;
}

bool StreamLink::host_closed(int wait_ms, std::vector<uint8_t> &received)
{
    if (!net::wait_readable(socket_.fd(), wait_ms))
        return false;
    uint8_t chunk[4096];
    const ssize_t r = ::recv(socket_.fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (r > 0)
        received.insert(received.end(), chunk, chunk + r);
    return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void append_packets(std::vector<uint8_t> &out, uint32_t token, uint8_t type, const std::vector<uint8_t> &payload,
                    uint32_t fragment_size)
{
    const size_t size = payload.size();
    size_t fragment = fragment_size > 0 ? fragment_size : kDefaultFragmentSize;
    fragment = std::max(fragment, (size + kMaxFragments - 1) / kMaxFragments);
    const size_t count = std::max<size_t>(1, (size + fragment - 1) / fragment);
    out.reserve(out.size() + size + count * wire::kHeaderSize);
    for (size_t i = 0; i < count; ++i) {
        const size_t offset = i * fragment;
        append_packet(out, token, type, static_cast<uint8_t>(count), static_cast<uint8_t>(i), payload.data() + offset,
                      std::min(fragment, size - offset));
    }
}

std::vector<uint8_t> raw_packets(const std::vector<StreamPacket> &packets, uint32_t token)
{
    std::vector<uint8_t> out;
    for (const StreamPacket &p : packets) {
        const size_t start = out.size();
        append_packet(out, token + p.token_delta, p.type, p.fragment_count, p.fragment_index, p.payload.data(),
                      p.payload.size());
        if (!p.magic_ok)
            out[start + 2] = 'X';
    }
    return out;
}

std::vector<uint8_t> snapshot_packets(uint32_t token, const SnapshotSettings &settings, uint32_t sequence,
                                      const StreamOptions &options)
{
    EndFacePicture picture;
    const YuvImage &image = picture.render(settings.width, settings.height, sequence,
                                           PictureLook{settings.brightness, settings.contrast, settings.rotation});
    std::vector<uint8_t> jpeg;
    if (!encode_jpeg(image, settings.quality, jpeg))
        return {};
    if (options.strip_dht)
        strip_huffman_tables(jpeg);
    const auto payload = wire::frame_payload(wire::kFormatMjpeg, wire::resolution_code(settings.width, settings.height),
                                             sequence, false, jpeg.data(), jpeg.size());
    std::vector<uint8_t> out;
    append_packets(out, token, static_cast<uint8_t>(wire::StreamType::Picture), payload, options.fragment_size);
    return out;
}

bool VideoSender::CycleKey::operator==(const CycleKey &o) const
{
    const VideoSettings &a = settings;
    const VideoSettings &b = o.settings;
    return a.format == b.format && a.width == b.width && a.height == b.height && a.fps == b.fps &&
           a.jpeg_quality == b.jpeg_quality && a.qp == b.qp && a.key_interval == b.key_interval &&
           a.brightness == b.brightness && a.contrast == b.contrast && a.rotation == b.rotation &&
           strip_dht == o.strip_dht && fragment_size == o.fragment_size && frames == o.frames;
}

FrameOutcome VideoSender::send_next(StreamLink &link, const FrameOrder &order, uint64_t &bytes_written)
{
    key_frame_pending_ = key_frame_pending_ || order.key_frame_wanted;
    // Counts every frame encoded, sent or not, so a dropped one leaves a gap.
    const uint32_t sequence = ++sequence_;
    std::vector<uint8_t> payload;
    if (order.options.distinct_frames > 0) {
        CachedFrame *frame = next_cached(order);
        if (!frame || dropped(order, sequence))
            return FrameOutcome::Skipped;
        if (order.fault == Fault::None) {
            // The packets are ready: only the sequence number changes.
            std::vector<uint8_t> &packets = frame->packets;
            wire::put_u32(&packets[wire::kHeaderSize + wire::kFrameSequenceOffset], sequence);
            stamp_sent(sequence);
            if (!link.write(packets))
                return FrameOutcome::WriteFailed;
            bytes_written += packets.size();
            return FrameOutcome::Sent;
        }
        payload = frame->payload;
        wire::put_u32(&payload[wire::kFrameSequenceOffset], sequence);
    } else if (!encode_fresh(order, sequence, payload) || dropped(order, sequence)) {
        return FrameOutcome::Skipped;
    }
    if (payload.size() > wire::kMaxFramePayload)
        return FrameOutcome::Skipped;
    if (payload[16])
        key_frame_pending_ = false;
    stamp_sent(sequence);
    return send_faulted(link, std::move(payload), order, bytes_written);
}

bool VideoSender::encode_fresh(const FrameOrder &order, uint32_t sequence, std::vector<uint8_t> &payload)
{
    const VideoSettings &s = order.settings;
    const YuvImage &image = picture_.render(s.width, s.height, sequence, look_of(s));
    EncodedFrame frame;
    if (!encoder_.encode(image, s, order.options.strip_dht, key_frame_pending_, frame))
        return false;
    payload = wire::frame_payload(s.format, wire::resolution_code(s.width, s.height), sequence, frame.key_frame,
                                  frame.data.data(), frame.data.size());
    return true;
}

// Encodes the cycle once with a fresh encoder, so that its first frame is a
// key frame; a key frame request restarts the cycle there.
VideoSender::CachedFrame *VideoSender::next_cached(const FrameOrder &order)
{
    CycleKey key{order.settings, order.options.strip_dht, order.options.fragment_size, order.options.distinct_frames};
    if (cycle_.empty() || !(key == cycle_key_)) {
        cycle_.clear();
        cycle_key_ = key;
        cycle_position_ = 0;
        EndFacePicture picture;
        FrameEncoder encoder;
        const VideoSettings &s = order.settings;
        for (uint32_t n = 0; n < key.frames; ++n) {
            EncodedFrame frame;
            const YuvImage &image = picture.render(s.width, s.height, n + 1, look_of(s));
            if (!encoder.encode(image, s, key.strip_dht, n == 0, frame))
                continue;
            CachedFrame cached;
            cached.payload = wire::frame_payload(s.format, wire::resolution_code(s.width, s.height), 0, frame.key_frame,
                                                 frame.data.data(), frame.data.size());
            if (cached.payload.size() > wire::kMaxFramePayload)
                continue;
            append_packets(cached.packets, token_, static_cast<uint8_t>(wire::StreamType::Video), cached.payload,
                           key.fragment_size);
            cycle_.push_back(std::move(cached));
        }
        if (cycle_.empty())
            return nullptr;
    }
    if (key_frame_pending_) {
        cycle_position_ = 0;
        key_frame_pending_ = false;
    }
    CachedFrame *frame = &cycle_[cycle_position_];
    cycle_position_ = (cycle_position_ + 1) % cycle_.size();
    return frame;
}

FrameOutcome VideoSender::send_faulted(StreamLink &link, std::vector<uint8_t> payload, const FrameOrder &order,
                                       uint64_t &bytes_written)
{
    std::vector<uint8_t> bytes;
    if (order.fault == Fault::StreamOversizedPayload)
        append_packet(bytes, token_, static_cast<uint8_t>(wire::StreamType::Video), 1, 0,
                      std::vector<uint8_t>(kOversizedPayload, 0).data(), kOversizedPayload);
    if (order.fault == Fault::StreamUnknownType)
        append_packet(bytes, token_, kUnknownStreamType, 1, 0, std::vector<uint8_t>(kUnknownPayload, 0).data(),
                      kUnknownPayload);
    if (order.fault == Fault::StreamLengthMismatch)
        wire::put_u32(&payload[24], wire::get_u32(&payload[24]) + 1);
    const size_t first = bytes.size();
    append_packets(bytes, token_, static_cast<uint8_t>(wire::StreamType::Video), payload, order.options.fragment_size);
    if (order.fault == Fault::StreamWrongMagic)
        bytes[first + 2] = 'X';
    if (order.fault == Fault::StreamWrongToken)
        wire::put_u32(&bytes[first + kTokenOffset], token_ + 1);
    if (order.fault == Fault::StreamDropMidFrame) {
        const size_t first_fragment = wire::get_u32(&bytes[first + 12]);
        bytes.resize(first + wire::kHeaderSize + first_fragment);
    }
    if (!link.write(bytes))
        return FrameOutcome::WriteFailed;
    bytes_written += bytes.size();
    return order.fault == Fault::StreamDropMidFrame ? FrameOutcome::Dropped : FrameOutcome::Sent;
}

}  // namespace probesim
