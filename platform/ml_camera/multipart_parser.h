// Splits a multipart/x-mixed-replace body into its parts, as it arrives in
// reads of any size. The boundary comes from the Content-Type header when
// the server names one, otherwise from the first delimiter line in the body
// (some servers call the stream application/octet-stream).
//
// A part ends where its Content-Length says when a delimiter line follows
// exactly there, so a correct length needs no search; a missing or wrong one
// is ignored and the part ends at the first delimiter that starts a line.
// A part larger than the frame limit is refused whole: its bytes are skipped
// up to the next delimiter, so the stream stays in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mlcam {

class MultipartParser {
public:
    using PartHandler = std::function<void(const uint8_t *data, size_t size)>;

    // The boundary from a Content-Type header value, without the leading
    // "--"; empty when the value names none.
    static std::string boundary_from_content_type(const std::string &content_type);

    // boundary may be empty: it is then learnt from the body.
    MultipartParser(std::string boundary, size_t max_part_size, PartHandler on_part);

    void feed(const uint8_t *data, size_t size);

    // True once the closing delimiter ("--boundary--") has been read.
    bool finished() const { return state_ == State::Finished; }
    size_t parts_refused() const { return parts_refused_; }
    size_t bytes_skipped() const { return bytes_skipped_; }

private:
    enum class State { Preamble, Headers, Body, Finished };

    void run();
    bool learn_boundary();
    bool seek_delimiter();
    bool read_headers();
    bool read_body();
    void finish_part(size_t data_size, size_t delimiter_at);
    void drop_front(size_t count);

    std::string delimiter_;  // "--" + boundary; empty until known
    const size_t max_part_size_;
    PartHandler on_part_;

    State state_ = State::Preamble;
    std::vector<uint8_t> buffer_;  // unparsed bytes; bounded, see feed()
    size_t searched_ = 0;          // bytes of buffer_ already searched for a delimiter
    long long content_length_ = -1;
    bool refusing_ = false;   // the current part is over the limit: skipping it
    bool line_start_ = true;  // buffer_[0] begins a line of the stream
    size_t parts_refused_ = 0;
    size_t bytes_skipped_ = 0;
};

}  // namespace mlcam
