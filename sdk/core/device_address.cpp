#include "device_address.h"

#include <cstdio>
#include <cstring>

int address_kind_of(const char *address)
{
    int a, b, c, d;
    return std::sscanf(address, "%d.%d.%d.%d", &a, &b, &c, &d) == 4 ? kAddressKindIp : kAddressKindDeviceId;
}

void store_address(const char *address, int kind, char (&out)[kAddressSize])
{
    const size_t length = std::strlen(address);
    std::memset(out, 0, sizeof out);
    if (kind == kAddressKindIp || length < 6 || length > 12) {
        std::memcpy(out, address, length < kAddressSize ? length : kAddressSize - 1);
        return;
    }
    std::snprintf(out, sizeof out, "SQRN%s%.5s", address + length - 6, address);
}
