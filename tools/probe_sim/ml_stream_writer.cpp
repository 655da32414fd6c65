#include "ml_stream_writer.h"

#include "jpeg_encoder.h"

#include <algorithm>
#include <cstring>

namespace probesim {

namespace {

// ml-split-boundary: delimiters and headers leave in pieces this small,
// with a pause between them so that they arrive as separate reads.
constexpr size_t kSplitPiece = 7;
constexpr auto kSplitPause = std::chrono::milliseconds(1);

void append(std::vector<uint8_t> &out, const std::string &text)
{
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

MlStreamWriter::MlStreamWriter(const MlStreamSettings &settings, Pause pause, BeforeFrame before_frame)
    : settings_(settings), pause_(std::move(pause)), before_frame_(std::move(before_frame))
{
}

bool MlStreamWriter::make_part()
{
    if (!before_frame_())
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (frames_ == 0) {
        first_frame_ = now;
    } else {
        const auto due = first_frame_ + std::chrono::microseconds(1000000ull * frames_ / settings_.fps);
        if (due > now && !pause_(due - now))
            return false;
    }
    ++frames_;

    std::vector<uint8_t> data;
    const bool hit = frames_ % kMlFaultPeriod == 0;
    if (settings_.fault == Fault::MlOversizedFrame && hit) {
        data.assign(kMlOversizedPart, 0);
        data[0] = 0xFF;
        data[1] = 0xD8;
    } else {
        const YuvImage &image = picture_.render(settings_.width, settings_.height, frames_, PictureLook{});
        if (!encode_jpeg(image, 80, data))
            return false;
        if (settings_.fault == Fault::MlCorruptJpeg && hit)
            std::fill_n(data.begin(), std::min<size_t>(64, data.size()), 0x55);
    }

    // Each part ends with the next delimiter, so that a reader knows at once
    // that the frame is whole.
    const std::string delimiter = std::string("--") + kMlBoundary + "\r\n";
    pending_.clear();
    offset_ = 0;
    if (frames_ == 1)
        append(pending_, delimiter);
    append(pending_, "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(data.size()) + "\r\n\r\n");
    headers_end_ = pending_.size();
    pending_.insert(pending_.end(), data.begin(), data.end());
    data_end_ = pending_.size();
    append(pending_, "\r\n" + delimiter);
    return true;
}

size_t MlStreamWriter::next(char *out, size_t max)
{
    if (offset_ == pending_.size() && !make_part())
        return 0;
    size_t count = std::min(max, pending_.size() - offset_);
    if (settings_.fault == Fault::MlSplitBoundary) {
        const bool framing = offset_ < headers_end_ || offset_ >= data_end_;
        if (framing) {
            count = std::min(count, kSplitPiece);
            if (!pause_(kSplitPause))
                return 0;
        } else {
            // The frame's bytes in one go, up to the framing after them.
            count = std::min(count, data_end_ - offset_);
        }
    }
    std::memcpy(out, pending_.data() + offset_, count);
    offset_ += count;
    return count;
}

}  // namespace probesim
