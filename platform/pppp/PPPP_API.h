// Peer-to-peer connection layer: reaches a device by ID through a server.
// Channel 1 carries commands, channel 2 the stream. Every call is safe from
// any thread; reads and writes block the calling thread only. A channel takes
// one reader and one writer at a time (two writers' bytes could interleave).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Result codes (platform/pppp/README.md tells what each means for a caller).
#define PPPP_ERROR_NONE 0
#define PPPP_ERROR_NOT_INITIALIZED -1
#define PPPP_ERROR_TIME_OUT -3            // the module is online but did not answer, or a read ran out of time
#define PPPP_ERROR_INVALID_ID -4          // the ID is unknown or offline
#define PPPP_ERROR_INVALID_PARAMETER -5   // a NULL pointer, a bad channel, a malformed device ID
#define PPPP_ERROR_SERVER_UNREACHABLE -6  // the broker or the relay did not answer
#define PPPP_ERROR_REFUSED -7             // the relay refused the allocation or the device refused the session
#define PPPP_ERROR_BAD_INIT_STRING -8     // the init string does not decode
#define PPPP_ERROR_NO_PATH -9             // both ends answered but no candidate pair worked
#define PPPP_ERROR_INVALID_SESSION -11    // no such session (never opened or already closed)
#define PPPP_ERROR_REMOTE_CLOSED -12      // the peer closed the session
#define PPPP_ERROR_SESSION_LOST -13       // the peer vanished or the path failed
#define PPPP_ERROR_USER_CLOSED -14        // closed by this side while the call waited

// Size of the record PPPP_Check fills, and the offset of its relayed flag.
#define PPPP_CHECK_RECORD_SIZE 128
#define PPPP_CHECK_RELAYED_OFFSET 81

// Starts the layer (idempotent). An empty or NULL string uses the defaults.
int PPPP_Initialize(const char *init_string);
// Closes every host session and stops the layer once no device listener is left.
int PPPP_DeInitialize(void);
// Session handle >= 0; -3 time-out, -4 and -6 distinct failures, other negatives.
int PPPP_ConnectByServer(const char *device_id, int flag, int port, const char *init_string);
// Fills a 128-byte record; byte 81 is nonzero for a relayed session.
int PPPP_Check(int session, unsigned char *information);
int PPPP_Check_Buffer(int session, int channel, unsigned *write_size, unsigned *read_size);
int PPPP_Read(int session, int channel, void *buffer, int *size, int timeout_ms);
int PPPP_Write(int session, int channel, const void *data, int length);
int PPPP_Close(int session);
int PPPP_ForceClose(int session);

#ifdef __cplusplus
}
#endif
