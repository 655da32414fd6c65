#include "qrn_net.h"

// The header's numbers and the build's must never drift apart.
static_assert(QRN_NET_VERSION_MAJOR == QRN_NET_PROJECT_VERSION_MAJOR &&
                  QRN_NET_VERSION_MINOR == QRN_NET_PROJECT_VERSION_MINOR &&
                  QRN_NET_VERSION_PATCH == QRN_NET_PROJECT_VERSION_PATCH,
              "qrn_net.h and the project version differ");

extern "C" int QRN_NET_GetLibraryVersion(void)
{
    return QRN_NET_VERSION;
}
