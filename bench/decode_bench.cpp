// The viewer's decode step (the network source's frame decoder: 1280 x 960
// Motion-JPEG and H.264 to the image it emits) against the ffmpeg program
// decoding the same frames to raw RGB24 on one thread, in one run.
//
//   decode_bench [frames]   (default 150)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_row.h"
#include "end_face_picture.h"
#include "framedecoder.h"
#include "h264_encoder.h"
#include "jpeg_encoder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Frames = std::vector<std::vector<uint8_t>>;

constexpr uint16_t kWidth = 1280;
constexpr uint16_t kHeight = 960;
constexpr int kPasses = 5;  // the best pass counts: the machine is shared

struct Timing {
    double seconds = 0;
    size_t frames = 0;
    double ms_per_frame() const { return seconds * 1000 / frames; }
    double fps() const { return frames / seconds; }
};

bool encode(size_t count, Frames &mjpeg, Frames &h264)
{
    probesim::EndFacePicture scene;
    probesim::H264Encoder encoder;
    const bool with_h264 = probesim::H264Encoder::available();
    for (size_t i = 0; i < count; ++i) {
        const probesim::YuvImage &picture = scene.render(kWidth, kHeight, static_cast<uint32_t>(i), {});
        std::vector<uint8_t> frame;
        if (!probesim::encode_jpeg(picture, 80, frame))
            return false;
        mjpeg.push_back(frame);
        if (with_h264) {
            bool key = false;
            if (!encoder.encode(picture, probesim::H264Params(), i == 0, frame, key))
                return false;
            h264.push_back(frame);
        }
    }
    return true;
}

// One pass of the frame decoder; nothing when a frame fails.
Timing decode(uint32_t format, const Frames &frames)
{
    FrameHeader header{};
    header.format = format;
    header.resolution = static_cast<uint32_t>(QRN_Video_GroupResolu(kWidth, kHeight));
    {
        // A fresh decoder per pass: the H.264 frames refer to the ones before.
        KelvoWifi::FrameDecoder decoder;
        const auto start = Clock::now();
        size_t decoded = 0;
        for (const auto &frame : frames) {
            header.length = static_cast<uint32_t>(frame.size());
            if (!decoder.decode(header, frame.data()).isNull())
                ++decoded;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (decoded != frames.size()) {
            std::fprintf(stderr, "only %zu of %zu frames decoded\n", decoded, frames.size());
            return {};
        }
        return {seconds, decoded};
    }
}

std::string write_stream(const std::string &path, const Frames &frames)
{
    std::ofstream file(path, std::ios::binary);
    for (const auto &frame : frames)
        file.write(reinterpret_cast<const char *>(frame.data()), static_cast<std::streamsize>(frame.size()));
    return file ? path : std::string();
}

void report(const char *name, const Timing &ours, const Timing &theirs);

// One pass of the ffmpeg program: its own figure (-benchmark: rtime, the
// decode and conversion without its start-up).
Timing ffmpeg(const std::string &format, const std::string &path, size_t frames)
{
    // -threads for the decoder, -filter_threads for the RGB conversion,
    // which would otherwise run on every core.
    const std::string command = "ffmpeg -nostdin -hide_banner -benchmark -threads 1 -filter_threads 1 -f " + format +
                                " -i " + path + " -f rawvideo -pix_fmt rgb24 -y /dev/null 2>&1";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return {};
    char line[512];
    double seconds = -1;
    while (std::fgets(line, sizeof line, pipe.get()))
        if (const char *rtime = std::strstr(line, "rtime="))
            seconds = std::atof(rtime + 6);
    if (seconds <= 0)
        return {};
    return {seconds, frames};
}

// The passes alternate between the two, so a change in the machine's load
// touches both; the best of each counts.
void compare(const char *name, uint32_t format, const Frames &frames, const std::string &ffmpeg_format,
             const std::string &path)
{
    Timing ours, theirs;
    for (int pass = 0; pass < kPasses; ++pass) {
        const Timing a = decode(format, frames);
        if (a.frames == 0) {
            ours = {};
            break;
        }
        if (ours.frames == 0 || a.seconds < ours.seconds)
            ours = a;
        const Timing b = ffmpeg(ffmpeg_format, path, frames.size());
        if (b.frames != 0 && (theirs.frames == 0 || b.seconds < theirs.seconds))
            theirs = b;
    }
    report(name, ours, theirs);
}

void report(const char *name, const Timing &ours, const Timing &theirs)
{
    const std::string row = std::string("Decode step ") + name + " 1280x960";
    if (ours.frames == 0) {
        std::printf("%-6s frame decoder failed\n", name);
        print_row(row, "failed", "-", "-", "<= 1.0", false);
        return;
    }
    std::printf("%-6s frame decoder  %6.2f ms/frame  %6.1f fps\n", name, ours.ms_per_frame(), ours.fps());
    if (theirs.frames == 0) {
        std::printf("%-6s ffmpeg     (not run: is the ffmpeg program installed?)\n", name);
        print_row(row, format("%.2f ms/frame", ours.ms_per_frame()), "ffmpeg missing", "-", "<= 1.0", false);
        return;
    }
    const double ratio = ours.ms_per_frame() / theirs.ms_per_frame();
    std::printf("%-6s ffmpeg -threads 1  %6.2f ms/frame  %6.1f fps   (the decoder takes %.2fx its time)\n", name,
                theirs.ms_per_frame(), theirs.fps(), ratio);
    print_row(row, format("%.2f ms/frame", ours.ms_per_frame()),
              format("%.2f ms/frame ffmpeg -threads 1", theirs.ms_per_frame()), format("%.2f", ratio), "<= 1.0",
              ratio <= 1.0);
}

}  // namespace

int main(int argc, char **argv)
{
    const size_t count = argc > 1 ? static_cast<size_t>(std::max(1, std::atoi(argv[1]))) : 150;
    Frames mjpeg, h264;
    if (!encode(count, mjpeg, h264)) {
        std::fprintf(stderr, "cannot encode the frames\n");
        return 1;
    }
    char dir_template[] = "/tmp/decode_bench.XXXXXX";
    const char *dir = mkdtemp(dir_template);
    if (!dir) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string mjpeg_path = write_stream(std::string(dir) + "/frames.mjpeg", mjpeg);
    const std::string h264_path = h264.empty() ? std::string() : write_stream(std::string(dir) + "/frames.h264", h264);

    std::printf("%zu frames of %u x %u, best of %d passes, one thread\n", count, kWidth, kHeight, kPasses);
    compare("MJPEG", QRN_FORMAT_JPEG, mjpeg, "mjpeg", mjpeg_path);
    if (h264.empty())
        print_row("Decode step H.264 1280x960", "no encoder here", "-", "-", "<= 1.0", false);
    else
        compare("H.264", QRN_FORMAT_H264, h264, "h264", h264_path);

    std::remove(mjpeg_path.c_str());
    if (!h264_path.empty())
        std::remove(h264_path.c_str());
    rmdir(dir);
    return 0;
}
