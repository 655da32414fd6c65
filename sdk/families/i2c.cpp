// Transfers on the device's I2C bus. The block's meaning is the device's:
// the library only carries it there and back.
#include "command_helpers.h"

namespace {

constexpr uint16_t kI2cRead = 0x5002;
constexpr uint16_t kI2cWrite = 0x5003;

static_assert(sizeof(I2cBlock) == 132, "four control bytes and 128 data bytes");

}  // namespace

extern "C" {

// The block goes out as the request and the answer comes back into it.
int QRN_NET_I2C_GetValue(int handle, I2cBlock *block)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!block)
        return QRN_ERR_FAILED;
    int length = sizeof *block;
    return command_query(session, kI2cRead, block, &length);
}

int QRN_NET_I2C_SetValue(int handle, const I2cBlock *block)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    return block ? command_send(session, kI2cWrite, block, sizeof *block) : QRN_ERR_FAILED;
}

}  // extern "C"
