#include "multipart_parser.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace mlcam {

namespace {

// RFC 2046 limits a boundary to 70 characters of this set.
constexpr size_t kMaxBoundary = 70;
// A header block longer than this is not one: the parser resynchronises.
constexpr size_t kMaxHeaderBlock = 8192;
// Transport padding allowed after a delimiter before its line ends.
constexpr size_t kMaxDelimiterPadding = 64;

bool is_boundary_char(uint8_t c)
{
    return std::isalnum(c) || std::strchr("'()+_,-./:=? ", c) != nullptr;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Content-Length as a number; -1 when absent or not a plain number.
long long parse_content_length(const uint8_t *data, size_t size)
{
    std::string block(reinterpret_cast<const char *>(data), size);
    size_t line_start = 0;
    while (line_start < block.size()) {
        size_t line_end = block.find('\n', line_start);
        if (line_end == std::string::npos)
            line_end = block.size();
        std::string line = block.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || lower(line.substr(0, colon)) != "content-length")
            continue;
        size_t i = colon + 1;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        long long value = 0;
        size_t digits = 0;
        for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && digits < 12; ++i, ++digits)
            value = value * 10 + (line[i] - '0');
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        return digits > 0 && i == line.size() ? value : -1;
    }
    return -1;
}

}  // namespace

std::string MultipartParser::boundary_from_content_type(const std::string &content_type)
{
    const std::string lowered = lower(content_type);
    if (lowered.find("multipart/") == std::string::npos)
        return {};
    const size_t key = lowered.find("boundary=");
    if (key == std::string::npos)
        return {};
    std::string value = content_type.substr(key + 9);
    if (!value.empty() && value[0] == '"') {
        const size_t close = value.find('"', 1);
        value = close == std::string::npos ? std::string() : value.substr(1, close - 1);
    } else {
        value = value.substr(0, value.find_first_of(";, \t\r\n"));
    }
    // Some servers write the delimiter's dashes into the parameter too.
    if (value.size() > 2 && value.compare(0, 2, "--") == 0)
        value.erase(0, 2);
    if (value.empty() || value.size() > kMaxBoundary ||
        !std::all_of(value.begin(), value.end(), [](char c) { return is_boundary_char(static_cast<uint8_t>(c)); }))
        return {};
    return value;
}

MultipartParser::MultipartParser(std::string boundary, size_t max_part_size, PartHandler on_part)
    : delimiter_(boundary.empty() ? std::string() : "--" + boundary), max_part_size_(max_part_size),
      on_part_(std::move(on_part))
{
}

void MultipartParser::feed(const uint8_t *data, size_t size)
{
    if (state_ == State::Finished || size == 0)
        return;
    // Never buffer more than one part and a delimiter's worth: whatever a
    // state cannot use is dropped before the next read is appended.
    buffer_.insert(buffer_.end(), data, data + size);
    run();
}

void MultipartParser::run()
{
    for (;;) {
        bool progressed = false;
        switch (state_) {
        case State::Preamble:
            progressed = delimiter_.empty() ? learn_boundary() : seek_delimiter();
            break;
        case State::Headers:
            progressed = read_headers();
            break;
        case State::Body:
            progressed = read_body();
            break;
        case State::Finished:
            return;
        }
        if (!progressed)
            return;
    }
}

void MultipartParser::drop_front(size_t count)
{
    count = std::min(count, buffer_.size());
    if (count > 0)
        line_start_ = buffer_[count - 1] == '\n';
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
    searched_ = searched_ > count ? searched_ - count : 0;
}

// A line "--token" at the start of a line names the boundary.
bool MultipartParser::learn_boundary()
{
    size_t p = 0;
    while (p + 2 <= buffer_.size()) {
        const bool line_start = p == 0 ? line_start_ : buffer_[p - 1] == '\n';
        if (!line_start || buffer_[p] != '-' || buffer_[p + 1] != '-') {
            ++p;
            continue;
        }
        size_t end = p + 2;
        while (end < buffer_.size() && end - p - 2 <= kMaxBoundary && is_boundary_char(buffer_[end]))
            ++end;
        if (end == buffer_.size() && end - p - 2 <= kMaxBoundary) {
            drop_front(p);  // the line may still grow: wait for its end
            return false;
        }
        size_t token_end = end;
        while (token_end > p + 2 && buffer_[token_end - 1] == ' ')
            --token_end;
        if (end < buffer_.size() && (buffer_[end] == '\r' || buffer_[end] == '\n') && token_end > p + 2 &&
            end - p - 2 <= kMaxBoundary) {
            delimiter_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(p),
                              buffer_.begin() + static_cast<std::ptrdiff_t>(token_end));
            bytes_skipped_ += p;
            drop_front(p);
            return true;
        }
        ++p;
    }
    // Keep a dash that may begin a delimiter line.
    const size_t keep = !buffer_.empty() && buffer_.back() == '-' ? 1 : 0;
    bytes_skipped_ += buffer_.size() - keep;
    drop_front(buffer_.size() - keep);
    return false;
}

bool MultipartParser::seek_delimiter()
{
    const size_t length = delimiter_.size();
    size_t from = 0;
    for (;;) {
        const auto it = std::search(buffer_.begin() + static_cast<std::ptrdiff_t>(from), buffer_.end(),
                                    delimiter_.begin(), delimiter_.end());
        if (it == buffer_.end()) {
            const size_t keep = std::min(buffer_.size(), length - 1);
            bytes_skipped_ += buffer_.size() - keep;
            drop_front(buffer_.size() - keep);
            return false;
        }
        const size_t p = static_cast<size_t>(it - buffer_.begin());
        size_t q = p + length;
        if (q + 2 > buffer_.size()) {
            bytes_skipped_ += p;
            drop_front(p);
            return false;
        }
        if (buffer_[q] == '-' && buffer_[q + 1] == '-') {
            state_ = State::Finished;
            buffer_.clear();
            return false;
        }
        while (q < buffer_.size() && q - p - length < kMaxDelimiterPadding && (buffer_[q] == ' ' || buffer_[q] == '\t'))
            ++q;
        if (q < buffer_.size() && (buffer_[q] == '\r' || buffer_[q] == '\n')) {
            if (buffer_[q] == '\r' && q + 1 >= buffer_.size()) {
                drop_front(p);
                return false;
            }
            q += buffer_[q] == '\r' && buffer_[q + 1] == '\n' ? 2 : 1;
            bytes_skipped_ += p;
            drop_front(q);
            state_ = State::Headers;
            return true;
        }
        if (q == buffer_.size() && q - p - length < kMaxDelimiterPadding) {
            drop_front(p);
            return false;
        }
        from = p + 1;  // "--boundaryX": not a delimiter
    }
}

bool MultipartParser::read_headers()
{
    // Only the first kMaxHeaderBlock bytes are searched, so that the outcome
    // does not depend on how the bytes were split into reads.
    const size_t limit = std::min(buffer_.size(), kMaxHeaderBlock);
    size_t end = std::string::npos;
    size_t block = 0;
    if (limit >= 1 && buffer_[0] == '\n') {
        end = 1;
    } else if (limit >= 2 && buffer_[0] == '\r' && buffer_[1] == '\n') {
        end = 2;
    } else {
        for (size_t i = 0; i + 1 < limit; ++i) {
            if (buffer_[i] != '\n')
                continue;
            if (buffer_[i + 1] == '\n') {
                block = i;
                end = i + 2;
                break;
            }
            if (buffer_[i + 1] == '\r' && i + 2 < limit && buffer_[i + 2] == '\n') {
                block = i;
                end = i + 3;
                break;
            }
        }
    }
    if (end == std::string::npos) {
        if (buffer_.size() >= kMaxHeaderBlock) {
            // Not a header block: look for the next delimiter instead.
            searched_ = 0;
            state_ = State::Preamble;
            return true;
        }
        return false;
    }
    content_length_ = parse_content_length(buffer_.data(), block);
    drop_front(end);
    searched_ = 0;
    refusing_ = false;
    state_ = State::Body;
    return true;
}

void MultipartParser::finish_part(size_t data_size, size_t delimiter_at)
{
    if (refusing_ || data_size > max_part_size_)
        ++parts_refused_;
    else if (data_size > 0)
        on_part_(buffer_.data(), data_size);
    drop_front(delimiter_at);
    refusing_ = false;
    content_length_ = -1;
    state_ = State::Preamble;
}

bool MultipartParser::read_body()
{
    const size_t length = delimiter_.size();
    // Whether a delimiter line begins at p: the delimiter, then "--", white
    // space or a line end. -1 undecided (too few bytes yet), 0 no, 1 yes.
    const auto delimiter_at = [&](size_t p) -> int {
        for (size_t i = 0; i < length; ++i) {
            if (p + i >= buffer_.size())
                return -1;
            if (buffer_[p + i] != static_cast<uint8_t>(delimiter_[i]))
                return 0;
        }
        if (p + length >= buffer_.size())
            return -1;
        const uint8_t next = buffer_[p + length];
        return next == '-' || next == '\r' || next == '\n' || next == ' ' || next == '\t' ? 1 : 0;
    };

    // A Content-Length that lands on the delimiter line (after its line end) ends the part.
    if (!refusing_ && content_length_ >= 0 && static_cast<unsigned long long>(content_length_) <= max_part_size_) {
        const size_t cl = static_cast<size_t>(content_length_);
        for (size_t gap : {size_t{2}, size_t{1}, size_t{0}}) {
            const char *line_end = gap == 2 ? "\r\n" : "\n";
            if (cl + gap > buffer_.size())
                break;
            if (gap > 0 && std::memcmp(buffer_.data() + cl, line_end, gap) != 0)
                continue;
            if (delimiter_at(cl + gap) == 1) {
                finish_part(cl, cl + gap);
                return true;
            }
        }
    }

    // Otherwise the part ends at the first delimiter that starts a line.
    size_t p = searched_ > length + 2 ? searched_ - length - 2 : 0;
    for (;;) {
        const auto it = std::search(buffer_.begin() + static_cast<std::ptrdiff_t>(p), buffer_.end(), delimiter_.begin(),
                                    delimiter_.end());
        if (it == buffer_.end())
            break;
        p = static_cast<size_t>(it - buffer_.begin());
        if (p == 0 ? line_start_ : buffer_[p - 1] == '\n') {
            const int found = delimiter_at(p);
            if (found < 0) {
                searched_ = p;
                return false;
            }
            if (found == 1) {
                size_t data_size = p;
                if (data_size > 0 && buffer_[data_size - 1] == '\n')
                    --data_size;
                if (data_size > 0 && buffer_[data_size - 1] == '\r')
                    --data_size;
                finish_part(data_size, p);
                return true;
            }
        }
        ++p;
    }
    searched_ = buffer_.size();

    // Over the limit: skip the part's bytes, keeping enough to see a delimiter
    // that is split across reads.
    const size_t keep = length + 2;
    if (refusing_ || buffer_.size() > max_part_size_ + keep) {
        refusing_ = true;
        if (buffer_.size() > keep) {
            bytes_skipped_ += buffer_.size() - keep;
            drop_front(buffer_.size() - keep);
        }
    }
    return false;
}

}  // namespace mlcam
