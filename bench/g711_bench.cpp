// G.711 coding speed: samples per second for encode and decode of both laws,
// next to a plain copy of the same bytes, over a few million samples of a
// synthetic voice-like signal. Each figure is the best of several rounds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_row.h"
#include "qrn_net.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 4 * 1024 * 1024;
int kRounds = 15;

// The results are folded into this so the compiler cannot drop the work.
volatile uint32_t sink;

uint32_t checksum(const void *data, size_t bytes)
{
    const auto *p = static_cast<const uint8_t *>(data);
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; i += 4093)
        sum = sum * 31 + p[i];
    return sum + p[bytes - 1];
}

template <typename Work>
double best_samples_per_second(Work work)
{
    double best = 0;
    for (int round = 0; round < kRounds; ++round) {
        const Clock::time_point start = Clock::now();
        sink = sink + work();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::max(best, kSamples / seconds);
    }
    return best;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1)
        kRounds = std::max(1, std::atoi(argv[1]));
    std::vector<int16_t> samples(kSamples);
    for (int i = 0; i < kSamples; ++i)  // two tones and some noise, over the whole range
        samples[i] = static_cast<int16_t>(20000 * std::sin(i * 0.031) + 9000 * std::sin(i * 0.17) +
                                          (static_cast<int>(i * 2654435761u >> 20) & 0x7FF) - 1024);
    std::vector<uint8_t> alaw(kSamples);
    std::vector<uint8_t> ulaw(kSamples);
    QRN_Coder_G711a_Encode(alaw.data(), samples.data(), 2 * kSamples);
    QRN_Coder_G711u_Encode(ulaw.data(), samples.data(), 2 * kSamples);
    std::vector<uint8_t> codes_out(kSamples);
    std::vector<int16_t> samples_out(kSamples);

    struct Row {
        const char *name;
        double per_second;
    };
    const Row rows[] = {
        {"A-law encode", best_samples_per_second([&] {
             QRN_Coder_G711a_Encode(codes_out.data(), samples.data(), 2 * kSamples);
             return checksum(codes_out.data(), codes_out.size());
         })},
        {"A-law decode", best_samples_per_second([&] {
             QRN_Coder_G711a_Decode(samples_out.data(), alaw.data(), kSamples);
             return checksum(samples_out.data(), 2 * samples_out.size());
         })},
        {"mu-law encode", best_samples_per_second([&] {
             QRN_Coder_G711u_Encode(codes_out.data(), samples.data(), 2 * kSamples);
             return checksum(codes_out.data(), codes_out.size());
         })},
        {"mu-law decode", best_samples_per_second([&] {
             QRN_Coder_G711u_Decode(samples_out.data(), ulaw.data(), kSamples);
             return checksum(samples_out.data(), 2 * samples_out.size());
         })},
        // The linear side of each sample: what a copy of the decoder's output costs.
        {"memcpy 16-bit", best_samples_per_second([&] {
             std::memcpy(samples_out.data(), samples.data(), 2 * kSamples);
             return checksum(samples_out.data(), 2 * samples_out.size());
         })},
        // The coded side: one byte per sample.
        {"memcpy 8-bit", best_samples_per_second([&] {
             std::memcpy(codes_out.data(), alaw.data(), kSamples);
             return checksum(codes_out.data(), codes_out.size());
         })},
    };

    std::printf("%d samples, best of %d rounds\n\n", kSamples, kRounds);
    std::printf("%-14s %14s %10s %12s\n", "", "Msamples/s", "ns/sample", "x 8 kHz");
    for (const Row &row : rows)
        std::printf("%-14s %14.1f %10.3f %12.0f\n", row.name, row.per_second / 1e6, 1e9 / row.per_second,
                    row.per_second / 8000);
    // The table compares each law's slower direction with the copy of its
    // linear side; one 8 kHz channel is the least it must keep up with.
    const double memcpy16 = rows[4].per_second;
    for (int law = 0; law < 2; ++law) {
        const Row &slower = rows[2 * law].per_second < rows[2 * law + 1].per_second ? rows[2 * law] : rows[2 * law + 1];
        print_row(std::string("G.711 ") + slower.name + " (slower way)",
                  format("%.0f Msamples/s", slower.per_second / 1e6), format("%.0f Msamples/s memcpy", memcpy16 / 1e6),
                  format("%.2f", slower.per_second / memcpy16), ">= 1000x one 8 kHz channel",
                  slower.per_second >= 8000.0 * 1000);
    }
    return 0;
}
