#include "video_model.h"

#include "h264_encoder.h"
#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr size_t kFormatRecords = 4;
constexpr size_t kFormatRecordSize = 100;
constexpr size_t kSizesPerRecord = 12;
constexpr size_t kControlTableOffset = kFormatRecords * kFormatRecordSize;
constexpr size_t kParamOffset = kControlTableOffset + kVideoControlCount * kVideoControlSize;

constexpr uint32_t kMinQuality = 1;
constexpr uint32_t kMaxQuality = 100;
constexpr uint32_t kMinQp = 20;
constexpr uint32_t kMaxQp = 40;
constexpr uint32_t kMaxKeyInterval = 300;
constexpr uint32_t kMaxStreamValue = 100000;
// The rate the frame-rate limit holds the stream to, for slow links.
constexpr uint32_t kLimitedFps = 15;

const FormatOffer kMjpegOffer{wire::kFormatMjpeg, {{1280, 960, 30}, {1280, 720, 30}, {640, 480, 30}, {320, 240, 30}}};

// Raw YUYV is offered only where a frame (two bytes a pixel plus its
// FrameHeader) fits the host's 1 MiB assembly buffer.
std::vector<FormatOffer> device_offers(bool h264_available)
{
    std::vector<FormatOffer> offers{kMjpegOffer};
    if (h264_available)
        offers.push_back({wire::kFormatH264, {{1280, 960, 30}, {1280, 720, 30}, {640, 480, 30}}});
    offers.push_back({wire::kFormatYuyv, {{640, 480, 15}, {320, 240, 30}}});
    return offers;
}

// Hue (index 3) is absent: the probe's sensor is monochrome behind a white LED.
std::array<VideoControl, kVideoControlCount> default_controls()
{
    std::array<VideoControl, kVideoControlCount> c{};
    auto control = [](int32_t minimum, int32_t maximum, uint32_t step, int32_t default_value, bool automatic) {
        VideoControl v;
        v.present = 1;
        v.minimum = minimum;
        v.current = default_value;
        v.maximum = maximum;
        v.step = step;
        v.default_value = default_value;
        v.auto_capable = automatic ? 1 : 0;
        v.mode = automatic ? 1 : 0;
        return v;
    };
    c[0] = control(0, 255, 1, 128, false);       // brightness
    c[1] = control(0, 100, 1, 50, false);        // contrast
    c[2] = control(0, 100, 1, 64, false);        // saturation
    c[4] = control(2800, 6500, 10, 4600, true);  // white balance, kelvin
    c[5] = control(100, 300, 1, 100, false);     // gamma
    c[6] = control(0, 100, 1, 0, false);         // gain
    c[7] = control(0, 7, 1, 3, false);           // sharpness
    c[8] = control(0, 2, 1, 1, false);           // backlight compensation
    c[9] = control(1, 5000, 1, 156, true);       // exposure, 100 µs units
    return c;
}

std::vector<uint8_t> u32_bytes(uint32_t v)
{
    std::vector<uint8_t> out(4);
    wire::put_u32(out.data(), v);
    return out;
}

std::vector<uint8_t> words_bytes(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        const auto b = u32_bytes(w);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

bool in_range(uint32_t v, uint32_t low, uint32_t high)
{
    return v >= low && v <= high;
}

// Commands that carry no payload, and those that carry one u32.
bool takes_nothing(uint16_t code)
{
    switch (code) {
    case wire::kGetVideoInfo:
    case wire::kVideoBegin:
    case wire::kVideoEnd:
    case wire::kSnapshot:
    case wire::kResetVideoCtrl:
    case wire::kGetKeyInterval:
    case wire::kGetQp:
    case wire::kGetStreamValue:
    case wire::kGetQuality:
    case wire::kForceKeyFrame:
    case wire::kGetRectYuyv:
    case wire::kGetCrop:
        return true;
    default:
        return false;
    }
}

bool takes_u32(uint16_t code)
{
    switch (code) {
    case wire::kSetPeerMaxFrame:
    case wire::kSetFormat:
    case wire::kSetResolution:
    case wire::kSetFps:
    case wire::kSetSnapshotResolution:
    case wire::kSetKeyInterval:
    case wire::kSetQp:
    case wire::kSetStreamValue:
    case wire::kSetQuality:
    case wire::kSetSnapshotQuality:
    case wire::kSetFpsLimit:
    case wire::kSetRotation:
        return true;
    default:
        return false;
    }
}

size_t expected_length(uint16_t code)
{
    if (takes_nothing(code))
        return 0;
    if (takes_u32(code))
        return 4;
    switch (code) {
    case wire::kSetVideoCtrl:
        return 4 + kVideoControlSize;
    case wire::kSetRectYuyv:
    case wire::kSetCrop:
        return 16;
    case wire::kSetXuCtrl:
        return 70;
    default:
        return 0;
    }
}

}  // namespace

VideoModel::VideoModel() : controls_(default_controls())
{
    const FrameSize &first = kMjpegOffer.sizes.front();
    format_ = kMjpegOffer.format;
    resolution_ = wire::resolution_code(first.width, first.height);
    fps_ = first.max_fps;
    snapshot_resolution_ = resolution_;
}

bool VideoModel::handles(uint16_t code)
{
    return takes_nothing(code) || takes_u32(code) || code == wire::kSetVideoCtrl || code == wire::kSetRectYuyv ||
           code == wire::kSetCrop || code == wire::kSetXuCtrl;
}

VideoAnswer VideoModel::answer(uint16_t code, const std::vector<uint8_t> &payload)
{
    if (payload.size() != expected_length(code))
        return status_answer<VideoAnswer>(wire::kStatusBadArgument);
    VideoAnswer a;
    const uint32_t value = payload.size() == 4 ? wire::get_u32(payload.data()) : 0;
    bool accepted = true;
    switch (code) {
    case wire::kGetVideoInfo: {
        const auto block = info_block();
        a.payload.assign(block.begin(), block.end());
        break;
    }
    case wire::kSetVideoCtrl:
        return set_control(payload);
    case wire::kSetFormat:
    case wire::kSetResolution:
    case wire::kSetFps:
        accepted = code == wire::kSetFormat       ? select_format(value)
                   : code == wire::kSetResolution ? select_resolution(value)
                                                  : select_fps(value);
        if (accepted)
            a.notices.push_back({1, param_words()});
        break;
    case wire::kResetVideoCtrl:
        for (VideoControl &c : controls_) {
            if (!c.present)
                continue;
            c.current = c.default_value;
            c.mode = c.auto_capable;
        }
        a.notices.push_back({6, control_table()});
        break;
    case wire::kSetPeerMaxFrame:
        a.event = VideoEvent::PeerMaxFrame;
        a.value = value;
        a.notices.push_back({9, u32_bytes(value)});
        break;
    case wire::kVideoBegin:
        a.event = VideoEvent::Begin;
        break;
    case wire::kVideoEnd:
        a.event = VideoEvent::End;
        break;
    case wire::kSnapshot:
        a.event = VideoEvent::Snapshot;
        break;
    case wire::kForceKeyFrame:
        a.event = VideoEvent::ForceKeyFrame;
        break;
    case wire::kSetSnapshotResolution:
        accepted = size_of(wire::kFormatMjpeg, value) != nullptr;
        if (accepted)
            snapshot_resolution_ = value;
        break;
    case wire::kGetKeyInterval:
        a.payload = u32_bytes(key_interval_);
        break;
    case wire::kGetQp:
        a.payload = u32_bytes(qp_);
        break;
    case wire::kGetStreamValue:
        a.payload = u32_bytes(stream_value_);
        break;
    case wire::kGetQuality:
        a.payload = u32_bytes(jpeg_quality_);
        break;
    case wire::kSetKeyInterval:
    case wire::kSetQp:
    case wire::kSetStreamValue: {
        uint32_t &target = code == wire::kSetKeyInterval ? key_interval_ : code == wire::kSetQp ? qp_ : stream_value_;
        accepted = code == wire::kSetKeyInterval ? in_range(value, 1, kMaxKeyInterval)
                   : code == wire::kSetQp        ? in_range(value, kMinQp, kMaxQp)
                                                 : in_range(value, 1, kMaxStreamValue);
        if (accepted) {
            target = value;
            a.notices.push_back({8, h264_words()});
        }
        break;
    }
    case wire::kSetQuality:
    case wire::kSetSnapshotQuality:
        accepted = in_range(value, kMinQuality, kMaxQuality);
        if (accepted)
            (code == wire::kSetQuality ? jpeg_quality_ : snapshot_quality_) = value;
        break;
    case wire::kSetFpsLimit:
        accepted = value <= 1;
        if (accepted)
            fps_limit_ = value;
        break;
    case wire::kSetRotation:
        accepted = value == 0 || value == 90 || value == 180 || value == 270;
        if (accepted)
            rotation_ = value;
        break;
    case wire::kGetRectYuyv:
        a.payload.assign(yuyv_window_.begin(), yuyv_window_.end());
        break;
    case wire::kGetCrop:
        a.payload.assign(crop_.begin(), crop_.end());
        break;
    case wire::kSetRectYuyv:
        std::copy(payload.begin(), payload.end(), yuyv_window_.begin());
        break;
    case wire::kSetCrop:
        std::copy(payload.begin(), payload.end(), crop_.begin());
        break;
    case wire::kSetXuCtrl:
        std::copy(payload.begin(), payload.end(), xu_block_.begin());
        break;
    default:
        return status_answer<VideoAnswer>(wire::kStatusUnsupported);
    }
    return refused_unless(accepted, std::move(a));
}

VideoAnswer VideoModel::set_control(const std::vector<uint8_t> &payload)
{
    const uint32_t index = wire::get_u32(payload.data());
    const uint8_t *entry = payload.data() + 4;
    const int32_t value = static_cast<int32_t>(wire::get_u32(entry + 8));
    if (index >= kVideoControlCount || !controls_[index].present || value < controls_[index].minimum ||
        value > controls_[index].maximum)
        return status_answer<VideoAnswer>(wire::kStatusBadArgument);
    controls_[index].current = value;
    controls_[index].mode = wire::get_u32(entry + 28);
    std::vector<uint8_t> data = u32_bytes(index);
    const auto stored = control_bytes(index);
    data.insert(data.end(), stored.begin(), stored.end());
    VideoAnswer a;
    a.notices.push_back({2, std::move(data)});
    return a;
}

const std::vector<FormatOffer> &VideoModel::offers() const
{
    if (offers_.empty())
        offers_ = device_offers(H264Encoder::available());
    return offers_;
}

const FormatOffer *VideoModel::offer(uint32_t format) const
{
    if (format == kMjpegOffer.format)
        return &kMjpegOffer;  // needs no look-up
    for (const FormatOffer &o : offers())
        if (o.format == format)
            return &o;
    return nullptr;
}

const FrameSize *VideoModel::size_of(uint32_t format, uint32_t resolution) const
{
    const FormatOffer *o = offer(format);
    if (!o)
        return nullptr;
    for (const FrameSize &s : o->sizes)
        if (wire::resolution_code(s.width, s.height) == resolution)
            return &s;
    return nullptr;
}

bool VideoModel::select_format(uint32_t format)
{
    const FormatOffer *o = offer(format);
    if (!o)
        return false;
    format_ = format;
    if (!size_of(format, resolution_)) {
        const FrameSize &first = o->sizes.front();
        resolution_ = wire::resolution_code(first.width, first.height);
    }
    fps_ = std::min(fps_, max_fps());
    return true;
}

bool VideoModel::select_resolution(uint32_t resolution)
{
    if (!size_of(format_, resolution))
        return false;
    resolution_ = resolution;
    fps_ = std::min(fps_, max_fps());
    return true;
}

bool VideoModel::select_fps(uint32_t fps)
{
    if (!in_range(fps, 1, max_fps()))
        return false;
    fps_ = fps;
    return true;
}

uint32_t VideoModel::max_fps() const
{
    const FrameSize *s = size_of(format_, resolution_);
    return s ? s->max_fps : 0;
}

void VideoModel::set_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps)
{
    select_format(format);
    select_resolution(wire::resolution_code(width, height));
    select_fps(fps);
}

std::vector<uint8_t> VideoModel::control_bytes(size_t index) const
{
    const VideoControl &c = controls_[index];
    return words_bytes({c.present, static_cast<uint32_t>(c.minimum), static_cast<uint32_t>(c.current),
                        static_cast<uint32_t>(c.maximum), c.step, static_cast<uint32_t>(c.default_value),
                        c.auto_capable, c.mode});
}

std::vector<uint8_t> VideoModel::control_table() const
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < kVideoControlCount; ++i) {
        const auto entry = control_bytes(i);
        out.insert(out.end(), entry.begin(), entry.end());
    }
    return out;
}

std::vector<uint8_t> VideoModel::param_words() const
{
    return words_bytes({format_, resolution_, fps_, max_fps()});
}

std::vector<uint8_t> VideoModel::h264_words() const
{
    return words_bytes({qp_, key_interval_, stream_value_});
}

std::array<uint8_t, kVideoInfoSize> VideoModel::info_block() const
{
    std::array<uint8_t, kVideoInfoSize> block{};
    const std::vector<FormatOffer> &all = offers();
    for (size_t r = 0; r < all.size() && r < kFormatRecords; ++r) {
        uint8_t *record = block.data() + r * kFormatRecordSize;
        wire::put_u32(record, all[r].format);
        for (size_t i = 0; i < all[r].sizes.size() && i < kSizesPerRecord; ++i) {
            const FrameSize &s = all[r].sizes[i];
            wire::put_u32(record + 4 + 8 * i, wire::resolution_code(s.width, s.height));
            wire::put_u32(record + 8 + 8 * i, s.max_fps);
        }
    }
    const auto table = control_table();
    std::copy(table.begin(), table.end(), block.begin() + kControlTableOffset);
    const auto words = param_words();
    std::copy(words.begin(), words.end(), block.begin() + kParamOffset);
    return block;
}

VideoSettings VideoModel::settings() const
{
    VideoSettings s;
    s.format = format_;
    s.width = wire::resolution_width(resolution_);
    s.height = wire::resolution_height(resolution_);
    s.fps = fps_limit_ ? std::min(fps_, kLimitedFps) : fps_;
    s.jpeg_quality = jpeg_quality_;
    s.qp = qp_;
    s.key_interval = key_interval_;
    s.brightness = controls_[kBrightness].current;
    s.contrast = controls_[kContrast].current;
    s.rotation = rotation_;
    return s;
}

SnapshotSettings VideoModel::snapshot() const
{
    SnapshotSettings s;
    s.width = wire::resolution_width(snapshot_resolution_);
    s.height = wire::resolution_height(snapshot_resolution_);
    s.quality = snapshot_quality_;
    s.brightness = controls_[kBrightness].current;
    s.contrast = controls_[kContrast].current;
    s.rotation = rotation_;
    return s;
}

}  // namespace probesim
