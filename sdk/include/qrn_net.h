/*
 * QRN_NET: the device-link SDK for the inspection probe's WiFi camera module.
 *
 * One header, plain C. Every call that addresses a device takes a session
 * handle first and returns 0 (or a documented positive value) on success,
 * or one of the negative qrn_result codes below.
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

/* ---- result codes ------------------------------------------------------ */

/** Result codes shared by every call. */
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

/* ---- records ----------------------------------------------------------- */

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

/** One picture control: present, minimum, current, maximum, default, mode. */
typedef struct VideoCtrlEntry {
    int32_t present;
    int32_t minimum;
    int32_t current;
    int32_t maximum;
    int32_t default_value;
    int32_t mode;
    int32_t reserved[2];
} VideoCtrlEntry;

#if defined(__cplusplus)
#  define QRN_STATIC_ASSERT static_assert
#else
#  define QRN_STATIC_ASSERT _Static_assert
#endif
QRN_STATIC_ASSERT(sizeof(FrameHeader) == 28, "FrameHeader is 28 bytes");
QRN_STATIC_ASSERT(offsetof(FrameHeader, length) == 24, "FrameHeader length at 24");
QRN_STATIC_ASSERT(offsetof(FrameElement, header) == 8, "FrameElement header at 8");
QRN_STATIC_ASSERT(offsetof(FrameElement, data) == 36, "FrameElement data at 36");
QRN_STATIC_ASSERT(sizeof(VideoCtrlEntry) == 32, "VideoCtrlEntry is 32 bytes");

/* ---- sessions ---------------------------------------------------------- */

/**
 * Connects to a module and logs in.
 * address: a dotted IPv4 address, or a device ID (6 to 12 characters are a
 * short ID and expanded). encrypt: access string, up to 31 characters, or NULL.
 * Returns 0 connected over the LAN, 1 over peer-to-peer, or QRN_ERR_NO_SLOT,
 * QRN_ERR_TIMEOUT, QRN_ERR_IO, QRN_ERR_CONNECT, QRN_ERR_LOGIN_REFUSED,
 * QRN_ERR_LISTEN, QRN_ERR_P2P_CONNECT, QRN_ERR_CLOSED, QRN_ERR_FAILED,
 * QRN_ERR_BAD_STRING (a string longer than its field), QRN_ERR_NULL_POINTER.
 */
QRN_API int QRN_NET_ConnectDevice(int *handle_out, const char *address, const char *encrypt);
/** As QRN_NET_ConnectDevice on a given command port (0 or less: 34674). */
QRN_API int QRN_NET_ConnectDeviceIndex(int *handle_out, const char *address, int port, const char *encrypt);
/** As QRN_NET_ConnectDeviceIndex with a user name (NULL: "SQRN", up to 39 characters). */
QRN_API int QRN_NET_ConnectDeviceUser(int *handle_out, const char *address, int port, const char *user,
                                      const char *encrypt);
/** Starts the teardown of a session on its own thread; always returns 0 at once. */
QRN_API int QRN_NET_Disconnect(int handle);
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

/* ---- device identity --------------------------------------------------- */

/** The device's protocol version word (major << 16 | minor << 8 | patch), or QRN_ERR_INVALID_HANDLE. */
QRN_API int QRN_NET_GetVersion(int handle);
/** Copies the device's 6-byte MAC address. QRN_ERR_NULL_POINTER, QRN_ERR_INVALID_HANDLE, QRN_ERR_FAILED when unknown. */
QRN_API int QRN_NET_GetMac(int handle, uint8_t *out);

#ifdef __cplusplus
}
#endif

#endif /* QRN_NET_H */
