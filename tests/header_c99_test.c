/* The public header alone, as a C99 caller includes it. */
#include "qrn_net.h"

#include <stddef.h>

_Static_assert(sizeof(FrameHeader) == 28, "FrameHeader size");
_Static_assert(offsetof(FrameHeader, length) == 24, "FrameHeader length offset");
_Static_assert(offsetof(FrameElement, data) == 36, "FrameElement data offset");
_Static_assert(sizeof(VideoCtrlEntry) == 32, "VideoCtrlEntry size");

int main(void)
{
    int handle = 0;
    return QRN_NET_GetTransMode(handle, NULL) == QRN_ERR_NULL_POINTER ? 0 : 1;
}
