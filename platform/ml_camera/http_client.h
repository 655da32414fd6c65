// One short HTTP exchange with the module, through libcurl, bounded by the
// command time limits of ml_camera.h.
#pragma once

#include <string>

namespace mlcam {

// libcurl's global set-up, done once for the whole process.
void ensure_curl_ready();

struct HttpAnswer {
    long status = 0;
    std::string body;
};

// Sends method ("GET" or "POST") with body to url. ML_OK when an answer of
// any status arrived, otherwise ML_ERR_TIMEOUT, ML_ERR_UNREACHABLE,
// ML_ERR_ANSWER (an answer body over kMaxAnswerSize) or ML_ERR_RESOURCE.
int http_exchange(const std::string &url, const char *method, const std::string &body, HttpAnswer &answer);

// Command answers are a line or a few; anything longer is refused.
constexpr size_t kMaxAnswerSize = 4096;

}  // namespace mlcam
