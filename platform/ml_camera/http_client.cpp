#include "http_client.h"

#include "ml_camera.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace mlcam {

void ensure_curl_ready()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

struct CurlDeleter {
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

size_t collect(char *data, size_t size, size_t count, void *user)
{
    auto *body = static_cast<std::string *>(user);
    const size_t bytes = size * count;
    if (body->size() + bytes > kMaxAnswerSize)
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    body->append(data, bytes);
    return bytes;
}

}  // namespace

int http_exchange(const std::string &url, const char *method, const std::string &body, HttpAnswer &answer)
{
    ensure_curl_ready();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return ML_ERR_RESOURCE;
    // A plain text body; libcurl would otherwise say it is a form.
    std::unique_ptr<curl_slist, SlistDeleter> headers(
        curl_slist_append(nullptr, "Content-Type: application/octet-stream"));
    CURL *c = curl.get();
    answer = HttpAnswer{};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ML_CONNECT_TIMEOUT_MS));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(ML_COMMAND_TIMEOUT_MS));
    curl_easy_setopt(c, CURLOPT_PROXY, "");  // the module is on the local link, never behind a proxy
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
    if (std::string(method) == "POST") {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    }
    const CURLcode result = curl_easy_perform(c);
    switch (result) {
    case CURLE_OK:
        break;
    case CURLE_OPERATION_TIMEDOUT:
        return ML_ERR_TIMEOUT;
    case CURLE_WRITE_ERROR:
        return ML_ERR_ANSWER;
    case CURLE_OUT_OF_MEMORY:
        return ML_ERR_RESOURCE;
    default:
        return ML_ERR_UNREACHABLE;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    return ML_OK;
}

}  // namespace mlcam
