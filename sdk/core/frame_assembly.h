// Assembling video and picture frames from their fragments.
#pragma once

#include "session_context.h"
#include "stream_byte_reader.h"
#include "wire_protocol.h"

// Reads one fragment's payload into the frame, whose element comes from
// spares. QRN_OK; a reader failure; or QRN_ERR_FAILED when the fragment
// belongs to a dropped frame (too large, longer than its header says, out of
// memory) and was read and thrown away.
int append_frame_fragment(FrameAssembly &frame, const StreamHeader &header, StreamByteReader &reader,
                          SpareElements &spares);

// After the last fragment: the finished element (the caller owns it), or
// NULL when the frame was dropped or its length disagrees with its header.
// The assembly is empty afterwards.
FrameElement *take_frame(FrameAssembly &frame);

// Frees a half-built frame.
void reset_frame(FrameAssembly &frame);
