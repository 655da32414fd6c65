#include "topics.h"

#include <random>

namespace pppp {

std::string random_token()
{
    static const char digits[] = "0123456789abcdef";
    std::random_device random;
    std::string token;
    for (int i = 0; i < 32; ++i)
        token.push_back(digits[random() & 0x0f]);
    return token;
}

}  // namespace pppp
