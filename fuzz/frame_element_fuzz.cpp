// Any bytes the stream can deliver as an assembled frame, through completion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpeg_completion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks the completion switch; the rest is the buffer,
    // copied so that any read past it is caught.
    if (size < 1)
        return 0;
    QRN_Video_JpegFrameHuffmanCheck(data[0] & 1);
    std::vector<uint8_t> buffer(data + 1, data + size);
    FrameElement *element = build_frame_element(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (element) {
        // Touch every byte the element claims to hold.
        volatile uint8_t sink = 0;
        for (uint32_t i = 0; i < element->header.length; ++i)
            sink ^= element->data[i];
        (void)sink;
        std::free(element);
    }
    return 0;
}
