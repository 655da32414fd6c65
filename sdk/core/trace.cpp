#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qrn_net.h"

namespace {

std::atomic<bool> traces_on{true};

// Read at every line, so a program may set the variable at any time.
bool environment_allows()
{
    const char *value = std::getenv("QRN_NET_TRACE");
    return !value || std::strcmp(value, "0") != 0;
}

}  // namespace

void qrn_trace(const char *format, ...)
{
    if (!traces_on || !environment_allows())
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    // Traces are read while the program runs, often through a pipe or a
    // file, where they would otherwise wait in a block buffer.
    std::fflush(stdout);
}

std::string escaped_bytes(const void *data, int length, int max_bytes)
{
    static const char digits[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(data);
    const int shown = length < max_bytes ? length : max_bytes;
    std::string text;
    for (int i = 0; bytes && i < shown; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += digits[c >> 4];
            text += digits[c & 0xF];
        }
    }
    if (length > shown)
        text += "...";
    return text;
}

extern "C" int QRN_NET_SetTrace(int on)
{
    traces_on = on != 0;
    return QRN_OK;
}
