// A process's open descriptors, threads and resident memory, read from /proc,
// and a sampler that keeps their peaks.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

struct ProcessFigures {
    long descriptors = 0;
    long threads = 0;
    long resident_kib = 0;
};

inline ProcessFigures read_process_figures(const std::string &pid = "self")
{
    ProcessFigures figures;
    if (DIR *fds = opendir(("/proc/" + pid + "/fd").c_str())) {
        while (const dirent *entry = readdir(fds))
            if (entry->d_name[0] != '.')
                ++figures.descriptors;
        closedir(fds);
        --figures.descriptors;  // the directory's own descriptor
    }
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0)
            figures.threads = std::stol(line.substr(8));
        else if (line.rfind("VmRSS:", 0) == 0)
            figures.resident_kib = std::stol(line.substr(6));
    }
    return figures;
}

// Samples this process every interval until stopped; keeps every sample, so
// that the halves of a run can be compared.
class FigureSampler {
public:
    explicit FigureSampler(std::chrono::milliseconds interval) : interval_(interval)
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                const ProcessFigures now = read_process_figures();
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    samples_.push_back(now);
                }
                std::this_thread::sleep_for(interval_);
            }
        });
    }
    ~FigureSampler() { stop(); }

    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::vector<ProcessFigures> samples() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }

private:
    std::chrono::milliseconds interval_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<ProcessFigures> samples_;
    std::thread thread_;
};

// The largest of each figure over samples [begin, end).
inline ProcessFigures peak_of(const std::vector<ProcessFigures> &samples, size_t begin, size_t end)
{
    ProcessFigures peak;
    for (size_t i = begin; i < end && i < samples.size(); ++i) {
        peak.descriptors = std::max(peak.descriptors, samples[i].descriptors);
        peak.threads = std::max(peak.threads, samples[i].threads);
        peak.resident_kib = std::max(peak.resident_kib, samples[i].resident_kib);
    }
    return peak;
}

}  // namespace soak
