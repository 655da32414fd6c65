// The device's general-purpose pins, cached as a table per session. Devices
// of protocol version 2.x and older know five pins by level only and speak
// 32-bit words; newer ones exchange the whole table.
#include <cstring>
#include <mutex>

#include "command_helpers.h"

namespace {

constexpr uint16_t kGetPins = 0x4001;
constexpr uint16_t kSetPin = 0x4003;
constexpr uint16_t kSetAllPins = 0x4004;

constexpr int kTableEntries = 32;
constexpr int kEntrySize = 3;
constexpr int kOldGenerationPins = 5;
constexpr uint32_t kLastOldGenerationMajor = 2;
constexpr uint8_t kModeOldDevicesRefuse = 1;

static_assert(kGpioBlockSize == 1 + kTableEntries * kEntrySize, "count byte and 32 entries");
static_assert(sizeof(GpioTable) == kGpioBlockSize, "the public table is the cached block");

bool old_generation(const SessionContext *session)
{
    return session->protocol_version >> 16 <= kLastOldGenerationMajor;
}

bool gpio_valid(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->gpio_valid != 0;
}

int query_table(SessionContext *session, uint8_t *table)
{
    if (!old_generation(session))
        return query_fixed(session, kGetPins, table, kGpioBlockSize);
    uint8_t levels[kOldGenerationPins * 4];
    const int result = query_fixed(session, kGetPins, levels, sizeof levels);
    if (result != QRN_OK)
        return result;
    table[0] = kOldGenerationPins;
    for (int pin = 0; pin < kOldGenerationPins; ++pin) {
        uint8_t *entry = table + 1 + pin * kEntrySize;
        entry[0] = static_cast<uint8_t>(pin);
        entry[1] = 0;
        entry[2] = levels[4 * pin];  // the low byte of the word
    }
    return QRN_OK;
}

int ask_pin_table(SessionContext *session)
{
    uint8_t table[kGpioBlockSize] = {};
    const int result = query_table(session, table);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(session->gpio_block, table, sizeof table);
    session->gpio_valid = 1;
    return QRN_OK;
}

int fill_gpio_cache(SessionContext *session)
{
    return fill_once(
        session->gpio_lock, [session] { return gpio_valid(session); }, [session] { return ask_pin_table(session); });
}

SessionContext *filled_session(int handle, int *result)
{
    SessionContext *session = session_lookup(handle);
    if (!session) {
        *result = QRN_ERR_INVALID_HANDLE;
        return nullptr;
    }
    *result = fill_gpio_cache(session);
    return *result == QRN_OK ? session : nullptr;
}

uint8_t cached_count(SessionContext *session)
{
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    return session->gpio_block[0];
}

// Only pins the table describes: within its 32 entries and its pin count.
bool pin_in_table(int pin, uint8_t count)
{
    return pin >= 0 && pin < kTableEntries && pin < count;
}

void put_signed_word(uint8_t *out, uint8_t byte)
{
    put_u32le(out, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))));
}

// Sends a pin change in the form the device's generation speaks; once the
// device accepted it, the cached table holds the change at offset.
int send_and_cache(SessionContext *session, uint16_t code, const void *payload, int length, int offset,
                   const uint8_t *change, int change_length)
{
    const int result = command_send(session, code, payload, length);
    if (result != QRN_OK)
        return result;
    std::lock_guard<std::mutex> guard(session->cache_mutex);
    std::memcpy(session->gpio_block + offset, change, static_cast<size_t>(change_length));
    return QRN_OK;
}

}  // namespace

extern "C" {

int QRN_NET_Gpio_GetAll(int handle, GpioTable *out)
{
    if (!out)
        return QRN_ERR_FAILED;
    return read_filled(handle, fill_gpio_cache, [out](const SessionContext &session) {
        std::memcpy(out, session.gpio_block, kGpioBlockSize);
        return QRN_OK;
    });
}

int QRN_NET_Gpio_GetStatus(int handle, int pin, GpioEntry *out)
{
    if (!out)
        return QRN_ERR_FAILED;
    return read_filled(handle, fill_gpio_cache, [pin, out](const SessionContext &session) {
        if (!pin_in_table(pin, session.gpio_block[0]))
            return QRN_ERR_FAILED;
        std::memcpy(out, session.gpio_block + 1 + pin * kEntrySize, kEntrySize);
        return QRN_OK;
    });
}

int QRN_NET_Gpio_SetStatus(int handle, GpioEntry entry)
{
    int result = QRN_OK;
    SessionContext *session = filled_session(handle, &result);
    if (!session)
        return result;
    if (!pin_in_table(entry.pin, cached_count(session)))
        return QRN_ERR_FAILED;
    const uint8_t fields[kEntrySize] = {entry.pin, entry.mode, entry.level};
    const int offset = 1 + entry.pin * kEntrySize;
    if (!old_generation(session))
        return send_and_cache(session, kSetPin, fields, sizeof fields, offset, fields, sizeof fields);
    if (entry.mode == kModeOldDevicesRefuse)
        return QRN_ERR_FAILED;
    uint8_t words[8];
    put_signed_word(words, entry.pin);
    put_signed_word(words + 4, entry.level);
    return send_and_cache(session, kSetPin, words, sizeof words, offset, fields, sizeof fields);
}

int QRN_NET_Gpio_SetAll(int handle, GpioTable table)
{
    int result = QRN_OK;
    SessionContext *session = filled_session(handle, &result);
    if (!session)
        return result;
    // Unsigned: a count byte of 128 or more is no smaller table.
    if (table.count > cached_count(session))
        return QRN_ERR_FAILED;
    uint8_t block[kGpioBlockSize];
    std::memcpy(block, &table, sizeof block);
    if (!old_generation(session))
        return send_and_cache(session, kSetAllPins, block, sizeof block, 0, block, sizeof block);
    uint8_t levels[kOldGenerationPins * 4];
    for (int pin = 0; pin < kOldGenerationPins; ++pin)
        put_signed_word(levels + 4 * pin, table.entries[pin].level);
    return send_and_cache(session, kSetAllPins, levels, sizeof levels, 0, block, sizeof block);
}

}  // extern "C"
