#include "ml_http_server.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>
#include <netinet/in.h>

namespace probesim {

namespace {

// ml-stalled-stream and ml-vanished strike after this many frames.
constexpr uint64_t kMlFaultAfterFrames = 30;
constexpr size_t kMaxRequestBody = 8192;
constexpr size_t kMaxSsid = 32;

struct RequestBody {
    std::string data;
    bool too_large = false;
};

MHD_Result on_request(void *self, MHD_Connection *connection, const char *url, const char *method, const char *,
                      const char *upload, size_t *upload_size, void **request)
{
    return static_cast<MlHttpServer *>(self)->answer(connection, url, method, upload, upload_size, request) ? MHD_YES
                                                                                                            : MHD_NO;
}

void on_completed(void *, MHD_Connection *, void **request, MHD_RequestTerminationCode)
{
    delete static_cast<RequestBody *>(*request);
    *request = nullptr;
}

// A stream connection's bytes as libmicrohttpd pulls them, through chaos
// when it is on: what chaos lets out of one write is queued and handed over.
struct StreamFeed {
    MlHttpServer *server = nullptr;
    std::unique_ptr<MlStreamWriter> writer;
    std::optional<Chaos::Channel> chaos;
    std::vector<uint8_t> queued;
    size_t offset = 0;
    bool ending = false;  // the queue is the last the connection sends
};

ssize_t read_stream(void *context, uint64_t, char *buffer, size_t max)
{
    StreamFeed &feed = *static_cast<StreamFeed *>(context);
    if (feed.offset == feed.queued.size()) {
        if (feed.ending)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        const size_t count = feed.writer->next(buffer, max);
        if (count == 0)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        if (!feed.chaos)
            return static_cast<ssize_t>(count);
        feed.queued.clear();
        feed.offset = 0;
        feed.ending = !feed.server->chaos_write(*feed.chaos, buffer, count, feed.queued);
    }
    const size_t count = std::min(max, feed.queued.size() - feed.offset);
    if (count == 0)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    std::memcpy(buffer, feed.queued.data() + feed.offset, count);
    feed.offset += count;
    return static_cast<ssize_t>(count);
}

void free_stream(void *feed)
{
    delete static_cast<StreamFeed *>(feed);
}

bool send_text(MHD_Connection *connection, unsigned int status, const std::string &text)
{
    MHD_Response *response =
        MHD_create_response_from_buffer(text.size(), const_cast<char *>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return false;
    MHD_add_response_header(response, "Content-Type", "text/plain");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

// A whole decimal or 0x-hexadecimal 32-bit number.
bool parse_int(const std::string &text, int32_t &value)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(begin, &end, 0);
    while (*end == ' ' || *end == '\r' || *end == '\n' || *end == '\t')
        ++end;
    if (end == begin || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

}  // namespace

MlHttpServer::MlHttpServer(int32_t device_type) : device_(device_type) {}

MlHttpServer::~MlHttpServer()
{
    stop();
}

void MlHttpServer::set_video(uint16_t width, uint16_t height, uint32_t fps)
{
    stream_settings_.width = width;
    stream_settings_.height = height;
    stream_settings_.fps = fps == 0 ? 1 : fps;
}

void MlHttpServer::set_fault(Fault fault)
{
    stream_settings_.fault = fault;
}

void MlHttpServer::set_reboot_pause(std::chrono::milliseconds pause)
{
    reboot_pause_ = pause;
}

void MlHttpServer::set_chaos(const ChaosSettings &settings)
{
    chaos_ = std::make_unique<Chaos>(settings);
}

std::string MlHttpServer::chaos_summary() const
{
    return chaos_ ? chaos_->summary() : std::string();
}

bool MlHttpServer::chaos_write(Chaos::Channel &channel, const char *bytes, size_t length, std::vector<uint8_t> &out)
{
    const auto collect = [&out](const uint8_t *data, size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    };
    const bool kept = chaos_send(*chaos_, channel, reinterpret_cast<const uint8_t *>(bytes), length, collect, away_);
    vanish_if_drawn();
    return kept;
}

void MlHttpServer::vanish_if_drawn()
{
    if (chaos_->vanished())
        run_lifecycle(true, std::chrono::duration_cast<std::chrono::milliseconds>(kChaosAbsence));
}

bool MlHttpServer::respond(MHD_Connection *connection, unsigned int status, const std::string &text)
{
    if (!chaos_)
        return send_text(connection, status, text);
    Chaos::Channel channel = chaos_->open_channel();
    std::vector<uint8_t> out;
    if (!chaos_write(channel, text.data(), text.size(), out))
        return false;  // libmicrohttpd closes the connection
    return send_text(connection, status, std::string(out.begin(), out.end()));
}

bool MlHttpServer::start(const std::string &address, uint16_t port)
{
    address_ = address;
    port_ = port;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    return open_daemon();
}

bool MlHttpServer::open_daemon()
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port_);
    if (inet_pton(AF_INET, address_.c_str(), &where.sin_addr) != 1)
        return false;
    MHD_Daemon *daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION, port_, nullptr, nullptr, &on_request, this,
        // No MHD_OPTION_LISTENING_ADDRESS_REUSE: it would add SO_REUSEPORT and let
        // a second simulator share the address; plain SO_REUSEADDR, which the
        // library sets by itself, is enough to listen again after a reboot.
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&where), MHD_OPTION_NOTIFY_COMPLETED, &on_completed, nullptr,
        MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
    if (daemon == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    daemon_ = daemon;
    down_ = false;
    away_ = stopping_;
    return true;
}

void MlHttpServer::close_daemon()
{
    MHD_Daemon *daemon = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        down_ = true;
        away_ = true;
        daemon = daemon_;
        daemon_ = nullptr;
    }
    changed_.notify_all();
    // Not under mutex_: stopping joins connection threads that wait on it.
    if (daemon != nullptr)
        MHD_stop_daemon(daemon);
}

void MlHttpServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        away_ = true;
    }
    changed_.notify_all();
    {
        std::lock_guard<std::mutex> lock(lifecycle_mutex_);
        if (lifecycle_.joinable())
            lifecycle_.join();
    }
    close_daemon();
}

void MlHttpServer::press_key()
{
    device_.press_key();
}

void MlHttpServer::reboot()
{
    device_.count_reboot();
    run_lifecycle(true, reboot_pause_);
}

void MlHttpServer::run_lifecycle(bool come_back, std::chrono::milliseconds pause)
{
    // One at a time; a request while one runs is dropped. Never joins a
    // running one here: this may be a connection thread that it is stopping.
    if (lifecycle_busy_.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(lifecycle_mutex_);
    {
        // stop() sets stopping_ before it joins under lifecycle_mutex_: a
        // thread started after that join would never be joined.
        std::lock_guard<std::mutex> state(mutex_);
        if (stopping_) {
            lifecycle_busy_ = false;
            return;
        }
    }
    if (lifecycle_.joinable())
        lifecycle_.join();  // finished: lifecycle_busy_ was false
    lifecycle_ = std::thread([this, come_back, pause] {
        // Lets the answer to the reboot request leave first.
        if (come_back)
            pause_unless_down(std::chrono::milliseconds(100));
        close_daemon();
        if (come_back) {
            std::unique_lock<std::mutex> guard(mutex_);
            const bool stopping = changed_.wait_for(guard, pause, [this] { return stopping_; });
            guard.unlock();
            if (!stopping)
                open_daemon();
        }
        lifecycle_busy_ = false;
    });
}

bool MlHttpServer::pause_unless_down(std::chrono::steady_clock::duration time)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, time, [this] { return down_ || stopping_; });
}

bool MlHttpServer::before_frame()
{
    if (frames_sent_ >= kMlFaultAfterFrames) {
        if (stream_settings_.fault == Fault::MlVanished) {
            run_lifecycle(false, reboot_pause_);
            return false;
        }
        if (stream_settings_.fault == Fault::MlStalledStream) {
            while (pause_unless_down(std::chrono::milliseconds(200))) {
            }
            return false;
        }
    }
    ++frames_sent_;
    return true;
}

MlServerState MlHttpServer::state() const
{
    MlServerState s;
    s.device = device_.snapshot();
    s.frames_sent = frames_sent_;
    s.stream_connections = stream_connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    s.listening = !down_;
    return s;
}

int MlHttpServer::answer(MHD_Connection *connection, const std::string &url, const std::string &method,
                         const char *upload, size_t *upload_size, void **request)
{
    // Away under chaos: whoever reaches the module is dropped.
    if (chaos_ && chaos_->vanished())
        return false;
    const bool post = method == "POST";
    if (post) {
        // libmicrohttpd hands the body over in pieces; answer after the last.
        if (*request == nullptr) {
            *request = new RequestBody;
            return true;
        }
        auto *body = static_cast<RequestBody *>(*request);
        if (*upload_size > 0) {
            if (body->data.size() + *upload_size > kMaxRequestBody)
                body->too_large = true;
            else
                body->data.append(upload, *upload_size);
            *upload_size = 0;
            return true;
        }
        if (body->too_large)
            return respond(connection, MHD_HTTP_CONTENT_TOO_LARGE, "too large\n");
    } else if (method != "GET") {
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET or POST\n");
    }
    const std::string body = post ? static_cast<RequestBody *>(*request)->data : std::string();

    if (url == "/stream" && !post) {
        ++stream_connections_;
        auto feed = std::make_unique<StreamFeed>();
        feed->server = this;
        feed->writer = std::make_unique<MlStreamWriter>(
            stream_settings_, [this](std::chrono::steady_clock::duration t) { return pause_unless_down(t); },
            [this] { return before_frame(); });
        if (chaos_)
            feed->chaos = chaos_->open_channel();
        MHD_Response *response =
            MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, &read_stream, feed.get(), &free_stream);
        if (response == nullptr)
            return false;
        feed.release();  // the response owns it now
        MHD_add_response_header(response, "Content-Type",
                                (std::string("multipart/x-mixed-replace;boundary=") + kMlBoundary).c_str());
        MHD_add_response_header(response, "Cache-Control", "no-cache");
        const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return queued == MHD_YES;
    }
    if (url == "/device-type") {
        if (!post)
            return respond(connection, MHD_HTTP_OK, std::to_string(device_.snapshot().device_type) + "\n");
        int32_t type = 0;
        if (!parse_int(body, type) || type < 0)
            return respond(connection, MHD_HTTP_BAD_REQUEST, "bad device type\n");
        device_.set_device_type(type);
        return respond(connection, MHD_HTTP_OK, "ok\n");
    }
    if (url == "/key") {
        if (post) {
            device_.press_key();
            return respond(connection, MHD_HTTP_OK, "ok\n");
        }
        return respond(connection, MHD_HTTP_OK, device_.take_key() ? "1\n" : "0\n");
    }
    if (url == "/ssid") {
        if (!post)
            return respond(connection, MHD_HTTP_OK, device_.snapshot().ssid + "\n");
        if (body.empty() || body.size() > kMaxSsid || body.find('\0') != std::string::npos)
            return respond(connection, MHD_HTTP_BAD_REQUEST, "bad ssid\n");
        device_.set_ssid(body);
        return respond(connection, MHD_HTTP_OK, "ok\n");
    }
    if (url == "/camera-params") {
        if (!post) {
            const MlCameraParams p = device_.snapshot().params;
            return respond(connection, MHD_HTTP_OK,
                             "brightness=" + std::to_string(p.brightness) + "\ncontrast=" + std::to_string(p.contrast) +
                                 "\nexposure=" + std::to_string(p.exposure) + "\ngain=" + std::to_string(p.gain) +
                                 "\nextra-size=" + std::to_string(p.extra.size()) + "\n");
        }
        MlCameraParams p;
        const std::pair<const char *, int32_t *> fields[] = {
            {"brightness", &p.brightness}, {"contrast", &p.contrast}, {"exposure", &p.exposure}, {"gain", &p.gain}};
        for (const auto &field : fields) {
            const char *value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, field.first);
            if (value == nullptr || !parse_int(value, *field.second))
                return respond(connection, MHD_HTTP_BAD_REQUEST, std::string("bad ") + field.first + "\n");
        }
        p.extra = body;
        device_.set_params(p);
        return respond(connection, MHD_HTTP_OK, "ok\n");
    }
    if (url == "/reboot" && post) {
        reboot();
        return respond(connection, MHD_HTTP_OK, "ok\n");
    }
    return respond(connection, MHD_HTTP_NOT_FOUND, "no such resource\n");
}

}  // namespace probesim
