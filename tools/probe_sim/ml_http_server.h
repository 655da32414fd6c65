// The second kind of module (--kind ml) on real sockets: its picture stream
// as Motion-JPEG over HTTP (GET /stream) and its commands as small HTTP
// requests, served by libmicrohttpd. The protocol is described in
// platform/ml_camera/README.md.
#pragma once

#include "chaos.h"
#include "fault.h"
#include "ml_device_model.h"
#include "ml_stream_writer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct MHD_Daemon;
struct MHD_Connection;

namespace probesim {

struct MlServerState {
    MlDeviceSnapshot device;
    uint64_t frames_sent = 0;         // frames begun on any stream connection
    uint64_t stream_connections = 0;  // stream requests answered
    bool listening = false;
};

class MlHttpServer {
public:
    explicit MlHttpServer(int32_t device_type = kMlDeviceType);
    ~MlHttpServer();
    MlHttpServer(const MlHttpServer &) = delete;
    MlHttpServer &operator=(const MlHttpServer &) = delete;

    // Before start().
    void set_video(uint16_t width, uint16_t height, uint32_t fps);
    void set_fault(Fault fault);
    void set_reboot_pause(std::chrono::milliseconds pause);
    // Seeded random faults on every stream and command answer.
    void set_chaos(const ChaosSettings &settings);
    // "N faults injected (...)"; empty without chaos.
    std::string chaos_summary() const;

    bool start(const std::string &address, uint16_t port);
    void stop();

    // As if a person pressed the probe's capture key.
    void press_key();
    // As POST /reboot does: the stream drops, the module listens again after
    // the reboot pause.
    void reboot();

    MlServerState state() const;
    MlDeviceModel &device() { return device_; }

    // libmicrohttpd's callbacks.
    int answer(MHD_Connection *connection, const std::string &url, const std::string &method, const char *upload,
               size_t *upload_size, void **request);
    bool pause_unless_down(std::chrono::steady_clock::duration time);
    bool before_frame();
    // One write of a stream connection through chaos: what goes out is
    // appended to out. False when the connection must end after it.
    bool chaos_write(Chaos::Channel &channel, const char *bytes, size_t length, std::vector<uint8_t> &out);

private:
    bool open_daemon();
    void close_daemon();
    // Runs a reboot or a vanishing on its own thread: the daemon cannot be
    // stopped from one of its connection threads.
    void run_lifecycle(bool come_back, std::chrono::milliseconds pause);
    // Goes away for the chaos absence when chaos-vanish was drawn.
    void vanish_if_drawn();
    // An answer to a command, through chaos when it is on.
    bool respond(MHD_Connection *connection, unsigned int status, const std::string &text);

    MlDeviceModel device_;
    MlStreamSettings stream_settings_;
    std::chrono::milliseconds reboot_pause_{1000};
    std::string address_;
    uint16_t port_ = 0;

    mutable std::mutex mutex_;  // guards daemon_, down_, stopping_
    std::condition_variable changed_;
    MHD_Daemon *daemon_ = nullptr;
    bool down_ = true;
    bool stopping_ = false;
    std::atomic<bool> away_{true};  // down_ || stopping_, for pauses that cannot take mutex_

    std::unique_ptr<Chaos> chaos_;

    std::mutex lifecycle_mutex_;
    std::thread lifecycle_;
    std::atomic<bool> lifecycle_busy_{false};

    std::atomic<uint64_t> frames_sent_{0};
    std::atomic<uint64_t> stream_connections_{0};
};

}  // namespace probesim
