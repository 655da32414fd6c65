#include "failures.h"

#include "qrn_net.h"

namespace qrn {

std::string describe_result(const std::string &what, int code)
{
    return what + ": " + QRN_NET_StrError(code) + " (" + std::to_string(code) + ")";
}

void check_result(int code, const std::string &what)
{
    if (code < 0)
        throw CommandFailure(describe_result(what, code));
}

}  // namespace qrn
