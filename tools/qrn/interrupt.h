// Ctrl-C asks a long-running command to finish; it then stops what it
// started and reports, instead of dying with the device mid-command.
#pragma once

#include <chrono>

namespace qrn {

// Installs the handler. A second Ctrl-C ends the program at once.
void catch_interrupt();

bool interrupt_requested();

// Sleeps for duration or until Ctrl-C; false when interrupted.
bool sleep_unless_interrupted(std::chrono::milliseconds duration);

}  // namespace qrn
