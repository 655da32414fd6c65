// A status line that rewrites itself on a terminal and prints plain lines,
// less often, into a file or pipe.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace qrn {

class ProgressLine {
public:
    ProgressLine();
    // Shows text if the last update is old enough (or force is set).
    void update(const std::string &text, bool force = false);
    // Ends a live line so that what follows starts on a line of its own.
    void finish();

private:
    bool live_;
    std::chrono::steady_clock::duration interval_;
    std::chrono::steady_clock::time_point last_shown_{};
    bool shown_ = false;
    size_t last_width_ = 0;
};

}  // namespace qrn
