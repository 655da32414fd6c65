// How a connect address is read: a dotted IPv4 address or a device ID.
#pragma once

#include "session_context.h"

// kAddressKindIp when the text reads as four dotted integers, else kAddressKindDeviceId.
int address_kind_of(const char *address);

// Writes the address as the session stores it: a 6- to 12-character device
// ID is the short form of "SQRN" + its last six characters + its first five.
// address must be shorter than kAddressSize.
void store_address(const char *address, int kind, char (&out)[kAddressSize]);
