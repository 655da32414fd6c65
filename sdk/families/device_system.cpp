// Restarting the device, its clock and free-form control texts. Nothing here
// is cached.
#include <cstring>

#include "command_helpers.h"
#include "trace.h"

namespace {

constexpr uint16_t kGetSystemTime = 0x0005;
constexpr uint16_t kSetSystemTime = 0x0007;
constexpr uint16_t kReboot = 0x8007;
constexpr uint16_t kReset = 0x8008;
constexpr uint16_t kControlText = 0x8FF1;

constexpr int kSystemTimeSize = 8;  // laid out as the device defines it

}  // namespace

extern "C" {

int QRN_NET_Device_Reboot(int handle)
{
    return send_to(handle, kReboot, nullptr, 0);
}

int QRN_NET_Device_Reset(int handle)
{
    return send_to(handle, kReset, nullptr, 0);
}

int QRN_NET_GetSystemTime(int handle, void *time)
{
    return time ? query_into(handle, kGetSystemTime, time, kSystemTimeSize) : QRN_ERR_NULL_POINTER;
}

int QRN_NET_SetSystemTime(int handle, const void *time)
{
    return time ? send_to(handle, kSetSystemTime, time, kSystemTimeSize) : QRN_ERR_NULL_POINTER;
}

int QRN_NET_SetCmdCtrl(int handle, const char *text)
{
    // The text goes with its NUL, and one command carries at most kMaxRequestPayload bytes.
    const size_t length = text ? strnlen(text, kMaxRequestPayload) : 0;
    if (length == 0 || length + 1 > kMaxRequestPayload)
        return QRN_ERR_FAILED;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    qrn_trace("[%d]cmdCtrl:%s\n", static_cast<int>(length), text);
    return command_send(session, kControlText, text, static_cast<int>(length) + 1);
}

}  // extern "C"
