// Filling the session's video and H.264 caches from the device.
#pragma once

#include "session_context.h"

// Each returns 0 at once when its cache is already valid; otherwise it asks
// the device under the video lock. A failed fill returns its code and leaves
// the cache unmarked, so the next getter asks again.
int fill_video_cache(SessionContext *session);
int fill_h264_cache(SessionContext *session);
