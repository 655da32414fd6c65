// Splitting one fuzz input into the several byte strings a target feeds:
// each is a little-endian 16-bit length, then that many bytes (fewer when
// the input ends first). Seeds are written the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzing {

inline std::vector<std::vector<uint8_t>> split_input(const uint8_t *data, size_t size, size_t max_parts)
{
    std::vector<std::vector<uint8_t>> parts;
    size_t at = 0;
    while (at + 2 <= size && parts.size() < max_parts) {
        const size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
        at += 2;
        const size_t taken = length < size - at ? length : size - at;
        parts.emplace_back(data + at, data + at + taken);
        at += taken;
    }
    return parts;
}

inline void append_part(std::vector<uint8_t> &out, const std::vector<uint8_t> &part)
{
    out.push_back(static_cast<uint8_t>(part.size()));
    out.push_back(static_cast<uint8_t>(part.size() >> 8));
    out.insert(out.end(), part.begin(), part.end());
}

}  // namespace fuzzing
