/* An outside program: connects to the module given, prints its company. */
#include <stdio.h>

#include <qrn_net.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: consumer ADDRESS\n");
        return 2;
    }
    int handle = 0;
    int result = QRN_NET_ConnectDevice(&handle, argv[1], NULL);
    if (result < 0) {
        fprintf(stderr, "cannot connect to %s: %s\n", argv[1], QRN_NET_StrError(result));
        return 1;
    }
    char company[QRN_NET_COMPANY_SIZE];
    result = QRN_NET_GetCompany(handle, company);
    QRN_NET_Disconnect(handle);
    if (result < 0) {
        fprintf(stderr, "cannot read the company: %s\n", QRN_NET_StrError(result));
        return 1;
    }
    printf("company: %s\n", company);
    return 0;
}
