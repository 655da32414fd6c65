// The library's trace lines on standard output, all through one function so
// that one switch silences them.
#pragma once

#include <string>

// printf-style. Silent when QRN_NET_TRACE is "0" in the environment or the
// caller turned traces off with QRN_NET_SetTrace(0).
void qrn_trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Bytes from a module or a caller as text that cannot drive a terminal:
// printable ASCII as is, every other byte as \xNN. At most max_bytes of the
// input are shown; a longer input ends in "...".
std::string escaped_bytes(const void *data, int length, int max_bytes);
