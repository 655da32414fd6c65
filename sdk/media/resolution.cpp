// The resolution code: width in the upper 16 bits, height in the lower 16.
#include "qrn_net.h"

extern "C" {

int QRN_Video_GroupResolu(int width, int height)
{
    return static_cast<int>(static_cast<uint32_t>(width) << 16 | (static_cast<uint32_t>(height) & 0xFFFF));
}

void QRN_Video_AnalysisResolu(int code, int *width, int *height)
{
    *width = static_cast<int>((static_cast<uint32_t>(code) >> 16) & 0xFFFF);
    *height = static_cast<int>(static_cast<uint32_t>(code) & 0xFFFF);
}

}  // extern "C"
