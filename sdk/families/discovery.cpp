// Finding modules on the local networks without a session: one scanner
// thread asks by UDP broadcast and keeps a table of the modules that answer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "byte_order.h"
#include "discovery_reply.h"
#include "qrn_base.h"
#include "qrn_net.h"

namespace {

constexpr int kDiscoveryPort = 34673;
constexpr int kRequestSize = 32;
constexpr int kRequestModeOffset = 4;
constexpr uint16_t kRequestModeAll = 0xFFFF;
constexpr int kReplyBufferSize = 1024;
constexpr uint8_t kTimeToLive = 5;
constexpr int kShortestIntervalMs = 250;
constexpr int kMaxBroadcastAddresses = 64;
constexpr int kAddressTextSize = 20;

struct Slot {
    bool in_use = false;
    uint8_t time_to_live = 0;
    ScanDeviceInformation record{};
};

// The one scanner of the process. Created on first use and never
// destroyed, so its locks outlive every caller that may still reach them.
// Lock order: lifecycle, then table_lock.
struct Scanner {
    std::mutex lifecycle;  // Init and UnInit, one at a time
    std::mutex table_lock;
    Slot slots[QRN_SCAN_MAX_DEVICES];  // under table_lock
    bool readable = false;             // under table_lock: the table may be read
    std::atomic<bool> run{false};
    // Set before the thread starts and cleared only after it was joined.
    int socket = -1;
    int interval_ms = 1000;
    quarn_thread *thread = nullptr;
};

Scanner &scanner()
{
    static Scanner *instance = new Scanner;
    return *instance;
}

int interval_for(int seconds)
{
    if (seconds == 0)
        return 1000;
    const long long milliseconds = static_cast<long long>(seconds) * 1000;
    if (milliseconds <= kShortestIntervalMs)
        return kShortestIntervalMs;
    return static_cast<int>(std::min<long long>(milliseconds, INT_MAX));
}

bool has_magic(const uint8_t *p)
{
    return p[0] == 'Q' && p[1] == 'R' && p[2] == 'N';
}

void send_request(int socket, const char *address)
{
    uint8_t request[kRequestSize] = {'Q', 'R', 'N'};
    put_u16le(request + kRequestModeOffset, kRequestModeAll);
    quarn_udp_send_byips(socket, request, kRequestSize, address, kDiscoveryPort);
}

// The first reply from an address is kept as it came; later ones only
// renew its time-to-live. With every slot taken a newcomer is dropped: it
// is listed once an entry has aged out and it answers again.
void enter_device(Scanner &s, const ScanDeviceInformation &device)
{
    std::lock_guard<std::mutex> guard(s.table_lock);
    Slot *free_slot = nullptr;
    for (Slot &slot : s.slots) {
        if (slot.in_use && std::strncmp(slot.record.info.address, device.info.address, kAddressTextSize) == 0) {
            slot.time_to_live = kTimeToLive;
            return;
        }
        if (!slot.in_use && !free_slot)
            free_slot = &slot;
    }
    if (!free_slot)
        return;
    free_slot->in_use = true;
    free_slot->time_to_live = kTimeToLive;
    free_slot->record = device;
}

void age_table(Scanner &s)
{
    std::lock_guard<std::mutex> guard(s.table_lock);
    for (Slot &slot : s.slots) {
        if (!slot.in_use)
            continue;
        if (slot.time_to_live == 0)
            slot = Slot();
        else
            --slot.time_to_live;
    }
}

void ask_every_broadcast_address(int socket)
{
    char addresses[kMaxBroadcastAddresses][kAddressTextSize];
    const int count = quarn_net_getbcastip(addresses, kMaxBroadcastAddresses);
    for (int i = 0; i < count; ++i)
        send_request(socket, addresses[i]);
}

// Asks and ages by the clock, once per interval, whatever arrives in
// between: a peer that answers more often than the interval must neither
// keep silent modules listed nor stop the requests.
void scanner_main(void *argument)
{
    using clock = std::chrono::steady_clock;
    Scanner &s = *static_cast<Scanner *>(argument);
    const auto interval = std::chrono::milliseconds(s.interval_ms);
    send_request(s.socket, QUARN_LIMITED_BROADCAST);
    auto next_round = clock::now() + interval;
    while (s.run) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_round - clock::now());
        uint8_t reply[kReplyBufferSize] = {};
        char sender[kAddressTextSize] = {};
        const int length =
            quarn_udp_recv(s.socket, reply, sizeof reply, sender, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (!s.run)
            break;
        if (length >= 3 && has_magic(reply))
            enter_device(s, device_from_reply(reply, length, sender));
        else if (length < 0 && length != QUARN_TIMEOUT && length != QUARN_RETRY)
            break;  // the table stays readable until UnInit
        const auto now = clock::now();
        if (now >= next_round) {
            ask_every_broadcast_address(s.socket);
            age_table(s);
            // A late round (a stalled host) is not made up in a burst.
            next_round = std::max(next_round + interval, now);
        }
    }
}

int read_table(void *out, size_t record_size, int *count)
{
    Scanner &s = scanner();
    std::lock_guard<std::mutex> guard(s.table_lock);
    if (!s.readable || !out || !count)
        return QRN_ERR_FAILED;
    auto *next = static_cast<uint8_t *>(out);
    int copied = 0;
    for (const Slot &slot : s.slots) {
        if (!slot.in_use)
            continue;
        std::memcpy(next, &slot.record, record_size);
        next += record_size;
        ++copied;
    }
    *count = copied;
    return QRN_OK;
}

}  // namespace

extern "C" {

int QRN_NET_ScanDevice_Init(int seconds)
{
    Scanner &s = scanner();
    std::lock_guard<std::mutex> guard(s.lifecycle);
    if (s.socket >= 0)
        return QRN_OK;
    const int socket = quarn_udp_create(0, 1);
    if (socket < 0)
        return QRN_ERR_FAILED;
    {
        std::lock_guard<std::mutex> table_guard(s.table_lock);
        for (Slot &slot : s.slots)
            slot = Slot();
        s.readable = true;
    }
    s.socket = socket;
    s.interval_ms = interval_for(seconds);
    s.run = true;
    s.thread = quarn_thread_create(scanner_main, &s, 0);
    if (!s.thread) {
        s.run = false;
        {
            std::lock_guard<std::mutex> table_guard(s.table_lock);
            s.readable = false;
        }
        quarn_socket_close(socket);
        s.socket = -1;
        return QRN_ERR_FAILED;
    }
    return QRN_OK;
}

int QRN_NET_ScanDevice_UnInit(void)
{
    Scanner &s = scanner();
    std::lock_guard<std::mutex> guard(s.lifecycle);
    if (s.socket < 0)
        return QRN_OK;
    {
        std::lock_guard<std::mutex> table_guard(s.table_lock);
        s.readable = false;
    }
    s.run = false;
    // Wake the thread's wait, join it, and only then close: a descriptor
    // closed under a waiting thread could be reused by another socket.
    quarn_socket_shutdown(s.socket);
    quarn_thread_destroy(s.thread);
    s.thread = nullptr;
    quarn_socket_close(s.socket);
    s.socket = -1;
    return QRN_OK;
}

int QRN_NET_Scan_GetDeviceInfo(ScanDeviceInfo *out, int *count)
{
    return read_table(out, sizeof(ScanDeviceInfo), count);
}

int QRN_NET_Scan_GetDeviceInformation(ScanDeviceInformation *out, int *count)
{
    return read_table(out, sizeof(ScanDeviceInformation), count);
}

}  // extern "C"
