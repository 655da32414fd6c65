// Timing probe for the benchmarks (bench/run): when KELVO_FRAME_TRACE names a
// file, the viewer writes there, one line per event, the wall-clock time in
// nanoseconds of each frame decoded, received by the window and first
// painted, of the window first shown and Connect clicked, and, with
// KELVO_FRAME_TRACE_STALLS set too, the longest delay of its event loop. Unset (the normal case) it costs one test of a
// flag read once, and nothing is written.
#pragma once

#include <cstdint>

class QWidget;

namespace FrameTrace {

namespace detail {
bool readEnabled();
}

inline bool enabled()
{
    static const bool on = detail::readEnabled();
    return on;
}

// A source's frame thread turned the module's frame `sequence` into the frame
// it emits with `id`.
void decoded(int id, uint32_t sequence);
// The window's slot received the frame `id`.
void received(int id);
// The video widget painted the frame last received.
void painted();
// Watches the window for its first paint and the Connect button's clicks,
// and the event loop for stalls. Call once, on the GUI thread.
void watch(QWidget *window);

}  // namespace FrameTrace
