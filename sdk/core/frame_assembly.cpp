#include "frame_assembly.h"

#include <algorithm>
#include <cstdlib>

#include "byte_order.h"
#include "jpeg_completion.h"
#include "qrn_net.h"

namespace {

int drop_rest(FrameAssembly &frame, uint32_t length, StreamByteReader &reader)
{
    reset_frame(frame);
    frame.discarding = true;
    const int result = reader.skip(length);
    return result == QRN_OK ? QRN_ERR_FAILED : result;
}

// The frame header is complete: make the element the data goes into.
bool start_element(FrameAssembly &frame, SpareElements &spares)
{
    const uint32_t data_length = get_u32le(frame.frame_header + 24);
    if (data_length > kMaxFramePayload - kFrameHeaderSize)
        return false;
    frame.expected = kFrameHeaderSize + data_length;
    void *block = spares.take(frame_element_size(frame.frame_header, &frame.room_for_tables));
    if (!block)
        return false;
    frame.element = start_frame_element(block, frame.frame_header);
    return true;
}

}  // namespace

int append_frame_fragment(FrameAssembly &frame, const StreamHeader &header, StreamByteReader &reader,
                          SpareElements &spares)
{
    if (header.fragment_index == 0)
        reset_frame(frame);  // a first fragment starts a new frame, whatever came before
    uint32_t left = header.length;
    if (frame.discarding)
        return drop_rest(frame, left, reader);

    if (frame.fill < kFrameHeaderSize) {
        const uint32_t part = std::min<uint32_t>(left, kFrameHeaderSize - frame.fill);
        const int result = reader.read(frame.frame_header + frame.fill, part);
        if (result != QRN_OK)
            return result;
        frame.fill += part;
        left -= part;
        if (frame.fill == kFrameHeaderSize && !start_element(frame, spares))
            return drop_rest(frame, left, reader);
    }
    if (left == 0)
        return QRN_OK;
    if (!frame.element || left > frame.expected - frame.fill)
        return drop_rest(frame, left, reader);  // more than the header announced
    uint8_t *data = frame.element->data + (frame.fill - kFrameHeaderSize);
    const int result = reader.read(data, left);
    if (result != QRN_OK)
        return result;
    frame.fill += left;
    return QRN_OK;
}

FrameElement *take_frame(FrameAssembly &frame)
{
    FrameElement *element = nullptr;
    if (frame.element && frame.fill == frame.expected) {
        element = frame.element;
        frame.element = nullptr;
        complete_frame_element(element, frame.room_for_tables);
    }
    reset_frame(frame);
    return element;
}

void reset_frame(FrameAssembly &frame)
{
    std::free(frame.element);
    frame.element = nullptr;
    frame.room_for_tables = false;
    frame.discarding = false;
    frame.fill = 0;
    frame.expected = 0;
}
