// Reading one module's reply to a discovery request.
#pragma once

#include "qrn_net.h"

// The record a reply of length bytes from sender (a dotted address) stands
// for. Only bytes the datagram holds are read: a reply too short for its ID
// is listed with ID 0, and an alias without a terminator ends with the
// datagram or its field, whichever comes first.
ScanDeviceInformation device_from_reply(const uint8_t *reply, int length, const char *sender);
