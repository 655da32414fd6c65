// The command calls of ml_camera.h: one HTTP request each.
#include "ml_camera.h"

#include "http_client.h"
#include "module_address.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using mlcam::HttpAnswer;

// Sends the request; ML_OK only for a 2xx answer.
int exchange(const char *address, const char *method, const std::string &path, const std::string &body,
             HttpAnswer &answer)
{
    const auto base = mlcam::module_base_url(address);
    if (!base)
        return ML_ERR_ARGUMENT;
    const int result = mlcam::http_exchange(*base + path, method, body, answer);
    if (result != ML_OK)
        return result;
    return answer.status >= 200 && answer.status < 300 ? ML_OK : ML_ERR_FAILED;
}

// A decimal or 0x-hexadecimal number that fills the answer (white space
// around it allowed) and fits in 0..INT32_MAX.
std::optional<int> parse_number(const std::string &text)
{
    const char *begin = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    if (!std::isdigit(static_cast<unsigned char>(*begin)))
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 0);
    while (std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    if (errno != 0 || *end != '\0' || value < 0 || value > 0x7FFFFFFF)
        return std::nullopt;
    return static_cast<int>(value);
}

int get_number(const char *address, const char *path)
{
    HttpAnswer answer;
    const int result = exchange(address, "GET", path, {}, answer);
    if (result != ML_OK)
        return result;
    const auto value = parse_number(answer.body);
    return value ? *value : ML_ERR_ANSWER;
}

void put_u32le(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

extern "C" {

const char *ML_StrError(int code)
{
    switch (code) {
    case ML_OK:
        return "success";
    case ML_ERR_FAILED:
        return "the module refused the request";
    case ML_ERR_TIMEOUT:
        return "the module did not answer in time";
    case ML_ERR_UNREACHABLE:
        return "the module cannot be reached";
    case ML_ERR_ANSWER:
        return "the module's answer is malformed";
    case ML_ERR_ARGUMENT:
        return "bad argument";
    case ML_ERR_RESOURCE:
        return "out of memory or threads";
    default:
        return "unknown result code";
    }
}

int ML_SendGetDeviceType(const char *address)
{
    return get_number(address, "/device-type");
}

int ML_SendSetDeviceType(const char *address, int type)
{
    if (type < 0)
        return ML_ERR_ARGUMENT;
    HttpAnswer answer;
    return exchange(address, "POST", "/device-type", std::to_string(type), answer);
}

int ML_SendGetKeyStatus(const char *address)
{
    const int value = get_number(address, "/key");
    return value == 0 || value == 1 || value < 0 ? value : ML_ERR_ANSWER;
}

int ML_SendSetSSID(const char *address, const char *ssid)
{
    if (ssid == nullptr)
        return ML_ERR_ARGUMENT;
    const size_t length = strnlen(ssid, ML_SSID_MAX + 1);
    if (length == 0 || length > ML_SSID_MAX)
        return ML_ERR_ARGUMENT;
    HttpAnswer answer;
    return exchange(address, "POST", "/ssid", std::string(ssid, length), answer);
}

int ML_SendSetCameraParams(const char *address, int brightness, int contrast, int exposure, int gain, const void *extra,
                           int extra_size)
{
    if (extra_size < 0 || extra_size > ML_CAMERA_PARAMS_EXTRA_MAX || (extra == nullptr && extra_size != 0))
        return ML_ERR_ARGUMENT;
    const std::string path = "/camera-params?brightness=" + std::to_string(brightness) +
                             "&contrast=" + std::to_string(contrast) + "&exposure=" + std::to_string(exposure) +
                             "&gain=" + std::to_string(gain);
    const std::string body = extra_size > 0 ? std::string(static_cast<const char *>(extra), extra_size) : std::string();
    HttpAnswer answer;
    return exchange(address, "POST", path, body, answer);
}

int ML_SendGetCameraParams(const char *address, unsigned char *block)
{
    if (block == nullptr)
        return ML_ERR_ARGUMENT;
    constexpr size_t kMaxValues = (ML_CAMERA_PARAMS_BLOCK_SIZE - 4) / 4;
    const size_t wanted = block[0] < kMaxValues ? block[0] : kMaxValues;
    HttpAnswer answer;
    const int result = exchange(address, "GET", "/camera-params", {}, answer);
    if (result != ML_OK)
        return result;
    // "name=value" lines, in the order the block keeps them.
    static const char *const kNames[] = {"brightness", "contrast", "exposure", "gain", "extra-size"};
    std::vector<int32_t> values;
    for (const char *name : kNames) {
        const std::string key = std::string(name) + "=";
        size_t at = answer.body.find(key);
        while (at != std::string::npos && at != 0 && answer.body[at - 1] != '\n')
            at = answer.body.find(key, at + 1);
        if (at == std::string::npos)
            return ML_ERR_ANSWER;
        const size_t end = answer.body.find('\n', at);
        const std::string text =
            answer.body.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
        const char *begin = text.c_str();
        char *stop = nullptr;
        errno = 0;
        const long long value = std::strtoll(begin, &stop, 10);
        while (std::isspace(static_cast<unsigned char>(*stop)))
            ++stop;
        if (stop == begin || *stop != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
            return ML_ERR_ANSWER;
        values.push_back(static_cast<int32_t>(value));
    }
    const size_t count = wanted < values.size() ? wanted : values.size();
    for (size_t i = 0; i < count; ++i)
        put_u32le(block + 4 + 4 * i, static_cast<uint32_t>(values[i]));
    block[0] = static_cast<unsigned char>(count);
    return ML_OK;
}

int ML_SendReboot(const char *address)
{
    HttpAnswer answer;
    return exchange(address, "POST", "/reboot", {}, answer);
}

}  // extern "C"
