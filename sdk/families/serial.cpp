// The device's serial port: its line settings, opening and closing the
// pass-through, the bytes sent to it and received from it, and their counts.
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "command_helpers.h"
#include "qrn_net.h"
#include "session_table.h"
#include "trace.h"
#include "wire_protocol.h"

namespace {

constexpr uint16_t kGetSerialParams = 0x3001;
constexpr uint16_t kSetSpeed = 0x3002;
constexpr uint16_t kSetDataBits = 0x3003;
constexpr uint16_t kSetStopBits = 0x3004;
constexpr uint16_t kSetParity = 0x3005;
constexpr uint16_t kSetTimeout = 0x3006;
constexpr uint16_t kSerialOpen = 0x3007;
constexpr uint16_t kSerialClose = 0x3008;
constexpr int kSerialParamWords = 5;
constexpr int kSerialParamSize = 4 * kSerialParamWords;
constexpr int kLengthWordSize = 4;

enum SerialWord { kSpeed = 0, kDataBits = 1, kStopBits = 2, kParity = 3, kTimeout = 4 };

bool serial_params_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->serial.params_valid != 0;
}

// Asks the device for its line settings once; a failed or malformed answer
// empties the cache, so the next getter asks again.
int fill_serial_params(SessionContext *session)
{
    if (serial_params_valid(session))
        return QRN_OK;
    // One byte of room past the record, so a longer answer is seen as such.
    uint8_t answer[kSerialParamSize + 1];
    int length = sizeof answer;
    int result = command_query(session, kGetSerialParams, answer, &length);
    if (result == QRN_ERR_TOO_LONG || (result == QRN_OK && length != kSerialParamSize))
        result = QRN_ERR_MALFORMED;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    for (int i = 0; i < kSerialParamWords; ++i)
        session->serial_params[i] = result == QRN_OK ? get_u32le(answer + 4 * i) : 0;
    session->serial.params_valid = result == QRN_OK ? 1 : 0;
    return result;
}

// Reads the cached line settings; an unknown handle is reported before a
// NULL out, and a NULL out asks the device nothing.
template <typename Read>
int read_serial_params(int handle, const void *out, Read read)
{
    const auto fill = [out](SessionContext *session) { return out ? fill_serial_params(session) : QRN_ERR_FAILED; };
    return read_filled(handle, fill, read);
}

int get_serial_word(int handle, int *out, SerialWord word)
{
    return read_serial_params(handle, out, [out, word](const SessionContext &session) {
        *out = static_cast<int>(session.serial_params[word]);
        return QRN_OK;
    });
}

int set_serial_word(int handle, uint16_t code, uint32_t value, SerialWord word)
{
    return send_word_then(handle, code, value, [value, word](SessionContext &session) {
        std::lock_guard<std::mutex> guard(session.cache_mutex);
        session.serial_params[word] = value;
    });
}

int get_counter(int handle, int *out, uint32_t value_of(const SessionContext &))
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!out)
        return QRN_ERR_FAILED;
    *out = static_cast<int>(value_of(*session));
    return QRN_OK;
}

void reset_counters(SessionContext *session)
{
    session->serial_received_bytes = 0;
    session->serial_cache_size = 0;
    session->serial.sent_bytes = 0;
}

}  // namespace

extern "C" {

int QRN_NET_Serial_GetSpeed(int handle, int *out)
{
    return get_serial_word(handle, out, kSpeed);
}

int QRN_NET_Serial_GetDataBit(int handle, int *out)
{
    return get_serial_word(handle, out, kDataBits);
}

int QRN_NET_Serial_GetStopBit(int handle, int *out)
{
    return get_serial_word(handle, out, kStopBits);
}

int QRN_NET_Serial_GetParity(int handle, int *out)
{
    return get_serial_word(handle, out, kParity);
}

int QRN_NET_Serial_GetTimeout(int handle, int *out)
{
    return get_serial_word(handle, out, kTimeout);
}

int QRN_NET_Serial_GetParam(int handle, SerialParam *out)
{
    return read_serial_params(handle, out, [out](const SessionContext &session) {
        const uint32_t *words = session.serial_params;
        out->speed = words[kSpeed];
        out->data_bits = words[kDataBits];
        out->stop_bits = words[kStopBits];
        out->parity = words[kParity];
        out->timeout = words[kTimeout];
        return QRN_OK;
    });
}

int QRN_NET_Serial_SetSpeed(int handle, uint32_t value)
{
    return set_serial_word(handle, kSetSpeed, value, kSpeed);
}

int QRN_NET_Serial_SetDataBit(int handle, uint32_t value)
{
    return set_serial_word(handle, kSetDataBits, value, kDataBits);
}

int QRN_NET_Serial_SetStopBit(int handle, uint32_t value)
{
    return set_serial_word(handle, kSetStopBits, value, kStopBits);
}

int QRN_NET_Serial_SetParity(int handle, uint32_t value)
{
    return set_serial_word(handle, kSetParity, value, kParity);
}

int QRN_NET_Serial_SetTimeout(int handle, uint32_t value)
{
    return set_serial_word(handle, kSetTimeout, value, kTimeout);
}

int QRN_NET_Serial_GetRxTotalNum(int handle, int *out)
{
    return get_counter(handle, out, [](const SessionContext &s) -> uint32_t { return s.serial_received_bytes; });
}

int QRN_NET_Serial_GetTxTotalNum(int handle, int *out)
{
    return get_counter(handle, out, [](const SessionContext &s) -> uint32_t { return s.serial.sent_bytes; });
}

int QRN_NET_Serial_GetCurRxCacheSize(int handle, int *out)
{
    return get_counter(handle, out, [](const SessionContext &s) -> uint32_t { return s.serial_cache_size; });
}

int QRN_NET_Serial_Begin(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    // Received bytes come back on the stream connection: without it the
    // port would be open with nowhere to deliver to.
    if (session->address_kind == kAddressKindIp && !session->data_channel_up) {
        qrn_trace("tcp is not bconnect...\n");
        return QRN_ERR_FAILED;
    }
    // The assembly length belongs to the receive thread; a half-assembled
    // block needs no reset here, as the next first fragment restarts it.
    quarn_queue_clean(session->queues.serial);
    const int result = command_send(session, kSerialOpen, nullptr, 0);
    if (result != QRN_OK)
        return result;
    reset_counters(session);
    session->serial.open = 1;
    qrn_trace("open serial sucessful...\n");
    return QRN_OK;
}

int QRN_NET_Serial_End(int handle)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!session->serial.open)
        return QRN_OK;
    const int result = command_send(session, kSerialClose, nullptr, 0);
    if (result != QRN_OK)
        return result;
    reset_counters(session);
    session->serial.open = 0;
    quarn_queue_clean(session->queues.serial);
    return QRN_OK;
}

int QRN_NET_Serial_SendData(int handle, const void *data, int length)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!data || length < 0)
        return QRN_ERR_NULL_POINTER;
    if (!session->serial.open)
        return QRN_ERR_FAILED;
    const int result = send_stream_data(session, STREAM_SERIAL, data, length);
    if (result == QRN_OK)
        session->serial.sent_bytes += static_cast<uint32_t>(length);
    return result;
}

int QRN_NET_Serial_RequestData(int handle, void **data, int *length)
{
    SessionContext *session = session_lookup(handle);
    if (!session)
        return QRN_ERR_INVALID_HANDLE;
    if (!data || !length)
        return QRN_ERR_NULL_POINTER;
    if (!session->serial.open || session->serial_cache_size == 0)
        return QRN_ERR_FAILED;
    void *taken = nullptr;
    int size = 0;
    int tag = 0;
    if (quarn_queue_getElem(session->queues.serial, &taken, &size, &tag) < 0 || !taken)
        return QRN_ERR_FAILED;
    auto *element = static_cast<uint8_t *>(taken);
    uint32_t block_length = 0;  // written by the receive thread in the host's order
    std::memcpy(&block_length, element, kLengthWordSize);
    session->serial_cache_size -= block_length;
    *data = element + kLengthWordSize;
    *length = static_cast<int>(block_length);
    return QRN_OK;
}

int QRN_NET_Serial_ReleaseData(int, void *data)
{
    // Only a pointer from QRN_NET_Serial_RequestData may be freed; NULL is
    // not one, and stepping back from it would free a wild address.
    if (!data)
        return QRN_ERR_FAILED;
    std::free(static_cast<uint8_t *>(data) - kLengthWordSize);
    return QRN_OK;
}

}  // extern "C"
