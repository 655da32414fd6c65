/* The public header alone, as a strict C99 caller includes it. Built with
 * -std=c99 -pedantic-errors, so the header's size checks must work without
 * C11's _Static_assert. */
#include "qrn_net.h"

#include <stddef.h>

QRN_STATIC_ASSERT(sizeof(FrameHeader) == 28, "FrameHeader size");
QRN_STATIC_ASSERT(offsetof(FrameHeader, length) == 24, "FrameHeader length offset");
QRN_STATIC_ASSERT(offsetof(FrameElement, data) == 36, "FrameElement data offset");
QRN_STATIC_ASSERT(sizeof(VideoCtrlEntry) == 32, "VideoCtrlEntry size");

int main(void)
{
    int handle = 0;
    return QRN_NET_GetTransMode(handle, NULL) == QRN_ERR_NULL_POINTER ? 0 : 1;
}
