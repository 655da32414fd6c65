#include "qrn_net.h"

extern "C" const char *QRN_NET_StrError(int code)
{
    // One line per code reads as a table.
    // clang-format off
    switch (code) {
    case QRN_OK: return "success";
    case QRN_ERR_FAILED: return "failure or device refusal";
    case QRN_ERR_TIMEOUT: return "time-out";
    case QRN_ERR_IO: return "send or receive failure";
    case QRN_ERR_CLOSED: return "connection closed";
    case QRN_ERR_INVALID_HANDLE: return "invalid session handle";
    case QRN_ERR_OTHER_SESSION: return "packet of another session";
    case QRN_ERR_MALFORMED: return "malformed packet";
    case QRN_ERR_LISTEN: return "cannot listen on the data port";
    case QRN_ERR_P2P_CONNECT: return "peer-to-peer connect failure";
    case QRN_ERR_CONNECT: return "connect failure";
    case QRN_ERR_LOGIN_REFUSED: return "login refused";
    case QRN_ERR_BAD_STRING: return "bad argument string";
    case QRN_ERR_NULL_POINTER: return "NULL pointer argument";
    case QRN_ERR_NO_SLOT: return "no free session slot";
    case QRN_ERR_TOO_LONG: return "answer too long for the buffer";
    default: return "unknown result code";
    }
    // clang-format on
}
