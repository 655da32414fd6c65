#include "progress_line.h"

#include <iostream>
#include <unistd.h>

namespace qrn {

ProgressLine::ProgressLine()
    : live_(isatty(STDOUT_FILENO) == 1),
      interval_(live_ ? std::chrono::steady_clock::duration(std::chrono::milliseconds(250))
                      : std::chrono::steady_clock::duration(std::chrono::seconds(1)))
{
}

void ProgressLine::update(const std::string &text, bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && !force && now - last_shown_ < interval_)
        return;
    if (live_) {
        // Blanks wipe what a longer previous text left behind.
        const size_t padding = last_width_ > text.size() ? last_width_ - text.size() : 0;
        std::cout << '\r' << text << std::string(padding, ' ') << std::flush;
        last_width_ = text.size();
    } else {
        std::cout << text << std::endl;
    }
    shown_ = true;
    last_shown_ = now;
}

void ProgressLine::finish()
{
    if (live_ && shown_)
        std::cout << '\n' << std::flush;
    shown_ = false;
    last_width_ = 0;
}

}  // namespace qrn
