// One module's picture stream, received by a background thread: it
// connects, reads the multipart stream into frames, keeps the newest one,
// and reconnects after every loss until it is stopped.
#pragma once

#include "multipart_parser.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mlcam {

class PreviewStream {
public:
    // url: the stream's address ("http://a.b.c.d:port/stream").
    explicit PreviewStream(std::string url);
    ~PreviewStream();  // stops the thread
    PreviewStream(const PreviewStream &) = delete;
    PreviewStream &operator=(const PreviewStream &) = delete;

    bool start();
    void stop();

    bool connected() const;
    // Copies the newest frame not yet taken into buffer (ML_FRAME_BUFFER_SIZE
    // bytes); its length, or 0 when there is none.
    int take_frame(char *buffer, int *number);

    // Called from libcurl's callbacks on the stream thread.
    size_t on_header(const char *data, size_t size);
    size_t on_body(const char *data, size_t size);
    bool stopping() const { return stopping_; }

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void receive_once();
    void mark_alive();
    void keep_frame(const uint8_t *data, size_t size);

    const std::string url_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex wake_mutex_;
    std::condition_variable wake_;

    // Per connection, stream thread only.
    long status_ = 0;
    std::string content_type_;
    std::unique_ptr<MultipartParser> parser_;

    std::atomic<int64_t> last_alive_ns_{0};  // steady clock; 0 = never

    mutable std::mutex frame_mutex_;  // guards the fields below
    std::vector<uint8_t> frame_;
    int frame_number_ = 0;
    int taken_number_ = 0;
};

}  // namespace mlcam
