// Giving an unconfigured module its network texts without a connection:
// one sender thread broadcasts datagrams whose lengths spell the texts.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "qrn_base.h"
#include "qrn_net.h"

namespace {

constexpr int kSmartConfigPort = 10009;
constexpr size_t kTextCapacity = 1024;  // with the terminator
constexpr size_t kShortestFirstText = 8;
constexpr const char *kDefaultSecondText = "4721";
constexpr int kMaxBroadcastAddresses = 40;
constexpr int kAddressTextSize = 20;
constexpr auto kPause = std::chrono::milliseconds(5);
// A host without a broadcast address asks again after this long instead of
// spinning; the wait ends early when the broadcast is stopped.
constexpr auto kNoAddressRetry = std::chrono::seconds(1);

constexpr int kPreamble[] = {1000, 1019, 1038, 1057};
constexpr int kFirstLengthBase = 450;
constexpr int kFirstCharBase = 450;
constexpr int kFirstPositionBase = 580;
constexpr int kSecondLengthBase = 620;
constexpr int kSecondCharBase = 620;
constexpr int kSecondPositionBase = 630;
constexpr int kChecksumBase = 690;
constexpr int kEndMark = 680;
constexpr int kPauseMark = 0;  // in a cycle: wait, send nothing
constexpr int kLongestDatagram = kSecondPositionBase + static_cast<int>(kTextCapacity);

// The characters count as signed bytes, as the module reads them.
int signed_char(char c)
{
    return static_cast<int8_t>(c);
}

// The lengths of one cycle, with kPauseMark where the sender pauses.
std::vector<int> cycle_lengths(const char *first, const char *second)
{
    const int first_length = static_cast<int>(std::strlen(first));
    const int second_length = static_cast<int>(std::strlen(second));
    uint32_t sum = static_cast<uint32_t>(first_length + second_length);
    std::vector<int> lengths(std::begin(kPreamble), std::end(kPreamble));
    lengths.insert(lengths.end(), {kFirstLengthBase + first_length, kFirstLengthBase + first_length, kPauseMark});
    for (int i = 0; i < first_length; ++i) {
        lengths.insert(lengths.end(), {kFirstCharBase + signed_char(first[i]), kFirstPositionBase + i, kPauseMark});
        sum += static_cast<uint32_t>(signed_char(first[i]));
    }
    lengths.insert(lengths.end(), {kSecondLengthBase + second_length, kSecondLengthBase + second_length, kPauseMark});
    for (int j = 0; j < second_length; ++j) {
        lengths.insert(lengths.end(), {kSecondCharBase + signed_char(second[j]), kSecondPositionBase + j, kPauseMark});
        sum += static_cast<uint32_t>(signed_char(second[j]));
    }
    const int checksum = static_cast<int>(sum % 255);
    lengths.insert(lengths.end(),
                   {kChecksumBase + checksum, kChecksumBase + checksum, kPauseMark, kEndMark, kPauseMark});
    return lengths;
}

// The one sender of the process. Created on first use and never destroyed,
// so its locks outlive every caller. Lock order: lifecycle, then wake_lock.
struct Sender {
    std::mutex lifecycle;  // Begin and End, one at a time
    std::mutex wake_lock;
    std::condition_variable wake;
    bool run = false;  // under wake_lock
    // Set before the thread starts and cleared only after it was joined.
    int socket = -1;
    std::vector<int> cycle;
    quarn_thread *thread = nullptr;

    bool running()
    {
        std::lock_guard<std::mutex> guard(wake_lock);
        return run;
    }

    // Waits, or returns at once when stopped. False when stopped.
    template <typename Duration>
    bool pause(Duration duration)
    {
        std::unique_lock<std::mutex> lock(wake_lock);
        return !wake.wait_for(lock, duration, [this] { return !run; });
    }
};

Sender &sender()
{
    static Sender *instance = new Sender;
    return *instance;
}

// False when the broadcast was stopped during the cycle.
bool send_cycle(Sender &s, const char *address, const std::vector<uint8_t> &payload)
{
    for (const int length : s.cycle) {
        if (length == kPauseMark) {
            if (!s.pause(kPause))
                return false;
        } else {
            if (!s.running())
                return false;
            quarn_udp_send_byips(s.socket, payload.data(), length, address, kSmartConfigPort);  // failures ignored
        }
    }
    return true;
}

void sender_main(void *argument)
{
    Sender &s = *static_cast<Sender *>(argument);
    const std::vector<uint8_t> payload(kLongestDatagram, '0');
    while (s.running()) {
        char addresses[kMaxBroadcastAddresses][kAddressTextSize];
        const int count = quarn_net_getbcastip(addresses, kMaxBroadcastAddresses);
        if (count == 0) {
            s.pause(kNoAddressRetry);
            continue;
        }
        for (int i = 0; i < count; ++i)
            if (!send_cycle(s, addresses[i], payload))
                break;
    }
}

// Looks no further than the buffer the text must fit.
bool fits(const char *text)
{
    return strnlen(text, kTextCapacity) < kTextCapacity;
}

}  // namespace

extern "C" {

int QRN_NET_SmartConfig_Begin(int /*reserved*/, const char *first, const char *second)
{
    if (!first || strnlen(first, kShortestFirstText) < kShortestFirstText || !fits(first))
        return QRN_ERR_FAILED;
    if (second && !fits(second))
        return QRN_ERR_FAILED;
    Sender &s = sender();
    std::lock_guard<std::mutex> guard(s.lifecycle);
    if (s.socket >= 0)
        return QRN_OK;
    const int socket = quarn_udp_create(kSmartConfigPort, 1);
    if (socket < 0)
        return QRN_ERR_FAILED;
    s.socket = socket;
    s.cycle = cycle_lengths(first, second ? second : kDefaultSecondText);
    {
        std::lock_guard<std::mutex> wake_guard(s.wake_lock);
        s.run = true;
    }
    s.thread = quarn_thread_create(sender_main, &s, 1);
    if (!s.thread) {
        {
            std::lock_guard<std::mutex> wake_guard(s.wake_lock);
            s.run = false;
        }
        quarn_socket_close(socket);
        s.socket = -1;
        return QRN_ERR_FAILED;
    }
    return QRN_OK;
}

int QRN_NET_SmartConfig_End(void)
{
    Sender &s = sender();
    std::lock_guard<std::mutex> guard(s.lifecycle);
    if (s.socket < 0)
        return QRN_OK;
    {
        std::lock_guard<std::mutex> wake_guard(s.wake_lock);
        s.run = false;
    }
    s.wake.notify_all();
    // The thread stops at its next datagram or pause; joining it before the
    // close means no datagram ever leaves on a reused descriptor.
    quarn_thread_destroy(s.thread);
    s.thread = nullptr;
    quarn_socket_close(s.socket);
    s.socket = -1;
    return QRN_OK;
}

}  // extern "C"
