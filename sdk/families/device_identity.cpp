// What the login told about the device: protocol version and MAC address.
#include <cstring>

#include "qrn_net.h"
#include "session_table.h"

extern "C" {

int QRN_NET_GetVersion(int handle)
{
    SessionContext *session = session_lookup(handle);
    return session ? static_cast<int>(session->protocol_version) : QRN_ERR_INVALID_HANDLE;
}

int QRN_NET_GetMac(int handle, uint8_t *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    // Only a full login answer carries the MAC.
    if (!session->device_info.valid)
        return QRN_ERR_FAILED;
    std::memcpy(out, session->device_info.mac, sizeof session->device_info.mac);
    return QRN_OK;
}

}  // extern "C"
