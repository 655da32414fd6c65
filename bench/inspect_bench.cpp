// The end-face inspection of one 1280 x 960 frame on one core, over frames
// of an evaluation set (every scale from 0.3 to 0.5 um per pixel, clean and
// dirty faces), against the 100 ms a live overlay can afford.
//
// Wall time and the process's processor time are both given: on a shared
// machine the processor time is what one core costs.
//
//   inspect_bench [frames]   (default 60)
#include "bench_row.h"
#include "end_face_sample.h"
#include "endface_analysis.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr uint32_t kSeed = 77;
constexpr int kPasses = 3;  // the best pass counts: the machine is shared
constexpr double kTargetMs = 100.0;

}  // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 1000) : 60;
    cv::setNumThreads(1);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i) {
        const probesim::EndFaceSample sample = probesim::evaluation_sample(kWidth, kHeight, kSeed, i);
        const cv::Mat grey =
            probesim::film(probesim::render_scene(sample.scene), kWidth, kHeight, sample.camera, sample.noise_seed);
        frames.push_back(
            cv::imdecode(probesim::encode_grey_jpeg(grey, sample.camera.jpeg_quality), cv::IMREAD_UNCHANGED));
    }
    std::vector<double> best(frames.size(), 1e9);
    std::vector<double> best_cpu(frames.size(), 1e9);
    for (int pass = 0; pass < kPasses; ++pass)
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto start = Clock::now();
            const std::clock_t cpu_start = std::clock();
            const endface::InspectionResult result = endface::inspect(frames[i]);
            const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            best[i] = std::min(best[i], ms);
            best_cpu[i] = std::min(best_cpu[i], cpu_ms);
            if (result.overall == endface::Verdict::CannotInspect && pass == 0)
                std::printf("frame %zu: cannot inspect (%s)\n", i, result.cannot_inspect_reason.c_str());
        }
    std::printf("end-face inspection, %d x %d, 1 thread, %zu frames (best of %d passes each)\n", kWidth, kHeight,
                best.size(), kPasses);
    double p95_cpu = 0;
    for (const auto *times : {&best, &best_cpu}) {
        std::vector<double> sorted = *times;
        std::sort(sorted.begin(), sorted.end());
        double total = 0;
        for (double ms : sorted)
            total += ms;
        const double p95 = sorted[static_cast<size_t>(0.95 * (sorted.size() - 1))];
        std::printf("  %-15s mean %.1f ms, median %.1f ms, 95th percentile %.1f ms, slowest %.1f ms\n",
                    times == &best ? "wall time:" : "processor time:", total / sorted.size(), sorted[sorted.size() / 2],
                    p95, sorted.back());
        if (times == &best_cpu)
            p95_cpu = p95;
    }
    std::printf("  target: under %.0f ms of one core per frame (95th percentile): %s\n", kTargetMs,
                p95_cpu < kTargetMs ? "met" : "NOT met");
    // A live overlay at 30 frames per second has one frame interval.
    constexpr double kFrameIntervalMs = 1000.0 / 30;
    print_row("Inspection per 1280x960 frame, one core (p95 CPU)", format("%.1f ms", p95_cpu),
              format("%.1f ms frame interval", kFrameIntervalMs), format("%.2f", p95_cpu / kFrameIntervalMs),
              "< 100 ms", p95_cpu < kTargetMs);
    return EXIT_SUCCESS;
}
