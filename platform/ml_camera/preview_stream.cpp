#include "preview_stream.h"

#include "http_client.h"
#include "ml_camera.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace mlcam {

namespace {

// Pause before reconnecting: short after a stream that delivered (a reboot
// comes back quickly), doubled after every attempt that got nothing, so that
// a module that is not there costs one attempt every few seconds.
constexpr auto kReconnectPause = std::chrono::milliseconds(250);
constexpr auto kLongestReconnectPause = std::chrono::milliseconds(4000);

size_t header_callback(char *data, size_t size, size_t count, void *user)
{
    return static_cast<PreviewStream *>(user)->on_header(data, size * count);
}

size_t body_callback(char *data, size_t size, size_t count, void *user)
{
    return static_cast<PreviewStream *>(user)->on_body(data, size * count);
}

int progress_callback(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<PreviewStream *>(user)->stopping() ? 1 : 0;
}

std::string trim(std::string text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

PreviewStream::PreviewStream(std::string url) : url_(std::move(url))
{
    frame_.reserve(ML_FRAME_BUFFER_SIZE);
}

PreviewStream::~PreviewStream()
{
    stop();
}

bool PreviewStream::start()
{
    ensure_curl_ready();
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void PreviewStream::stop()
{
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool PreviewStream::connected() const
{
    const int64_t last = last_alive_ns_;
    if (last == 0)
        return false;
    const int64_t now = Clock::now().time_since_epoch().count();
    return now - last < std::chrono::nanoseconds(std::chrono::milliseconds(ML_LINK_TIMEOUT_MS)).count();
}

void PreviewStream::mark_alive()
{
    last_alive_ns_ = Clock::now().time_since_epoch().count();
}

int PreviewStream::take_frame(char *buffer, int *number)
{
    std::lock_guard<std::mutex> lock(frame_mutex_);
    if (frame_number_ == taken_number_ || frame_.empty())
        return 0;
    // keep_frame() never keeps more than the buffer holds.
    std::memcpy(buffer, frame_.data(), frame_.size());
    taken_number_ = frame_number_;
    if (number != nullptr)
        *number = frame_number_;
    return static_cast<int>(frame_.size());
}

void PreviewStream::keep_frame(const uint8_t *data, size_t size)
{
    if (size > ML_FRAME_BUFFER_SIZE)
        return;
    std::lock_guard<std::mutex> lock(frame_mutex_);
    frame_.assign(data, data + size);
    // Wraps after 2^31 frames; only inequality with the taken number matters.
    frame_number_ = frame_number_ == 0x7FFFFFFF ? 1 : frame_number_ + 1;
}

size_t PreviewStream::on_header(const char *data, size_t size)
{
    const std::string line(data, size);
    if (line.compare(0, 5, "HTTP/") == 0) {
        // A new answer (also after a redirect or 100 Continue): forget the last.
        const size_t space = line.find(' ');
        status_ = space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
        content_type_.clear();
        return size;
    }
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name == "content-type")
            content_type_ = trim(line.substr(colon + 1));
    }
    return size;
}

size_t PreviewStream::on_body(const char *data, size_t size)
{
    if (stopping_ || status_ != 200)
        return 0;  // ends the transfer
    if (!parser_) {
        // The boundary from the header when it names one, else from the body.
        parser_ = std::make_unique<MultipartParser>(
            MultipartParser::boundary_from_content_type(content_type_), ML_FRAME_BUFFER_SIZE,
            [this](const uint8_t *part, size_t part_size) { keep_frame(part, part_size); });
    }
    mark_alive();
    parser_->feed(reinterpret_cast<const uint8_t *>(data), size);
    return parser_->finished() ? 0 : size;
}

void PreviewStream::receive_once()
{
    CURL *curl = curl_easy_init();
    if (curl == nullptr)
        return;
    status_ = 0;
    content_type_.clear();
    parser_.reset();
    curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ML_CONNECT_TIMEOUT_MS));
    // A stream that stops sending is dropped and connected again; the link
    // check sees it as lost in the meantime.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>((ML_LINK_TIMEOUT_MS + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, header_callback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, body_callback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    // Lets stop() end a transfer that is waiting for bytes.
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress_callback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    parser_.reset();
}

void PreviewStream::run()
{
    auto pause = kReconnectPause;
    while (!stopping_) {
        const int64_t alive_before = last_alive_ns_;
        receive_once();
        pause = last_alive_ns_ != alive_before ? kReconnectPause : std::min(pause * 2, kLongestReconnectPause);
        std::unique_lock<std::mutex> lock(wake_mutex_);
        wake_.wait_for(lock, pause, [this] { return stopping_.load(); });
    }
}

}  // namespace mlcam
