#include "image_file.h"

#include "picture_checks.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace endface {

namespace {

constexpr std::streamoff kMaxFileBytes = 64 << 20;

uint32_t be16(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
uint32_t be32(const uint8_t *p)
{
    return be16(p) << 16 | be16(p + 2);
}
int32_t le32(const uint8_t *p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// Width and height from the header of a JPEG, PNG or BMP file; false when
// the format is none of these or the header is cut short.
bool header_size(const std::vector<uint8_t> &bytes, long &width, long &height)
{
    const size_t n = bytes.size();
    const uint8_t *b = bytes.data();
    if (n >= 24 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
        width = be32(b + 16);
        height = be32(b + 20);
        return true;
    }
    if (n >= 26 && b[0] == 'B' && b[1] == 'M') {
        width = le32(b + 18);
        height = std::labs(static_cast<long>(le32(b + 22)));
        return true;
    }
    if (n >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
        size_t at = 2;
        while (at + 4 <= n) {
            if (b[at] != 0xFF)
                return false;
            const uint8_t marker = b[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                at += 2;
                continue;
            }
            const uint32_t length = be16(b + at + 2);
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (frame) {
                if (at + 9 > n || length < 7)
                    return false;
                height = be16(b + at + 5);
                width = be16(b + at + 7);
                return true;
            }
            if (length < 2)
                return false;
            at += 2 + length;
        }
    }
    return false;
}

// A JPEG cut short decodes to a picture padded with grey; its end marker is missing.
bool jpeg_ends(const std::vector<uint8_t> &bytes)
{
    const size_t tail = std::min<size_t>(bytes.size(), 256);
    for (size_t i = bytes.size() - tail; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9)
            return true;
    return false;
}

}  // namespace

cv::Mat read_picture(const std::string &path, std::string &problem)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        problem = "cannot open " + path;
        return {};
    }
    const std::streamoff size = file.tellg();
    if (size <= 0 || size > kMaxFileBytes) {
        problem = size <= 0 ? "empty file: " + path : "file too large for a picture: " + path;
        return {};
    }
    file.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!file.read(reinterpret_cast<char *>(bytes.data()), size)) {
        problem = "cannot read " + path;
        return {};
    }
    long width = 0, height = 0;
    if (!header_size(bytes, width, height)) {
        problem = "not a JPEG, PNG or BMP picture: " + path;
        return {};
    }
    const std::string size_problem =
        check_size(static_cast<int>(std::min(width, 1L << 30)), static_cast<int>(std::min(height, 1L << 30)));
    if (!size_problem.empty()) {
        problem = size_problem;
        return {};
    }
    if (bytes[0] == 0xFF && !jpeg_ends(bytes)) {
        problem = "truncated JPEG file: " + path;
        return {};
    }
    cv::Mat picture = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    if (picture.empty())
        problem = "corrupt picture file: " + path;
    return picture;
}

}  // namespace endface
