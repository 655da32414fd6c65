// Takes everything a stream input delivered through the calls a program
// uses, reading every byte each element claims to hold, so an element
// whose length overstates its data is caught.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qrn_net.h"

namespace fuzzing {

inline void touch(const void *bytes, size_t length)
{
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < length; ++i)
        sink ^= static_cast<const uint8_t *>(bytes)[i];
    (void)sink;
}

inline void drain_queues(int handle)
{
    FrameElement *element = nullptr;
    while (QRN_NET_Video_RequestVideoData1(handle, &element, nullptr) == QRN_OK) {
        touch(element->data, element->header.length);
        QRN_NET_Video_ReleaseVideoData1(handle, element);
    }
    FrameHeader *picture = nullptr;
    while (QRN_NET_Video_RequestPicData(handle, &picture) == QRN_OK) {
        touch(picture + 1, picture->length);
        QRN_NET_Video_ReleasePicData(handle, picture);
    }
    void *block = nullptr;
    while (QRN_NET_Audio_RequestData(handle, &block) == QRN_OK)
        QRN_NET_Audio_ReleaseData(handle, block);
    int length = 0;
    while (QRN_NET_Serial_RequestData(handle, &block, &length) == QRN_OK) {
        touch(block, static_cast<size_t>(length));
        QRN_NET_Serial_ReleaseData(handle, block);
    }
    int sub_type = 0;
    while (QRN_NET_GetParamChangeType(handle, &sub_type) == QRN_OK) {
        if (QRN_NET_GetCmdResponse(handle, &length, &block) == QRN_OK)
            touch(block, static_cast<size_t>(length));
    }
}

}  // namespace fuzzing
