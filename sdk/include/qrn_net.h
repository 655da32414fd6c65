/*
 * QRN_NET: the device-link SDK for the inspection probe's WiFi camera module.
 *
 * One header, plain C (C99 or later, or C++). Every call that addresses a
 * device takes a session handle first and returns 0 (or a documented
 * positive value) on success, or one of the negative qrn_result codes below.
 *
 * Threads. No initialisation call is needed and every call may be made from
 * any thread. Calls on different sessions never wait for each other. On one
 * session, calls may run at once from several threads: its commands take
 * turns (one exchange with the module at a time), and QRN_NET_Poll, the
 * Request and Release calls may run beside them. A stream element belongs
 * to the caller from its Request call until its Release call; hand it to
 * one thread at a time. After QRN_NET_Disconnect a handle must not be used
 * again: once QRN_NET_WaitDisconnected has returned 0, a new connect may
 * reuse the same number for another session. The discovery calls and the
 * SmartConfig calls each serve the whole process; their Init/Begin and
 * UnInit/End may be called from any thread, one at a time.
 */
#ifndef QRN_NET_H
#define QRN_NET_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QRN_NET_BUILDING)
#    define QRN_API __declspec(dllexport)
#  else
#    define QRN_API __declspec(dllimport)
#  endif
#else
#  define QRN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library version ----------------------------------------------------- */

#define QRN_NET_VERSION_MAJOR 1
#define QRN_NET_VERSION_MINOR 0
#define QRN_NET_VERSION_PATCH 0
/** The three numbers in one: major << 16 | minor << 8 | patch, for #if tests. */
#define QRN_NET_VERSION ((QRN_NET_VERSION_MAJOR << 16) | (QRN_NET_VERSION_MINOR << 8) | QRN_NET_VERSION_PATCH)

/**
 * The version of the library actually loaded, packed as QRN_NET_VERSION, so
 * a program can tell it from the header it was built with. (The module's own
 * protocol version is QRN_NET_GetVersion.)
 */
QRN_API int QRN_NET_GetLibraryVersion(void);

/* The enums and records below keep their member comments aligned as tables. */
/* clang-format off */

/* ---- result codes ------------------------------------------------------ */

/**
 * Result codes shared by every call.
 *
 * Argument faults have one code per kind: a NULL pointer gives
 * QRN_ERR_NULL_POINTER, a string that is empty or does not fit its field
 * QRN_ERR_BAD_STRING. Where the protocol's established callers rely on
 * another code, that code stays and the call's comment names it: NULL
 * outputs of QRN_NET_GetCompany, the serial, GPIO, I2C, wireless and
 * window calls and QRN_NET_Device_GetId give QRN_ERR_FAILED, as do a
 * control text out of range and the wireless range checks; a video control
 * index above 9 gives QRN_ERR_NULL_POINTER. Argument checks run before the
 * handle is looked at unless the call's comment says otherwise.
 */
enum qrn_result {
    QRN_OK = 0,
    QRN_ERR_FAILED = -1,          /**< failure, or nonzero device status */
    QRN_ERR_TIMEOUT = -2,         /**< time-out */
    QRN_ERR_IO = -4,              /**< send or receive failure */
    QRN_ERR_CLOSED = -6,          /**< connection closed, or session not connected */
    QRN_ERR_INVALID_HANDLE = -7,  /**< invalid session handle */
    QRN_ERR_OTHER_SESSION = -8,   /**< packet carries another session's token */
    QRN_ERR_MALFORMED = -9,       /**< wrong magic or code, short packet */
    QRN_ERR_LISTEN = -10,         /**< the host data port cannot listen */
    QRN_ERR_P2P_CONNECT = -11,    /**< peer-to-peer connect failure */
    QRN_ERR_CONNECT = -12,        /**< connect failure */
    QRN_ERR_LOGIN_REFUSED = -13,  /**< the device refused the login */
    QRN_ERR_BAD_STRING = -14,     /**< argument string empty or too long */
    QRN_ERR_NULL_POINTER = -15,   /**< NULL pointer argument */
    QRN_ERR_NO_SLOT = -16,        /**< all 16 session slots are in use */
    QRN_ERR_TOO_LONG = -17        /**< an answer does not fit the caller's buffer */
};

/** A short English text for a result code ("time-out", ...); never NULL. */
QRN_API const char *QRN_NET_StrError(int code);

/**
 * Turns the library's trace lines on standard output on (nonzero, the
 * default) or off, for every session. Setting QRN_NET_TRACE=0 in the
 * environment silences them too, whatever this call said. Bytes from a
 * module or a payload are traced escaped (\xNN), never raw. Returns 0.
 */
QRN_API int QRN_NET_SetTrace(int on);

/* ---- records ----------------------------------------------------------- */

/** FrameHeader.format and VideoParam.format. */
enum qrn_frame_format {
    QRN_FORMAT_YUYV = 1,  /**< raw YUYV 4:2:2 */
    QRN_FORMAT_JPEG = 2,  /**< Motion-JPEG, one JPEG picture per frame */
    QRN_FORMAT_H264 = 3   /**< H.264 elementary stream */
};

/** Sub-types of parameter-change notices (QRN_NET_GetParamChangeType). */
enum qrn_param_change {
    QRN_PARAM_ABILITY = 0,         /**< the 400-byte ability table */
    QRN_PARAM_VIDEO = 1,           /**< format, resolution, fps, max fps */
    QRN_PARAM_VIDEO_CTRL = 2,      /**< one control: index, then its 32 bytes */
    QRN_PARAM_AUDIO = 3,           /**< AudioParam */
    QRN_PARAM_SERIAL = 4,          /**< SerialParam */
    QRN_PARAM_GPIO = 5,            /**< GpioTable */
    QRN_PARAM_VIDEO_CTRL_ALL = 6,  /**< all ten controls */
    QRN_PARAM_VIDEO_INFO = 7,      /**< ability table, controls and the four video words */
    QRN_PARAM_H264 = 8,            /**< H.264 QP, key-frame interval, rate figure */
    QRN_PARAM_PEER_MAX_FRAME = 9,  /**< the module's frame limit */
    QRN_PARAM_NO_CHANGE = 160      /**< a notice that changes no setting */
};

enum qrn_trans_mode {
    TRANS_LAN = 1,   /**< TCP on the local network */
    TRANS_P2P = 2,   /**< direct peer-to-peer */
    TRANS_RELAY = 3  /**< peer-to-peer relayed through the server */
};

/** Header of a video or picture frame, as the device sends it. */
typedef struct FrameHeader {
    uint32_t reserved0;
    uint32_t format;       /**< 1 raw YUYV 4:2:2, 2 JPEG, 3 H.264 */
    uint32_t resolution;   /**< width << 16 | height */
    uint32_t sequence;     /**< frame sequence number */
    uint8_t key_frame;     /**< nonzero for an H.264 key frame */
    uint8_t reserved1[3];
    uint32_t reserved2;
    uint32_t length;       /**< bytes of frame data that follow */
} FrameHeader;

/** A frame handed to the caller: rate figures, header, then data. */
typedef struct FrameElement {
    uint32_t window_frames;  /**< frames in the last one-second window */
    uint32_t window_bytes;   /**< bytes in the last one-second window */
    FrameHeader header;
    uint8_t data[1];         /**< header.length bytes */
} FrameElement;

/** The frame header of an element. */
static inline const FrameHeader *QRN_FrameElement_Header(const FrameElement *element)
{
    return &element->header;
}

/** The header.length bytes of frame data of an element. */
static inline const uint8_t *QRN_FrameElement_Data(const FrameElement *element)
{
    return element->data;
}

/**
 * The header.length bytes of frame data after a header from
 * QRN_NET_Video_RequestVideoData(2) or QRN_NET_Video_RequestPicData: they
 * follow the header directly.
 */
static inline const uint8_t *QRN_FrameHeader_Data(const FrameHeader *header)
{
    return (const uint8_t *)(header + 1);
}

/** One picture control, eight words as the device sends them. */
typedef struct VideoCtrlEntry {
    int32_t present;        /**< nonzero when the device has this control */
    int32_t minimum;
    int32_t current;        /**< set by the caller */
    int32_t maximum;
    int32_t reserved16;     /**< the device's own */
    int32_t default_value;
    int32_t reserved24;     /**< the device's own; the viewer clears mode when it is nonzero */
    int32_t mode;           /**< set by the caller, sent with current */
} VideoCtrlEntry;

/** The four current video settings, as VideoInfoBlock offsets 720..735 hold them. */
typedef struct VideoParam {
    uint32_t format;      /**< 1 raw YUYV 4:2:2, 2 Motion-JPEG, 3 H.264 */
    uint32_t resolution;  /**< width << 16 | height */
    uint32_t fps;         /**< current frame rate */
    uint32_t max_fps;     /**< highest rate for this format and size */
} VideoParam;

/** What identifies a module: numeric ID, alias and the address it was reached at. */
typedef struct DeviceInfo {
    uint32_t id;
    char alias[20];    /**< NUL-terminated */
    char address[20];  /**< dotted IPv4 address or device ID, NUL-terminated */
} DeviceInfo;

/** One general-purpose pin. */
typedef struct GpioEntry {
    uint8_t pin;
    uint8_t mode;
    uint8_t level;
} GpioEntry;

/** The module's pin table: entry i describes pin i. */
typedef struct GpioTable {
    uint8_t count;
    GpioEntry entries[32];
} GpioTable;

/** An I2C transfer: 4 control bytes, then 128 data bytes, as the module defines them. */
typedef struct I2cBlock {
    uint8_t control[4];
    uint8_t data[128];
} I2cBlock;

/** The module's audio format. */
typedef struct AudioParam {
    uint32_t sample_frequency;  /**< samples per second */
    uint32_t channels;
    uint32_t bits;              /**< A/D converter width */
} AudioParam;

/** The module's serial line settings, encoded as the module defines them. */
typedef struct SerialParam {
    uint32_t speed;
    uint32_t data_bits;
    uint32_t stop_bits;
    uint32_t parity;
    uint32_t timeout;
} SerialParam;

/** A wireless network: name and passphrase, each NUL-terminated within 40 bytes. */
typedef struct WirelessConfig {
    char ssid[40];
    char passphrase[40];
} WirelessConfig;

/** One module found on the local network. */
typedef struct ScanDeviceInfo {
    uint32_t id;
    char alias[20];    /**< NUL-terminated */
    char address[20];  /**< the sender's dotted IPv4 address */
} ScanDeviceInfo;

/** ScanDeviceInfo followed by 64 reserved bytes (zero). */
typedef struct ScanDeviceInformation {
    ScanDeviceInfo info;
    uint8_t reserved[64];
} ScanDeviceInformation;

/* clang-format on */

/** Records in the discovery table; a reader's buffer holds this many. */
#define QRN_SCAN_MAX_DEVICES 50

/* Layout checks: C++11 and C11 have them built in; a C99 compiler gets a
 * typedef of an array whose size is negative when the check fails. */
#if defined(__cplusplus)
#  define QRN_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define QRN_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
#  define QRN_STATIC_ASSERT_NAME(line) QRN_STATIC_ASSERT_JOIN(qrn_static_assert_line_, line)
#  define QRN_STATIC_ASSERT_JOIN(prefix, line) prefix##line
#  define QRN_STATIC_ASSERT(condition, message) typedef char QRN_STATIC_ASSERT_NAME(__LINE__)[(condition) ? 1 : -1]
#endif
QRN_STATIC_ASSERT(sizeof(FrameHeader) == 28, "FrameHeader is 28 bytes");
QRN_STATIC_ASSERT(offsetof(FrameHeader, length) == 24, "FrameHeader length at 24");
QRN_STATIC_ASSERT(offsetof(FrameElement, header) == 8, "FrameElement header at 8");
QRN_STATIC_ASSERT(offsetof(FrameElement, data) == 36, "FrameElement data at 36");
QRN_STATIC_ASSERT(sizeof(VideoCtrlEntry) == 32, "VideoCtrlEntry is 32 bytes");
QRN_STATIC_ASSERT(sizeof(VideoParam) == 16, "VideoParam is 16 bytes");
QRN_STATIC_ASSERT(sizeof(DeviceInfo) == 44, "DeviceInfo is 44 bytes");
QRN_STATIC_ASSERT(sizeof(GpioEntry) == 3, "GpioEntry is 3 bytes");
QRN_STATIC_ASSERT(sizeof(GpioTable) == 97, "GpioTable is 97 bytes");
QRN_STATIC_ASSERT(sizeof(I2cBlock) == 132, "I2cBlock is 132 bytes");
QRN_STATIC_ASSERT(sizeof(AudioParam) == 12, "AudioParam is 12 bytes");
QRN_STATIC_ASSERT(sizeof(SerialParam) == 20, "SerialParam is 20 bytes");
QRN_STATIC_ASSERT(sizeof(WirelessConfig) == 80, "WirelessConfig is 80 bytes");
QRN_STATIC_ASSERT(sizeof(ScanDeviceInfo) == 44, "ScanDeviceInfo is 44 bytes");
QRN_STATIC_ASSERT(sizeof(ScanDeviceInformation) == 108, "ScanDeviceInformation is 108 bytes");

/* ---- sessions ---------------------------------------------------------- */

/**
 * Connects to a module and logs in.
 * address: a dotted IPv4 address, or a device ID (6 to 12 characters are a
 * short ID and expanded). encrypt: access string, up to 31 characters, or NULL.
 * Returns 0 connected over the LAN, 1 over peer-to-peer, or QRN_ERR_NO_SLOT,
 * QRN_ERR_TIMEOUT (the module did not take the connection within 2.5 s, or
 * did not answer the login within 2 s), QRN_ERR_IO, QRN_ERR_CONNECT,
 * QRN_ERR_LOGIN_REFUSED, QRN_ERR_LISTEN (also when no local port pair can be
 * bound, for instance with every descriptor in use), QRN_ERR_P2P_CONNECT,
 * QRN_ERR_CLOSED, QRN_ERR_FAILED, QRN_ERR_BAD_STRING (a string longer than
 * its field), QRN_ERR_NULL_POINTER.
 */
QRN_API int QRN_NET_ConnectDevice(int *handle_out, const char *address, const char *encrypt);
/** As QRN_NET_ConnectDevice on a given command port (0 or less: 34674). */
QRN_API int QRN_NET_ConnectDeviceIndex(int *handle_out, const char *address, int port, const char *encrypt);
/** As QRN_NET_ConnectDeviceIndex with a user name (NULL: "SQRN", up to 39 characters). */
QRN_API int QRN_NET_ConnectDeviceUser(int *handle_out, const char *address, int port, const char *user,
                                      const char *encrypt);
/**
 * Starts the teardown of a session on its own thread (logout, sockets
 * closed, slot freed); always returns 0 at once.
 */
QRN_API int QRN_NET_Disconnect(int handle);
/**
 * Waits up to timeout_ms until the teardown that QRN_NET_Disconnect started
 * for handle has finished. Returns 0 when it has, or when none is under way
 * (an unused or never disconnected handle), QRN_ERR_TIMEOUT when the time
 * ran out, QRN_ERR_INVALID_HANDLE for a number that was never a handle.
 */
QRN_API int QRN_NET_WaitDisconnected(int handle, unsigned timeout_ms);
/** Allows (nonzero) or forbids a relayed session to be replaced by a direct one. Returns 0. */
QRN_API int QRN_NET_ForceP2PTransSwitch(int enable);
/** Writes the transport mode (TRANS_LAN, TRANS_P2P, TRANS_RELAY). QRN_ERR_NULL_POINTER first, then QRN_ERR_INVALID_HANDLE. */
QRN_API int QRN_NET_GetTransMode(int handle, int *mode_out);
/** Copies the session's access string with its NUL into out (40 bytes). QRN_ERR_NULL_POINTER, QRN_ERR_INVALID_HANDLE. */
QRN_API int QRN_NET_GetEncrypt(int handle, char *out);
/**
 * Sets the module's access string (1 to 64 characters; the session keeps up
 * to 39). QRN_ERR_BAD_STRING before the handle is looked at, then
 * QRN_ERR_INVALID_HANDLE, else the command result.
 */
QRN_API int QRN_NET_SetEncrypt(int handle, const char *encrypt);
/** Size of the buffer QRN_NET_GetCompany writes to. */
#define QRN_NET_COMPANY_SIZE 256
/**
 * Reads the module's company name, NUL-terminated, into out, which holds
 * QRN_NET_COMPANY_SIZE bytes. QRN_ERR_FAILED for NULL out, QRN_ERR_TOO_LONG
 * when the name does not fit (out is then untouched), else the command result.
 */
QRN_API int QRN_NET_GetCompany(int handle, char *out);
/** Stores a 256-byte block on the module. QRN_ERR_NULL_POINTER, QRN_ERR_INVALID_HANDLE, command result. */
QRN_API int QRN_NET_SetCustom(int handle, const void *block);
/** Sends the 256-byte block and writes the module's 256-byte answer back into it. */
QRN_API int QRN_NET_GetCustom(int handle, void *block);
/** Sets the password that the module's discovery answers echo. */
QRN_API int QRN_NET_SetBcastEchoPasswd(int handle, uint32_t value);

/* ---- stream reception --------------------------------------------------- */

/** Flags of QRN_NET_Poll. POLL_SERIAL is the value 0x0F (bits 0 to 3), so a
 * caller testing POLL_VIDEO alone also sees pending serial data. */
#define POLL_VIDEO 0x01
#define POLL_PICTURE 0x04
#define POLL_AUDIO 0x08
#define POLL_SERIAL 0x0F
#define POLL_PARAM 0x10

/**
 * Reports in *flags_out which queues hold something, waiting up to timeout_ms
 * for data. 0 with flags; QRN_ERR_TIMEOUT when nothing came; QRN_ERR_FAILED
 * when woken without data; QRN_ERR_CLOSED when the session is not connected
 * or ended during the wait; QRN_ERR_INVALID_HANDLE.
 */
QRN_API int QRN_NET_Poll(int handle, int *flags_out, unsigned timeout_ms);
/** Removes the oldest parameter-change notice and writes its sub-type. QRN_ERR_FAILED when none waits. */
QRN_API int QRN_NET_GetParamChangeType(int handle, int *type_out);
/**
 * Points *data_out at the data of the last parameter-change notice (after its
 * sub-type word; owned by the library, valid until the next notice) and
 * writes its length in bytes.
 */
QRN_API int QRN_NET_GetCmdResponse(int handle, int *length_out, void **data_out);

/* ---- video stream -------------------------------------------------------- */

/** Starts the device's video (empties the video and picture queues first). 0 also when already running. */
QRN_API int QRN_NET_Video_Begin(int handle);
/** Stops the video. QRN_ERR_FAILED when it is not running. Queued frames stay. */
QRN_API int QRN_NET_Video_End(int handle);
/**
 * Takes the oldest video frame; *frame points at its header, whose words at
 * offsets 12 and 16 are replaced by the frames and bytes per second. Give it
 * back with QRN_NET_Video_ReleaseVideoData. QRN_ERR_FAILED when none waits.
 */
QRN_API int QRN_NET_Video_RequestVideoData(int handle, FrameHeader **frame);
/** As QRN_NET_Video_RequestVideoData; *remaining (may be NULL) = frames still queued. */
QRN_API int QRN_NET_Video_RequestVideoData2(int handle, FrameHeader **frame, int *remaining);
/** Takes the oldest video frame whole, header unchanged. Give it back with QRN_NET_Video_ReleaseVideoData1. */
QRN_API int QRN_NET_Video_RequestVideoData1(int handle, FrameElement **element, int *remaining);
/** Frees a frame from QRN_NET_Video_RequestVideoData(2). QRN_ERR_NULL_POINTER for NULL. */
QRN_API int QRN_NET_Video_ReleaseVideoData(int handle, FrameHeader *frame);
/** Frees an element from QRN_NET_Video_RequestVideoData1. QRN_ERR_NULL_POINTER for NULL. */
QRN_API int QRN_NET_Video_ReleaseVideoData1(int handle, FrameElement *element);
/** Takes the oldest still picture, as QRN_NET_Video_RequestVideoData (rate words 0). */
QRN_API int QRN_NET_Video_RequestPicData(int handle, FrameHeader **picture);
/** Frees a picture from QRN_NET_Video_RequestPicData. QRN_ERR_NULL_POINTER for NULL. */
QRN_API int QRN_NET_Video_ReleasePicData(int handle, FrameHeader *picture);
/** Asks the device for a still picture; it arrives on the picture queue. */
QRN_API int QRN_NET_Video_SnapShot(int handle);
/** Sets the size of still pictures (a resolution code). */
QRN_API int QRN_NET_Video_SnapShotResolu(int handle, uint32_t resolution);
/** Sets the JPEG quality of still pictures, clamped to 30..90. */
QRN_API int QRN_NET_Video_SnapShotQuality(int handle, uint32_t quality);
QRN_API int QRN_NET_Video_GetCurVideoFrameNum(int handle, int *count);
QRN_API int QRN_NET_Video_GetCurPictureFrameNum(int handle, int *count);
/** The capacity of the video queue (100 at first). */
QRN_API int QRN_NET_Video_GetLocalMaxFrameNum(int handle, int *value);
/** Changes the capacity of the video queue. QRN_ERR_FAILED when the queue refuses it. */
QRN_API int QRN_NET_Video_SetLocalMaxFrameNum(int handle, int value);
/** The device's own frame limit, as it last reported it. */
QRN_API int QRN_NET_Video_GetPeerMaxFrameNum(int handle, int *value);
/** Asks the device to change its frame limit; the stored figure follows the device's notice. */
QRN_API int QRN_NET_Video_SetPeerMaxFrameNum(int handle, int value);

/* ---- video parameters ---------------------------------------------------- */

/*
 * Cached getters. The first video getter after a connect asks the device for
 * its whole video information (0x1000); the first H.264 getter asks for the
 * three H.264 values. Later calls, and the device's notices, keep the caches.
 * Each returns 0, QRN_ERR_NULL_POINTER for a NULL out (tested before the
 * handle), QRN_ERR_INVALID_HANDLE, or the code of the failed request; a
 * failed request leaves the cache empty, so the next getter asks again.
 * QRN_ERR_MALFORMED for a video information answer that is not 736 bytes
 * long, or an H.264 answer that is not one 4-byte word.
 */
/** Copies the 400-byte ability table (four formats, twelve {size, max fps} pairs each). */
QRN_API int QRN_NET_Video_GetAbility(int handle, void *out);
/** Copies control index 0..9; an index above 9 gives QRN_ERR_NULL_POINTER (-15), tested after the fill. */
QRN_API int QRN_NET_Video_GetVideoCtrl(int handle, uint32_t index, VideoCtrlEntry *out);
QRN_API int QRN_NET_Video_GetFormat(int handle, int *out);
QRN_API int QRN_NET_Video_GetResolu(int handle, int *out);
QRN_API int QRN_NET_Video_GetFPS(int handle, int *out);
QRN_API int QRN_NET_Video_GetParam(int handle, VideoParam *out);
QRN_API int QRN_NET_Video_GetH264KeyInter(int handle, int *out);
/** H.264 quality on a 0..100 scale (higher is better). */
QRN_API int QRN_NET_Video_GetH264QpValue(int handle, int *out);
QRN_API int QRN_NET_Video_GetH264Stream(int handle, int *out);

/* Asked of the device each time. */
/**
 * Reads the 16-byte YUYV window into rect. QRN_ERR_FAILED for NULL rect
 * (before the handle), QRN_ERR_INVALID_HANDLE, QRN_ERR_TOO_LONG for a longer
 * answer (rect untouched), else the command result.
 */
QRN_API int QRN_NET_Video_GetRectYuyv(int handle, void *rect);
/** Reads the 16-byte crop window, as QRN_NET_Video_GetRectYuyv. */
QRN_API int QRN_NET_Video_GetCROP(int handle, void *rect);
/**
 * Reads the JPEG quality. QRN_ERR_NULL_POINTER for NULL out (before the
 * handle), QRN_ERR_TOO_LONG for an answer longer than 4 bytes.
 */
QRN_API int QRN_NET_Video_GetQuality(int handle, int *out);

/*
 * Setters: each waits for the device and returns 0, QRN_ERR_INVALID_HANDLE,
 * an argument code given below, or the command result. A refused setting
 * leaves the caches as they were.
 */
/**
 * Sets control index (0..9) to entry->current with entry->mode; the rest of
 * the entry comes from the cache, which then holds what was sent.
 * QRN_ERR_NULL_POINTER for NULL entry (before the handle) or an index above 9,
 * QRN_ERR_FAILED, with nothing sent, when the control is absent or not yet read.
 */
QRN_API int QRN_NET_Video_SetVideoCtrl(int handle, uint32_t index, const VideoCtrlEntry *entry);
/** Sets the format (1 YUYV, 2 Motion-JPEG, 3 H.264); queued frames are dropped. */
QRN_API int QRN_NET_Video_SetFormat(int handle, uint32_t format);
/**
 * Sets the frame size; the cached frame rate and its maximum follow what the
 * size allows in the current format, and queued frames are dropped.
 */
QRN_API int QRN_NET_Video_SetResolu(int handle, uint32_t resolution);
QRN_API int QRN_NET_Video_SetFPS(int handle, uint32_t fps);
/** Returns every present control to its default value. */
QRN_API int QRN_NET_Video_ResetVCtrl(int handle);
/*
 * The three H.264 setters update the cache only for devices before version
 * 4.0; later devices report their settings themselves.
 */
/** Key-frame interval, clamped to 1..300. */
QRN_API int QRN_NET_Video_SetH264KeyInter(int handle, uint32_t interval);
/** H.264 quality 0..100 (above 100: 100), sent as the encoder QP (100 - q) / 5 + 20. */
QRN_API int QRN_NET_Video_SetH264QpValue(int handle, uint32_t quality);
/** Encoder rate figure, clamped to 1..100000. */
QRN_API int QRN_NET_Video_SetH264Stream(int handle, uint32_t value);
/** JPEG quality, clamped to 30..90. */
QRN_API int QRN_NET_Video_SetQuality(int handle, uint32_t quality);
/** Turns the device's frame-rate limit on (nonzero) or off. */
QRN_API int QRN_NET_Video_SetFpsLimit(int handle, int on);
/** Asks for an H.264 key frame. */
QRN_API int QRN_NET_Video_SetForceI(int handle);
/** Rotation in degrees, snapped to 0, 90, 180 or 270 (360 and above, and 0 and below: 0). */
QRN_API int QRN_NET_Video_SetVideoRotation(int handle, int angle);
/** Sends the 16-byte YUYV window. QRN_ERR_FAILED for NULL rect, before the handle. */
QRN_API int QRN_NET_Video_SetRectYuyv(int handle, const void *rect);
/** Sends the 16-byte crop window. QRN_ERR_FAILED for NULL rect, before the handle. */
QRN_API int QRN_NET_Video_SetCROP(int handle, const void *rect);
/** Sends a raw 70-byte extension-unit control block. QRN_ERR_NULL_POINTER for NULL, before the handle. */
QRN_API int QRN_NET_Video_SetXuCtrl(int handle, const void *block);

/* ---- JPEG and resolution helpers (no session) ------------------------- */

/**
 * Turns on (nonzero) or off the insertion of the standard Huffman tables into
 * Motion-JPEG frames that arrive without them. Off at load; applies to every
 * session. Returns the new setting, 0 or 1.
 */
QRN_API int QRN_Video_JpegFrameHuffmanCheck(int enable);
/** Packs a frame size: (width << 16) | (height & 0xFFFF); width bits above 15 are shifted out. */
QRN_API int QRN_Video_GroupResolu(int width, int height);
/** Unpacks a resolution code into width and height (each 0..65535). The pointers are not checked. */
QRN_API void QRN_Video_AnalysisResolu(int code, int *width, int *height);

/* ---- G.711 codecs (no session, no state) --------------------------------- */

/*
 * in and out must not overlap. The encoders are symmetric: a negative sample
 * gets the code of its magnitude with bit 7 cleared, and -32768 is coded as
 * -32767.
 */

/**
 * Decodes count A-law codes into count samples. Returns 2 * count (bytes
 * written); 0, writing nothing, when count <= 0 or 2 * count does not fit in an int.
 */
QRN_API int QRN_Coder_G711a_Decode(int16_t *out, const uint8_t *in, int count);
/** As QRN_Coder_G711a_Decode for mu-law; the zero codes 0xFF and 0x7F give +2 and -2. */
QRN_API int QRN_Coder_G711u_Decode(int16_t *out, const uint8_t *in, int count);
/** Encodes in_bytes / 2 samples into as many A-law codes and returns that number (0 when none). */
QRN_API int QRN_Coder_G711a_Encode(uint8_t *out, const int16_t *in, int in_bytes);
/** Encodes in_bytes / 2 samples into as many mu-law codes and returns that number (0 when none). */
QRN_API int QRN_Coder_G711u_Encode(uint8_t *out, const int16_t *in, int in_bytes);

/* ---- audio ----------------------------------------------------------------- */

/*
 * Getters ask the module once (0x2002), then answer from the cache, which
 * the module's notices keep current and every connect empties. Each returns
 * 0, QRN_ERR_INVALID_HANDLE, QRN_ERR_NULL_POINTER for a NULL out (nothing is
 * asked), QRN_ERR_MALFORMED for an answer that is not 12 bytes, or the code
 * of the failed request; a failed request leaves the cache empty, so the
 * next getter asks again.
 */
QRN_API int QRN_NET_Audio_GetSampleFreq(int handle, int *out);
QRN_API int QRN_NET_Audio_GetChannel(int handle, int *out);
QRN_API int QRN_NET_Audio_GetADBits(int handle, int *out);
QRN_API int QRN_NET_Audio_GetParam(int handle, AudioParam *out);
/* The audio format cannot be changed: these always return QRN_ERR_FAILED and send nothing. */
QRN_API int QRN_NET_Audio_SetSampleFreq(int handle, uint32_t value);
QRN_API int QRN_NET_Audio_SetADBits(int handle, uint32_t value);
QRN_API int QRN_NET_Audio_SetChannel(int handle, uint32_t value);
QRN_API int QRN_NET_Audio_SetParam(int handle, const AudioParam *param);
/** Starts the module's audio (empties the audio queue first); 0 also when running, else the command result. */
QRN_API int QRN_NET_Audio_Begin(int handle);
/** Stops the audio; QRN_ERR_FAILED when it is not running, else the command result. Queued blocks stay. */
QRN_API int QRN_NET_Audio_End(int handle);
/**
 * Takes the oldest received audio block (the module's bytes as sent; their
 * number is the module's framing); free it with QRN_NET_Audio_ReleaseData.
 * QRN_ERR_FAILED when none waits, QRN_ERR_NULL_POINTER for NULL block.
 */
QRN_API int QRN_NET_Audio_RequestData(int handle, void **block);
/** Frees a block from QRN_NET_Audio_RequestData; QRN_ERR_FAILED for NULL. */
QRN_API int QRN_NET_Audio_ReleaseData(int handle, void *block);
/**
 * Sends length bytes of audio to the module as one stream packet. Returns
 * 0 once the whole packet went out, or:
 *   QRN_ERR_INVALID_HANDLE  unknown handle;
 *   QRN_ERR_NULL_POINTER    NULL data or a negative length (tested after
 *                           the handle);
 *   QRN_ERR_FAILED          the audio is not running, the stream connection
 *                           is down, or the send failed;
 *   QRN_ERR_TIMEOUT         the module did not take the packet within the
 *                           stream time-out (4 s);
 *   QRN_ERR_IO              a send stopped part-way through a packet earlier
 *                           on this stream connection: the module would read
 *                           the next bytes out of step, so nothing more is
 *                           sent until it connects again.
 */
QRN_API int QRN_NET_Audio_SendData(int handle, const void *data, int length);

/* ---- serial pass-through ------------------------------------------------------ */

/*
 * Getters ask the module once (0x3001), then answer from the cache, which
 * the setters and the module's notices keep current and every connect
 * empties. Each returns 0, QRN_ERR_INVALID_HANDLE, QRN_ERR_FAILED for a NULL
 * out (nothing is asked), QRN_ERR_MALFORMED for an answer that is not 20
 * bytes, or the code of the failed request, which leaves the cache empty.
 */
QRN_API int QRN_NET_Serial_GetSpeed(int handle, int *out);
QRN_API int QRN_NET_Serial_GetDataBit(int handle, int *out);
QRN_API int QRN_NET_Serial_GetStopBit(int handle, int *out);
QRN_API int QRN_NET_Serial_GetParity(int handle, int *out);
QRN_API int QRN_NET_Serial_GetTimeout(int handle, int *out);
QRN_API int QRN_NET_Serial_GetParam(int handle, SerialParam *out);
/* Setters (0x3002..0x3006) return the command result; the cache follows only an accepted value. */
QRN_API int QRN_NET_Serial_SetSpeed(int handle, uint32_t value);
QRN_API int QRN_NET_Serial_SetDataBit(int handle, uint32_t value);
QRN_API int QRN_NET_Serial_SetStopBit(int handle, uint32_t value);
QRN_API int QRN_NET_Serial_SetParity(int handle, uint32_t value);
QRN_API int QRN_NET_Serial_SetTimeout(int handle, uint32_t value);
/**
 * Bytes received in total, sent in total, and received but not yet taken,
 * each counted from the last Begin or End. QRN_ERR_FAILED for NULL out.
 */
QRN_API int QRN_NET_Serial_GetRxTotalNum(int handle, int *out);
QRN_API int QRN_NET_Serial_GetTxTotalNum(int handle, int *out);
QRN_API int QRN_NET_Serial_GetCurRxCacheSize(int handle, int *out);
/**
 * Opens the module's serial port, dropping blocks still queued and zeroing
 * the counters. QRN_ERR_FAILED when the stream connection is not up (nothing
 * is sent), else the command result. Opening an open port opens it again.
 */
QRN_API int QRN_NET_Serial_Begin(int handle);
/** Closes the port (0 at once when it is not open), zeroes the counters and drops queued blocks. */
QRN_API int QRN_NET_Serial_End(int handle);
/**
 * Sends length bytes to the port as one stream packet; on 0 the sent total
 * grows by length. Returns 0 once the whole packet went out, or:
 *   QRN_ERR_INVALID_HANDLE  unknown handle;
 *   QRN_ERR_NULL_POINTER    NULL data or a negative length (tested after
 *                           the handle);
 *   QRN_ERR_FAILED          the port is closed, the stream connection is
 *                           down, or the send failed;
 *   QRN_ERR_TIMEOUT         the module did not take the packet within the
 *                           stream time-out (4 s);
 *   QRN_ERR_IO              a send stopped part-way through a packet earlier
 *                           on this stream connection, as for
 *                           QRN_NET_Audio_SendData.
 */
QRN_API int QRN_NET_Serial_SendData(int handle, const void *data, int length);
/**
 * Takes the oldest received block: *data points at its bytes, *length is
 * their number. QRN_ERR_FAILED while the port is closed or nothing waits,
 * QRN_ERR_NULL_POINTER for NULL data or length.
 */
QRN_API int QRN_NET_Serial_RequestData(int handle, void **data, int *length);
/** Frees a block from QRN_NET_Serial_RequestData; QRN_ERR_FAILED, freeing nothing, for NULL. */
QRN_API int QRN_NET_Serial_ReleaseData(int handle, void *data);

/* ---- device, clock, GPIO and I2C --------------------------------------------- */

/*
 * ID, alias and MAC are cached per session: a full login answer fills the
 * cache, otherwise the first getter that needs them asks the module. A
 * failed fill returns its code (QRN_ERR_MALFORMED for an answer shorter than
 * expected or an alias without its NUL, QRN_ERR_TOO_LONG for a longer one)
 * and is tried again by the next call. The setters keep the cache current.
 */

/** Writes the numeric ID. QRN_ERR_FAILED for NULL (before the handle), QRN_ERR_INVALID_HANDLE, fill failure. */
QRN_API int QRN_NET_Device_GetId(int handle, int *id);
/** Copies the alias with its NUL into alias (20 bytes). QRN_ERR_NULL_POINTER, QRN_ERR_INVALID_HANDLE, fill failure. */
QRN_API int QRN_NET_Device_GetAlias(int handle, char *alias);
/** Sets the module's numeric ID. QRN_ERR_INVALID_HANDLE, else the command result. */
QRN_API int QRN_NET_Device_SetId(int handle, uint32_t id);
/**
 * Sets the alias, up to 19 characters: the field holds 20 bytes with the NUL.
 * QRN_ERR_NULL_POINTER for NULL or longer (before the handle, nothing sent),
 * QRN_ERR_INVALID_HANDLE, else the command result.
 */
QRN_API int QRN_NET_Device_SetAlias(int handle, const char *alias);
/** Copies the session's 20-byte address field. QRN_ERR_NULL_POINTER first, QRN_ERR_INVALID_HANDLE. */
QRN_API int QRN_NET_Device_GetAddress(int handle, char *out);
/** ID, alias and the session's address. QRN_ERR_NULL_POINTER first, QRN_ERR_INVALID_HANDLE, fill failure. */
QRN_API int QRN_NET_GetDeviceInfo(int handle, DeviceInfo *out);
/** Restarts the module; the answer is not awaited, and the module drops the stream. */
QRN_API int QRN_NET_Device_Reboot(int handle);
/** Returns the module to its factory settings and restarts it; the answer is not awaited. */
QRN_API int QRN_NET_Device_Reset(int handle);
/**
 * Reads the module's clock: 8 bytes as the module defines them.
 * QRN_ERR_NULL_POINTER first, QRN_ERR_INVALID_HANDLE, QRN_ERR_TOO_LONG
 * (nothing written) for a longer answer, else the command result.
 */
QRN_API int QRN_NET_GetSystemTime(int handle, void *time);
/** Sets the module's clock from 8 bytes. QRN_ERR_NULL_POINTER first, QRN_ERR_INVALID_HANDLE, command result. */
QRN_API int QRN_NET_SetSystemTime(int handle, const void *time);
/**
 * Prints "[length]cmdCtrl:text" and sends the text with its NUL to the
 * module. QRN_ERR_FAILED, before the handle and with nothing sent, for NULL,
 * an empty text or one of more than 1007 characters (one command's payload).
 */
QRN_API int QRN_NET_SetCmdCtrl(int handle, const char *text);

/*
 * GPIO: the pin table is cached per session, filled on first use. Modules of
 * protocol version 2.x and older have five pins, levels only. Pins outside
 * the cached table (0..31 and below its count) are refused with
 * QRN_ERR_FAILED and nothing is sent.
 */

/** Copies the 97-byte table. QRN_ERR_FAILED for NULL (before the handle), QRN_ERR_INVALID_HANDLE, fill failure. */
QRN_API int QRN_NET_Gpio_GetAll(int handle, GpioTable *out);
/** Sets every pin of table; QRN_ERR_FAILED, nothing sent, for more pins than the cached table has. */
QRN_API int QRN_NET_Gpio_SetAll(int handle, GpioTable table);
/** Copies the cached entry of pin. QRN_ERR_FAILED for NULL (before the handle) or a pin outside the table. */
QRN_API int QRN_NET_Gpio_GetStatus(int handle, int pin, GpioEntry *out);
/** Sets one pin; QRN_ERR_FAILED, nothing sent, for a pin outside the table or mode 1 on an old module. */
QRN_API int QRN_NET_Gpio_SetStatus(int handle, GpioEntry entry);
/**
 * Sends block and receives the module's answer into it. QRN_ERR_INVALID_HANDLE,
 * QRN_ERR_FAILED for NULL, QRN_ERR_TOO_LONG (block unchanged) for a longer
 * answer, else the command result.
 */
QRN_API int QRN_NET_I2C_GetValue(int handle, I2cBlock *block);
/** Sends block. QRN_ERR_INVALID_HANDLE, QRN_ERR_FAILED for NULL, else the command result. */
QRN_API int QRN_NET_I2C_SetValue(int handle, const I2cBlock *block);

/* ---- wireless settings ------------------------------------------------------- */

/*
 * Nothing is cached: each call is one command and its result. The argument
 * checks run before the handle is looked at and answer QRN_ERR_FAILED with
 * nothing sent: NULL pointers; a WirelessConfig field without a NUL inside
 * its 40 bytes; a passphrase shorter than 8 characters; an empty network name
 * (fewer than 3 characters for the client link). Getters write at most the
 * expected size (80 bytes, or one int); a longer answer gives
 * QRN_ERR_TOO_LONG and writes nothing.
 */

QRN_API int QRN_NET_Wireless_GetApcliInfo(int handle, WirelessConfig *out);
QRN_API int QRN_NET_Wireless_SetApcliInfo(int handle, const WirelessConfig *config);
QRN_API int QRN_NET_Wireless_CloseApcli(int handle);
QRN_API int QRN_NET_Wireless_GetApInfo(int handle, WirelessConfig *out);
QRN_API int QRN_NET_Wireless_SetApInfo(int handle, const WirelessConfig *config);
QRN_API int QRN_NET_Wireless_GetApChn(int handle, int *channel);
/** Channel 1..13; anything else is refused before the handle is looked at. */
QRN_API int QRN_NET_Wireless_SetApChn(int handle, uint32_t channel);
QRN_API int QRN_NET_Wireless_GetApHide(int handle, int *hidden);
QRN_API int QRN_NET_Wireless_SetApHide(int handle, uint32_t hidden);
QRN_API int QRN_NET_Wireless_GetStaInfo(int handle, WirelessConfig *out);
QRN_API int QRN_NET_Wireless_SetStaInfo(int handle, const WirelessConfig *config);
/** The same request as QRN_NET_Wireless_SetStaInfo. */
QRN_API int QRN_NET_Wireless_SetStaMode(int handle, const WirelessConfig *config);
QRN_API int QRN_NET_Wireless_GetNetType(int handle, int *type);
/** Restarts the module's network; the answer is awaited. */
QRN_API int QRN_NET_Wireless_NetReboot(int handle);

/* ---- discovery and provisioning (no session) ---------------------------------- */

/**
 * Starts the process-wide scanner: it asks once at start, then once every
 * interval, however busy the network is (seconds; 0 means 1 second, and
 * anything up to a quarter second, negatives included, 250 ms). A module
 * that stays quiet for six intervals leaves the table; a reply from a new
 * address while all QRN_SCAN_MAX_DEVICES entries are taken is dropped.
 * Returns 0, also when already running (the interval then stays as it
 * was), or QRN_ERR_FAILED when the socket or the thread cannot be created.
 */
QRN_API int QRN_NET_ScanDevice_Init(int seconds);
/** Stops the scanner and waits for its thread. Returns 0, also when stopped. */
QRN_API int QRN_NET_ScanDevice_UnInit(void);
/**
 * Copies the modules found, one record each, into out (room for
 * QRN_SCAN_MAX_DEVICES records) and sets *count. The first reply from an
 * address is kept; an alias longer than 19 characters is cut to 19.
 * QRN_ERR_FAILED when the scanner is stopped or a pointer is NULL.
 */
QRN_API int QRN_NET_Scan_GetDeviceInfo(ScanDeviceInfo *out, int *count);
/** As QRN_NET_Scan_GetDeviceInfo, with the 108-byte records (reserved bytes zero). */
QRN_API int QRN_NET_Scan_GetDeviceInformation(ScanDeviceInformation *out, int *count);
/**
 * Broadcasts two texts for a module to pick up, on every broadcast address
 * in turn, until End: first at least 8 and at most 1023 characters, second
 * at most 1023 (NULL: "4721"). A host without a broadcast address looks
 * again every second. reserved is not used. Returns 0, also when already
 * broadcasting (the texts then stay as they were), or QRN_ERR_FAILED for a
 * text that is missing, too short or too long, or when UDP port 10009
 * cannot be bound; nothing is sent then.
 */
QRN_API int QRN_NET_SmartConfig_Begin(int reserved, const char *first, const char *second);
/** Stops the broadcast within one datagram and waits for its thread. Returns 0, also when not broadcasting. */
QRN_API int QRN_NET_SmartConfig_End(void);

/* ---- device identity --------------------------------------------------- */

/** The device's protocol version word (major << 16 | minor << 8 | patch), or QRN_ERR_INVALID_HANDLE. */
QRN_API int QRN_NET_GetVersion(int handle);
/**
 * Copies the device's 6-byte MAC address, asking the module when the login
 * did not tell it. QRN_ERR_NULL_POINTER, QRN_ERR_INVALID_HANDLE, fill failure.
 */
QRN_API int QRN_NET_GetMac(int handle, uint8_t *out);

#ifdef __cplusplus
}
#endif

#endif /* QRN_NET_H */
