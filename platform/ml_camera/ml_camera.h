/* ml_camera: access to the second kind of probe module, which streams its
 * pictures as Motion-JPEG over HTTP (multipart/x-mixed-replace) and takes
 * commands as small HTTP requests. README.md describes the protocol.
 *
 * Every call that takes an address accepts "a.b.c.d" or "a.b.c.d:port"
 * (port 80 when none is given). When the environment variable
 * KELVO_ML_ADDRESS is set and not empty, it replaces the address of every
 * call, so that a program built for the module's fixed address can be
 * pointed at a simulator on loopback.
 *
 * Commands wait at most ML_COMMAND_TIMEOUT_MS; no call blocks longer. All
 * calls may be made from any thread. */
#ifndef ML_CAMERA_H
#define ML_CAMERA_H

#ifdef __cplusplus
extern "C" {
#endif

/* The module's address in the field. */
#define ML_DEFAULT_ADDRESS "192.168.10.123"
/* The buffer that ML_GetVideoFrame fills must hold this many bytes; larger
 * frames are refused by the library and never delivered. */
#define ML_FRAME_BUFFER_SIZE 1228800
/* Size of the block ML_SendGetCameraParams fills. */
#define ML_CAMERA_PARAMS_BLOCK_SIZE 204
/* Extra camera-parameter bytes ML_SendSetCameraParams sends at most. */
#define ML_CAMERA_PARAMS_EXTRA_MAX 4096
/* Longest WiFi network name, in bytes. */
#define ML_SSID_MAX 32
/* Time limits of one command: connect, and the whole exchange. */
#define ML_CONNECT_TIMEOUT_MS 1000
#define ML_COMMAND_TIMEOUT_MS 2000
/* The module counts as connected while its stream delivered a byte within
 * this time. */
#define ML_LINK_TIMEOUT_MS 2000

/* Result codes; 0 is success. */
enum ml_result {
    ML_OK = 0,
    ML_ERR_FAILED = -1,      /* the module answered with an HTTP error */
    ML_ERR_TIMEOUT = -2,     /* no answer within the time limit */
    ML_ERR_UNREACHABLE = -3, /* no connection to the module */
    ML_ERR_ANSWER = -4,      /* an answer that is not what the command expects */
    ML_ERR_ARGUMENT = -5,    /* a bad address, handle, pointer or value */
    ML_ERR_RESOURCE = -6     /* the library could not get memory or a thread */
};

/* A short English text for a result code. */
const char *ML_StrError(int code);

/* Starts receiving the module's picture stream in the background and
 * returns at once: the connection is made, and remade after every loss,
 * by a thread of the library. Returns a handle (> 0), or 0 for a bad
 * address or when the thread cannot start. A second call for the same
 * address returns the same handle. */
int ML_StartPreview(const char *address);

/* Stops a preview's background thread and forgets the handle; it waits at
 * most about one second. Unknown handles are ignored. */
void ML_StopPreview(int handle);

/* 1 while the module's stream has delivered a byte within
 * ML_LINK_TIMEOUT_MS, 0 otherwise (never connected, lost, stalled, bad
 * handle). */
int ML_IsDeviceConnected(int handle);

/* Copies the newest whole JPEG frame not yet taken into buffer, which must
 * hold ML_FRAME_BUFFER_SIZE bytes, and returns its length. Frames that
 * arrived in between are skipped: the newest one wins. Returns 0 when no new
 * frame has arrived, ML_ERR_ARGUMENT for a bad handle or a NULL buffer.
 * When info is not NULL it receives the frame's number in the stream
 * (1 for the first frame since the preview started). */
int ML_GetVideoFrame(int handle, char *buffer, int *info);

/* The module's device type code (0x1000 for the kind the viewer drives), or
 * a negative result code. */
int ML_SendGetDeviceType(const char *address);

/* Stores a new device type code in the module; it applies after a reboot.
 * Returns ML_OK, ML_ERR_ARGUMENT for a negative code, or a failure code. */
int ML_SendSetDeviceType(const char *address, int type);

/* 1 when the capture key was pressed since the last call, 0 when not, or a
 * negative result code. The module keeps one press until it is asked. */
int ML_SendGetKeyStatus(const char *address);

/* Stores the module's WiFi network name (1 to ML_SSID_MAX bytes, sent as
 * they are); it applies after a reboot. Returns ML_OK, ML_ERR_ARGUMENT for
 * a NULL, empty or too long name, or a failure code. */
int ML_SendSetSSID(const char *address, const char *ssid);

/* Sets the module's camera parameters: brightness, contrast, exposure and
 * gain, plus extra_size bytes of model-specific data at extra (NULL with
 * extra_size 0 for none, at most ML_CAMERA_PARAMS_EXTRA_MAX). Returns ML_OK,
 * ML_ERR_ARGUMENT for a bad extra block, or a failure code. */
int ML_SendSetCameraParams(const char *address, int brightness, int contrast, int exposure, int gain, const void *extra,
                           int extra_size);

/* Reads the camera parameters into block (ML_CAMERA_PARAMS_BLOCK_SIZE
 * bytes). On entry block[0] says how many values the caller wants (at most
 * 50); on return the values, in the order brightness, contrast, exposure,
 * gain, extra size, stand as little-endian 32-bit integers from byte 4 on,
 * and block[0] holds how many were written. Returns ML_OK or a failure
 * code; the block is left as it was on failure. */
int ML_SendGetCameraParams(const char *address, unsigned char *block);

/* Asks the module to restart; its stream drops for a moment and the
 * preview reconnects by itself. */
int ML_SendReboot(const char *address);

#ifdef __cplusplus
}
#endif

#endif /* ML_CAMERA_H */
