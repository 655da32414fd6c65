/* Connects to a module, prints what it says about itself, disconnects. */
#include <stdio.h>
#include <stdlib.h>

#include "qrn_net.h"

int main(int argc, char **argv)
{
    const char *address = argc > 1 ? argv[1] : getenv("KELVO_QRN_ADDRESS");
    if (!address)
        address = "192.168.100.254";
    if (argc > 2 || (argc > 1 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: qrn-hello [ADDRESS]  (default: $KELVO_QRN_ADDRESS or 192.168.100.254)\n");
        return 2;
    }
    int handle = 0;
    int result = QRN_NET_ConnectDevice(&handle, address, NULL);
    if (result < 0) {
        fprintf(stderr, "cannot connect to %s: %s (%d)\n", address, QRN_NET_StrError(result), result);
        return 1;
    }
    char company[QRN_NET_COMPANY_SIZE];
    result = QRN_NET_GetCompany(handle, company);
    if (result < 0) {
        fprintf(stderr, "cannot read the company: %s (%d)\n", QRN_NET_StrError(result), result);
        QRN_NET_Disconnect(handle);
        return 1;
    }
    unsigned version = (unsigned)QRN_NET_GetVersion(handle);
    unsigned char mac[6];
    result = QRN_NET_GetMac(handle, mac);
    printf("company: %s\nversion: %u.%u.%u\n", company, version >> 16, (version >> 8) & 0xFF, version & 0xFF);
    if (result == 0)
        printf("MAC:     %02X:%02X:%02X:%02X:%02X:%02X\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    else
        printf("MAC:     unknown (%s)\n", QRN_NET_StrError(result));
    QRN_NET_Disconnect(handle);
    return 0;
}
