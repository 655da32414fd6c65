// Text from the SDK's fixed-size character fields.
#pragma once

#include <cstring>
#include <string>

namespace qrn {

// Stops at the first NUL or at the end of the field, whichever comes first.
template <size_t N>
std::string fixed_text(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

}  // namespace qrn
