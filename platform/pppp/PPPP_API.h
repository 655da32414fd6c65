// Peer-to-peer connection layer: reaches a device by ID through a server.
// Channel 1 carries commands, channel 2 the stream.
#pragma once

int PPPP_Initialize(const char *init_string);
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
