// Who the device is: ID, alias, MAC address, protocol version and the address
// the session reached it at. ID, alias and MAC are cached per session, filled
// by a full login answer or by the first getter that needs them.
#include <cstring>
#include <mutex>

#include "command_helpers.h"

namespace {

constexpr uint16_t kGetMac = 0x0004;
constexpr uint16_t kSetId = 0x8003;
constexpr uint16_t kSetAlias = 0x8004;
constexpr uint16_t kGetId = 0x8005;
constexpr uint16_t kGetAlias = 0x8006;

constexpr int kIdOffset = 0;
constexpr int kAliasOffset = 4;
constexpr int kAliasSize = 20;  // the text and its NUL
constexpr int kMacSize = 6;

bool info_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->device_info.valid != 0;
}

void store(SessionContext *session, int offset, const void *bytes, int length)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(session->device_info.record + offset, bytes, static_cast<size_t>(length));
}

// Each part is kept as soon as it arrives; only the flag waits for all.
// Two callers may fill at once: both ask the same device the same things.
int fill_device_info(SessionContext *session)
{
    if (info_valid(session))
        return QRN_OK;
    uint8_t id[4];
    int result = query_fixed(session, kGetId, id, sizeof id);
    if (result != QRN_OK)
        return result;
    store(session, kIdOffset, id, sizeof id);

    char alias[kAliasSize] = {};
    int length = kAliasSize;
    result = command_query(session, kGetAlias, alias, &length);
    if (result != QRN_OK)
        return result;
    if (!std::memchr(alias, 0, static_cast<size_t>(length)))  // the field must hold the text and its NUL
        return QRN_ERR_MALFORMED;
    std::memset(alias + length, 0, static_cast<size_t>(kAliasSize - length));
    store(session, kAliasOffset, alias, kAliasSize);

    uint8_t mac[kMacSize];
    result = query_fixed(session, kGetMac, mac, sizeof mac);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(session->device_info.mac, mac, sizeof mac);
    session->device_info.valid = 1;
    return QRN_OK;
}

// A login answer fills the field with whatever the device sent, terminated
// or not: the copy always ends within the 20 bytes.
void copy_alias(char *out, const uint8_t *field)
{
    const size_t length = strnlen(reinterpret_cast<const char *>(field), kAliasSize - 1);
    std::memcpy(out, field, length);
    out[length] = '\0';
}

}  // namespace

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
    return read_filled(handle, fill_device_info, [out](const SessionContext &session) {
        std::memcpy(out, session.device_info.mac, sizeof session.device_info.mac);
        return QRN_OK;
    });
}

int QRN_NET_Device_GetId(int handle, int *id)
{
    if (!id)
        return QRN_ERR_FAILED;
    return read_filled(handle, fill_device_info, [id](const SessionContext &session) {
        *id = static_cast<int>(get_u32le(session.device_info.record + kIdOffset));
        return QRN_OK;
    });
}

int QRN_NET_Device_GetAlias(int handle, char *alias)
{
    if (!alias)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_device_info, [alias](const SessionContext &session) {
        copy_alias(alias, session.device_info.record + kAliasOffset);
        return QRN_OK;
    });
}

int QRN_NET_GetDeviceInfo(int handle, DeviceInfo *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    return read_filled(handle, fill_device_info, [out](const SessionContext &session) {
        DeviceInfo info{};
        info.id = get_u32le(session.device_info.record + kIdOffset);
        copy_alias(info.alias, session.device_info.record + kAliasOffset);
        // The address is the session's own, and a login answer does not carry it.
        static_assert(sizeof info.address == sizeof session.address, "address fields match");
        std::memcpy(info.address, session.address, sizeof info.address);
        info.address[sizeof info.address - 1] = '\0';
        *out = info;
        return QRN_OK;
    });
}

int QRN_NET_Device_SetId(int handle, uint32_t id)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    uint8_t payload[4];
    put_u32le(payload, id);
    const int result = command_send(session, kSetId, payload, sizeof payload);
    if (result == QRN_OK)
        store(session, kIdOffset, payload, sizeof payload);
    return result;
}

int QRN_NET_Device_SetAlias(int handle, const char *alias)
{
    // The field holds 19 characters and the NUL; a longer alias would run
    // into the address behind it.
    const size_t length = alias ? strnlen(alias, kAliasSize) : kAliasSize;
    if (length >= kAliasSize)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    const int result = command_send(session, kSetAlias, alias, static_cast<int>(length) + 1);
    if (result != QRN_OK)
        return result;
    char field[kAliasSize] = {};
    std::memcpy(field, alias, length);
    store(session, kAliasOffset, field, kAliasSize);
    return QRN_OK;
}

int QRN_NET_Device_GetAddress(int handle, char *out)
{
    if (!out)
        return QRN_ERR_NULL_POINTER;
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    std::memcpy(out, session->address, sizeof session->address);
    return QRN_OK;
}

}  // extern "C"
