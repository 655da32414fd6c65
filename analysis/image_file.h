// Reads a picture file without trusting it: the size in its header is
// checked before any pixel is decoded, so a small file cannot claim a
// picture that fills the memory.
#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace endface {

// The picture, or an empty matrix and the reason in problem.
cv::Mat read_picture(const std::string &path, std::string &problem);

}  // namespace endface
