#include "p2p_init_strings.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "trace.h"

namespace {

constexpr size_t kInitStringField = 512;  // the session keeps the string with its NUL

// The empty string: the layer's own defaults, broker 127.0.0.1:1883 and
// relay 127.0.0.1:3478, where the servers script starts them by default, so
// an unconfigured host never leaves loopback.
const char kDefaultInitString[] = "";

const char *const kFileKeys[4] = {"init_string_a", "init_string_b", "init_string_c", "init_string_d"};
const char *const kVariables[4] = {"QRN_P2P_INIT_A", "QRN_P2P_INIT_B", "QRN_P2P_INIT_C", "QRN_P2P_INIT_D"};

struct Row {
    char prefix[5];
    int string;
};

// MXRR and SZZE share string D.
const Row kRows[] = {{"SQRN", 0}, {"PVBV", 1}, {"SLTW", 2}, {"MXRR", 3}, {"SZZE", 3}};

std::string trimmed(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// KEY=VALUE lines, # comments. A key given twice keeps its last value.
void read_config_file(const char *path, std::array<std::string, 4> &out)
{
    std::ifstream file(path);
    if (!file) {
        qrn_trace("p2p config %s cannot be read\n", path);
        return;
    }
    std::string line;
    while (std::getline(file, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        for (int i = 0; i < 4; ++i)
            if (key == kFileKeys[i])
                out[i] = value;
    }
}

}  // namespace

bool is_valid_init_string(const std::string &text)
{
    if (text.empty() || text.size() % 2 != 0 || text.size() >= kInitStringField)
        return false;
    for (char letter : text)
        if (letter < 'A' || letter > 'P')
            return false;
    return true;
}

std::array<std::string, 4> load_p2p_init_strings()
{
    return load_p2p_init_strings(std::getenv("QRN_P2P_CONFIG"));
}

std::array<std::string, 4> load_p2p_init_strings(const char *config_path)
{
    std::array<std::string, 4> from_file;
    if (config_path && *config_path)
        read_config_file(config_path, from_file);
    std::array<std::string, 4> strings;
    for (int i = 0; i < 4; ++i) {
        const char *variable = std::getenv(kVariables[i]);
        // A string the layer could not decode is no configuration at all.
        if (is_valid_init_string(from_file[i])) {
            strings[i] = from_file[i];
        } else if (variable && is_valid_init_string(variable)) {
            strings[i] = variable;
        } else {
            if (!from_file[i].empty() || (variable && *variable))
                qrn_trace("p2p init string %c is not valid, the default is used\n", 'A' + i);
            strings[i] = kDefaultInitString;
        }
    }
    return strings;
}

int p2p_init_string_row(const char *device_id)
{
    if (device_id && std::strlen(device_id) >= 4)
        for (const Row &row : kRows)
            if (std::memcmp(device_id, row.prefix, 4) == 0)
                return row.string;
    return 0;
}

std::string p2p_init_string_for(const char *device_id)
{
    return load_p2p_init_strings()[static_cast<size_t>(p2p_init_string_row(device_id))];
}
