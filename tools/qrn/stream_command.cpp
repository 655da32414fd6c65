// qrn stream: runs a module's video for a while and measures what arrives.
#include "commands.h"
#include "failures.h"
#include "interrupt.h"
#include "progress_line.h"
#include "qrn_net.h"
#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

namespace qrn {

namespace {

const std::string kUsage = std::string(
                               "usage: qrn stream ADDRESS [--seconds N] [--port N] [--access STRING]\n"
                               "\n"
                               "Starts the video of the module at ADDRESS, counts the frames and bytes\n"
                               "that arrive, shows the frame and bit rates as it goes, and stops the\n"
                               "video after N seconds or at Ctrl-C, with a summary.\n"
                               "\n"
                               "  ADDRESS            the module to stream from: an IPv4 address or a device ID\n"
                               "  --seconds N        how long to stream, 1 to 86400 (default 10)\n") +
                           kEndpointHelp + kHelpOptionHelp;

constexpr int kDefaultSeconds = 10;
constexpr unsigned kPollMilliseconds = 100;

using Clock = std::chrono::steady_clock;

// Begin on construction; End on stop(), or on the way out of a failure.
class RunningVideo {
public:
    explicit RunningVideo(const Session &session) : session_(session)
    {
        check_result(QRN_NET_Video_Begin(session_.handle()), "cannot start the video of " + session_.address());
    }
    ~RunningVideo()
    {
        if (running_)
            QRN_NET_Video_End(session_.handle());
    }
    RunningVideo(const RunningVideo &) = delete;
    RunningVideo &operator=(const RunningVideo &) = delete;

    void stop()
    {
        running_ = false;
        check_result(QRN_NET_Video_End(session_.handle()), "cannot stop the video of " + session_.address());
    }

private:
    const Session &session_;
    bool running_ = true;
};

struct StreamCount {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint32_t format = 0;
    uint32_t resolution = 0;
    // The SDK's figures for the last closed one-second window.
    uint32_t window_frames = 0;
    uint32_t window_bytes = 0;

    void add(const FrameElement &frame)
    {
        ++frames;
        bytes += frame.header.length;
        format = frame.header.format;
        resolution = frame.header.resolution;
        window_frames = frame.window_frames;
        window_bytes = frame.window_bytes;
    }
};

double seconds_of(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string megabits(double bytes)
{
    return fixed(bytes * 8 / 1e6, 2) + " Mbit/s";
}

std::string progress_text(const StreamCount &count, Clock::duration elapsed)
{
    return fixed(seconds_of(elapsed), 1) + " s  " + std::to_string(count.frames) + " frames  " +
           std::to_string(count.window_frames) + " frames/s  " + megabits(count.window_bytes);
}

std::string format_name(uint32_t format)
{
    switch (format) {
    case QRN_FORMAT_YUYV:
        return "YUYV";
    case QRN_FORMAT_JPEG:
        return "Motion-JPEG";
    case QRN_FORMAT_H264:
        return "H.264";
    default:
        return "format " + std::to_string(format);
    }
}

void print_summary(const StreamCount &count, Clock::duration elapsed)
{
    const double seconds = std::max(seconds_of(elapsed), 1e-3);
    std::cout << "frames:     " << count.frames << "\n"
              << "duration:   " << fixed(seconds, 1) << " s\n"
              << "frame rate: " << fixed(count.frames / seconds, 1) << " frames/s\n"
              << "bit rate:   " << megabits(count.bytes / seconds) << "\n";
    if (count.frames > 0)
        std::cout << "video:      " << format_name(count.format) << " " << (count.resolution >> 16) << "x"
                  << (count.resolution & 0xFFFF) << "\n";
}

// Takes every frame that waits; notices are dropped so the poll keeps waiting.
void take_queued(int handle, StreamCount &count)
{
    FrameElement *frame = nullptr;
    while (QRN_NET_Video_RequestVideoData1(handle, &frame, nullptr) == QRN_OK) {
        count.add(*frame);
        QRN_NET_Video_ReleaseVideoData1(handle, frame);
    }
    int type = 0;
    while (QRN_NET_GetParamChangeType(handle, &type) == QRN_OK) {
    }
}

int run(const Arguments &arguments)
{
    arguments.expect_operands(1, 1);
    const int seconds = integer_option(arguments, "--seconds", 1, 86400, kDefaultSeconds);
    const Endpoint endpoint = endpoint_from(arguments, 0);
    catch_interrupt();

    Session session(endpoint);
    RunningVideo video(session);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    StreamCount count;
    ProgressLine progress;
    while (Clock::now() < end && !interrupt_requested()) {
        int flags = 0;
        const int result = QRN_NET_Poll(session.handle(), &flags, kPollMilliseconds);
        if (result == QRN_ERR_CLOSED || result == QRN_ERR_INVALID_HANDLE) {
            progress.finish();
            throw CommandFailure("the connection to " + session.address() + " was lost after " +
                                 std::to_string(count.frames) + " frames");
        }
        take_queued(session.handle(), count);
        progress.update(progress_text(count, Clock::now() - start));
    }
    const Clock::duration elapsed = Clock::now() - start;
    progress.update(progress_text(count, elapsed), true);
    progress.finish();
    video.stop();
    print_summary(count, elapsed);
    if (count.frames == 0)
        throw CommandFailure("no video frames arrived from " + session.address());
    return kExitSuccess;
}

}  // namespace

const Command &stream_command()
{
    static std::vector<OptionRule> options = [] {
        std::vector<OptionRule> all = kEndpointOptions;
        all.push_back({"--seconds", true});
        return all;
    }();
    static const Command command{"stream", "runs the video and measures frame and bit rates", kUsage, options, run};
    return command;
}

}  // namespace qrn
