// Everything the library knows about one connection. Internal: never
// exposed through the public header.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "pending_wake.h"
#include "qrn_base.h"
#include "spare_elements.h"

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

constexpr uint32_t kMaxFramePayload = 1 << 20;  // frame header and data, video or picture
constexpr int kAudioBufferSize = 102400;
constexpr int kSerialBufferSize = 10240;
constexpr int kParamChangeAreaSize = 10240;
constexpr int kLastResponseSize = 4096;
constexpr int kStreamHeaderBufferSize = 512;
constexpr int kReadAheadSize = 16 * 1024;
constexpr int kP2pInitStringSize = 512;
constexpr int kP2pWindowSize = 100;
constexpr int kP2pPayloadSize = 2048;
constexpr int kMaxRelayRetries = 8;

struct FrameElement;

// A video or picture frame assembled straight into the element the caller
// will receive, so its bytes are copied once, from the socket. The element
// is allocated when the frame header is complete: one block per frame.
struct FrameAssembly {
    uint8_t frame_header[28] = {};
    FrameElement *element = nullptr;
    bool room_for_tables = false;
    bool discarding = false;  // the rest of a dropped frame is read and thrown away
    uint32_t fill = 0;        // payload bytes so far, frame header included
    uint32_t expected = 0;    // frame header plus its data length
};

// Where the receive thread reassembles fragments: fixed buffers, so no
// packet costs an allocation. Written by the receive thread only.
struct StreamAssembly {
    uint8_t header[kStreamHeaderBufferSize] = {};
    // P2P: bytes of the next header that a resynchronisation kept at the
    // start of header.
    uint32_t header_held = 0;
    FrameAssembly video;
    FrameAssembly picture;
    std::vector<uint8_t> audio = std::vector<uint8_t>(kAudioBufferSize);
    std::vector<uint8_t> serial = std::vector<uint8_t>(kSerialBufferSize);  // length word, then data
    std::vector<uint8_t> param_change = std::vector<uint8_t>(kParamChangeAreaSize);
    uint32_t audio_fill = 0;
    uint32_t serial_fill = 0;
    uint32_t param_change_length = 0;  // fill of param_change
    // One bit per block type (1 << type): the rest of a dropped block is
    // read past until a first fragment starts the next one.
    uint32_t blocks_discarding = 0;
    uint32_t last_response_length = 0;
    uint8_t last_response[kLastResponseSize] = {};
    // Bytes received from the data socket but not yet consumed: headers and
    // small packets are read many at a time.
    std::vector<uint8_t> read_ahead = std::vector<uint8_t>(kReadAheadSize);
    uint32_t ahead_begin = 0;
    uint32_t ahead_end = 0;
    PendingWake pending_wake;
};

// The answer being read from channel 1 of a P2P session. Kept between
// commands, so the bytes of an answer that came too late are read past.
struct P2pResponseReader {
    uint8_t window[kP2pWindowSize] = {};
    uint8_t payload[kP2pPayloadSize] = {};
    uint32_t header_held = 0;
    uint32_t payload_expected = 0;  // still to come
    uint32_t payload_held = 0;      // kept in payload; the rest of a longer one is read past
    uint32_t payload_length = 0;    // as the header announced it
    bool complete = false;

    void clear() { *this = P2pResponseReader(); }
};

// The video stream's running state and its rate figures. Only the receive
// thread writes the figures; a new start asks it to reset them through
// reset_requested, so no two threads write them at once. running and
// local_max_frame belong to the callers, who may call from any thread.
struct VideoStreamState {
    std::atomic<int> running{0};
    std::atomic<int> reset_requested{0};
    int64_t window_start_ms = 0;
    uint32_t window_frames = 0;
    uint32_t window_bytes = 0;
    uint32_t frames_per_second = 0;
    uint32_t bytes_per_second = 0;
    uint8_t key_frame_wait = 0;
    uint8_t key_frame_requested = 0;
    uint32_t last_sequence = 0;
    std::atomic<int> local_max_frame{100};

    void reset_figures()
    {
        window_start_ms = 0;
        window_frames = window_bytes = 0;
        frames_per_second = bytes_per_second = 0;
        key_frame_wait = key_frame_requested = 0;
        last_sequence = 0;
    }
};

constexpr int kAbilitySize = 400;
constexpr int kControlCount = 10;
constexpr int kControlSize = 32;
constexpr int kVideoInfoSize = kAbilitySize + kControlCount * kControlSize + 16;

// What the device last said about its video; filled on first use.
struct VideoCache {
    int valid = 0;
    uint8_t ability[kAbilitySize] = {};
    uint8_t controls[kControlCount * kControlSize] = {};
    uint32_t format = 0;
    uint32_t resolution = 0;
    uint32_t fps = 0;
    uint32_t max_fps = 0;
};

struct H264Cache {
    int valid = 0;
    int qp_quality = 0;
    int key_interval = 0;
    int stream_value = 0;
};

constexpr int kGpioBlockSize = 97;

// The audio family's flags. params_valid goes with audio_params and, like
// them, is read and written under cache_mutex.
struct AudioState {
    int params_valid = 0;
    std::atomic<int> running{0};
};

// The serial family's flags and the total it counts itself; the received
// counters are the receive thread's. params_valid goes with serial_params
// under cache_mutex.
struct SerialState {
    int params_valid = 0;
    std::atomic<int> open{0};
    std::atomic<uint32_t> sent_bytes{0};
};

// Who may touch what. Locks, always taken in this order and never held
// across an unbounded wait:
//   video_lock, gpio_lock  serialise the fills of their caches, so one
//                          caller asks the module; before command_lock.
//   command_lock           one command exchange or data send at a time;
//                          guards token, command_timeout, teardown_started.
//   cache_mutex            every cache the getters, setters and notices
//                          share: the fields marked "cache" below. Never
//                          held across I/O.
// Fields marked "connect" are written by the connect before the receive
// thread starts and only read afterwards; "receive" ones belong to the
// receive thread; atomics may be read by anyone.
struct SessionContext {
    uint32_t id = 0;                      // connect; the table lock guards it in the slot
    uint32_t protocol_version = 0;        // connect
    double protocol_version_decimal = 0;  // connect
    uint32_t token = 0;                   // connect, then command_lock
    std::atomic<int> connected{0};
    int address_kind = 0;                    // connect
    int trans_mode = 0;                      // connect
    char address[kAddressSize] = {};         // connect
    char encrypt[kEncryptSize] = {};         // connect, then cache (QRN_NET_SetEncrypt)
    char user[kUserSize] = {};               // connect
    int command_port = kDefaultCommandPort;  // connect
    // Peer-to-peer. The session handle is written by the connect and set to
    // -1 by the teardown or the switch once nothing reads it any more.
    int p2p_session = -1;
    char p2p_init_string[kP2pInitStringSize] = {};  // connect
    int max_relay_retries = kMaxRelayRetries;       // connect
    P2pResponseReader p2p_reader;                   // command_lock
    // Set while the transport switch is replacing this session: its stream
    // then ends without announcing a loss. stream_lost records that it did,
    // so a switch that gives up can announce it after all.
    std::atomic<int> handover_mark{0};
    std::atomic<int> stream_lost{0};
    // The stream sockets (LAN). socket_mutex guards listen_socket,
    // data_socket and the send fields below; data_channel_up is written
    // under it and may be read without it. The receive thread reads the
    // socket numbers unlocked: besides the teardown (after that thread has
    // ended) it is their only writer. A sender never keeps socket_mutex
    // while it sends: it marks the socket as in use, and a closer that finds
    // it so only shuts it down (which wakes the sender) and leaves the close
    // to the sender, so the number is never reused under a send.
    std::atomic<int> data_channel_up{0};
    int listen_socket = -1;
    int data_socket = -1;
    int data_send_in_flight = 0;
    int retired_data_socket = -1;            // shut down during a send; the sender closes it
    int data_send_out_of_step = 0;           // a send stopped inside a packet on this data socket
    quarn_timeval command_timeout{8, 0};     // command_lock
    quarn_timeval stream_timeout{4, 0};      // receive
    quarn_thread *receive_thread = nullptr;  // connect and teardown
    std::atomic<int> receive_running{0};
    uint32_t peer_max_frame = 10;   // cache
    DeviceInformation device_info;  // cache

    StreamAssembly stream;         // receive
    SpareElements spare_elements;  // locks itself: shared by the receive thread and the release calls
    VideoStreamState video;        // see its own note
    VideoCache video_cache;        // cache
    H264Cache h264_cache;          // cache
    std::mutex cache_mutex;
    // Guards the stream sockets: see listen_socket. Taken after the command
    // lock, never before it, and never held across a wait.
    std::mutex socket_mutex;
    int teardown_started = 0;                        // command_lock
    uint32_t audio_params[3] = {};                   // cache, with audio.params_valid
    uint32_t serial_params[5] = {};                  // cache, with serial.params_valid
    uint8_t gpio_block[kGpioBlockSize] = {};         // cache, with gpio_valid
    int gpio_valid = 0;                              // cache
    std::atomic<uint32_t> serial_received_bytes{0};  // written by the receive thread
    std::atomic<uint32_t> serial_cache_size{0};
    AudioState audio;
    SerialState serial;

    // Created once with the context and kept for its whole life.
    SessionQueues queues;
    quarn_mutex *command_lock = nullptr;
    quarn_mutex *video_lock = nullptr;
    quarn_mutex *gpio_lock = nullptr;
    quarn_cond *data_ready = nullptr;
};

// Holds one of a session's base-library locks for one scope.
class SessionLock {
public:
    explicit SessionLock(quarn_mutex *mutex) : mutex_(mutex) { quarn_mutex_lock(mutex_); }
    ~SessionLock() { quarn_mutex_unlock(mutex_); }
    SessionLock(const SessionLock &) = delete;
    SessionLock &operator=(const SessionLock &) = delete;

private:
    quarn_mutex *mutex_;
};

// The lock taken most: one command exchange or data send at a time.
struct CommandLock : SessionLock {
    explicit CommandLock(SessionContext *session) : SessionLock(session->command_lock) {}
};
