// Session-level commands: transport mode, access string, company, custom block.
#include <cstring>
#include <mutex>

#include "byte_order.h"
#include "qrn_net.h"
#include "session_table.h"
#include "wire_protocol.h"

namespace {

constexpr int kCustomBlockSize = 256;
constexpr size_t kMaxEncryptCommand = 64;

// One exchange under the command lock whose answer lands in response.
int locked_transaction(SessionContext *session, uint16_t code, const void *request, int request_length, void *response,
                       int response_capacity, int *response_length)
{
    CommandLock lock(session);
    return command_transaction(session, code, request, request_length, response, response_capacity, response_length);
}

}  // namespace

extern "C" {

int QRN_NET_ForceP2PTransSwitch(int enable)
{
    set_transport_switch(enable != 0);
    return QRN_OK;
}

int QRN_NET_GetTransMode(int handle, int *mode_out)
{
    if (!mode_out)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    *mode_out = session->trans_mode;
    return QRN_OK;
}

int QRN_NET_GetEncrypt(int handle, char *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(out, session->encrypt, std::strlen(session->encrypt) + 1);
    return QRN_OK;
}

int QRN_NET_SetEncrypt(int handle, const char *encrypt)
{
    if (!encrypt || !*encrypt || std::strlen(encrypt) > kMaxEncryptCommand)
        return QRN_ERR_BAD_STRING;
    if (session_validate(handle, nullptr) != 0)
        return QRN_ERR_INVALID_HANDLE;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    const int length = static_cast<int>(std::strlen(encrypt)) + 1;
    uint8_t dropped[kMaxRequestPayload];
    int dropped_length = 0;
    const int result =
        locked_transaction(session, CMD_SET_ENCRYPT, encrypt, length, dropped, sizeof dropped, &dropped_length);
    // The session keeps what fits its field; the next login sends that.
    if (result == QRN_OK && length <= kEncryptSize) {
        std::lock_guard<std::mutex> guard(session->cache_mutex);
        std::memcpy(session->encrypt, encrypt, static_cast<size_t>(length));
    }
    return result;
}

int QRN_NET_GetCompany(int handle, char *out)
{
    if (!out)
        return QRN_ERR_FAILED;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    char name[QRN_NET_COMPANY_SIZE];
    int length = sizeof name - 1;  // room for the terminator we add
    const int result = command_query(session, CMD_GET_COMPANY, name, &length);
    if (result != QRN_OK)
        return result;
    name[length] = '\0';
    std::memcpy(out, name, static_cast<size_t>(length) + 1);
    return QRN_OK;
}

int QRN_NET_SetCustom(int handle, const void *block)
{
    if (!block)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    uint8_t dropped[kMaxRequestPayload];
    int length = 0;
    return locked_transaction(session, CMD_SET_CUSTOM, block, kCustomBlockSize, dropped, sizeof dropped, &length);
}

int QRN_NET_GetCustom(int handle, void *block)
{
    if (!block)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    uint8_t answer[kCustomBlockSize];
    int length = 0;
    const int result =
        locked_transaction(session, CMD_GET_CUSTOM, block, kCustomBlockSize, answer, sizeof answer, &length);
    // Only a whole block replaces the caller's.
    if (result == QRN_OK && length == kCustomBlockSize)
        std::memcpy(block, answer, kCustomBlockSize);
    return result;
}

int QRN_NET_SetBcastEchoPasswd(int handle, uint32_t value)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    uint8_t payload[4];
    put_u32le(payload, value);
    uint8_t dropped[kMaxRequestPayload];
    int length = 0;
    return locked_transaction(session, CMD_SET_BCAST_ECHO_PASSWD, payload, sizeof payload, dropped, sizeof dropped,
                              &length);
}
}  // extern "C"
