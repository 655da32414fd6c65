// Everything the library knows about one connection. Internal: never
// exposed through the public header.
#pragma once

#include <atomic>
#include <cstdint>

#include "qrn_base.h"

constexpr uint32_t kContextTag = 0x19880328;
constexpr int kAddressKindIp = 1;
constexpr int kAddressKindDeviceId = 2;
constexpr int kDefaultCommandPort = 34674;
constexpr int kAddressSize = 20;
constexpr int kEncryptSize = 40;
constexpr int kUserSize = 40;
constexpr int kDeviceInfoSize = 44;

struct SessionQueues {
    quarn_queue *video = nullptr;
    quarn_queue *picture = nullptr;
    quarn_queue *audio = nullptr;
    quarn_queue *serial = nullptr;
    quarn_queue *paramchange = nullptr;
};

struct DeviceInformation {
    int valid = 0;
    uint8_t mac[6] = {};
    uint8_t record[kDeviceInfoSize] = {};
};

struct SessionContext {
    uint32_t tag = kContextTag;
    uint32_t id = 0;
    uint32_t protocol_version = 0;
    double protocol_version_decimal = 0;
    uint32_t token = 0;
    std::atomic<int> connected{0};
    int address_kind = 0;
    int trans_mode = 0;
    char address[kAddressSize] = {};
    char encrypt[kEncryptSize] = {};
    char user[kUserSize] = {};
    int p2p_session = -1;
    int max_relay_retries = 8;
    uint8_t handover = 0;
    int command_port = kDefaultCommandPort;
    int data_channel_up = 0;
    int listen_socket = -1;
    int data_socket = -1;
    quarn_timeval command_timeout{8, 0};
    quarn_timeval stream_timeout{4, 0};
    quarn_thread *receive_thread = nullptr;
    std::atomic<int> receive_running{0};
    uint32_t peer_max_frame = 0;
    DeviceInformation device_info;

    // Created once with the context and kept for its whole life.
    SessionQueues queues;
    quarn_mutex *command_lock = nullptr;
    quarn_mutex *video_lock = nullptr;
    quarn_mutex *gpio_lock = nullptr;
    quarn_cond *data_ready = nullptr;
};

// Holds a session's command lock for one scope.
class CommandLock {
public:
    explicit CommandLock(SessionContext *session) : mutex_(session->command_lock) { quarn_mutex_lock(mutex_); }
    ~CommandLock() { quarn_mutex_unlock(mutex_); }
    CommandLock(const CommandLock &) = delete;
    CommandLock &operator=(const CommandLock &) = delete;

private:
    quarn_mutex *mutex_;
};
