// Which peer-to-peer init string serves a device ID, chosen by its prefix.
// The deployment's four strings come from the configuration file named by
// QRN_P2P_CONFIG (keys init_string_a..init_string_d), else from the
// variables QRN_P2P_INIT_A..QRN_P2P_INIT_D, else from built-in defaults
// that name servers on loopback; each string falls back on its own.
#pragma once

#include <array>
#include <string>

// The four strings A..D, read from the configuration now: from the file
// config_path (NULL or empty: none), then the variables, then the defaults.
std::array<std::string, 4> load_p2p_init_strings(const char *config_path);
// The same with the file named by QRN_P2P_CONFIG.
std::array<std::string, 4> load_p2p_init_strings();

// Row of the prefix table for a device ID: 0..3 for strings A..D. An unknown
// prefix, or one in lower case, uses string A.
int p2p_init_string_row(const char *device_id);

// The string for a device ID, read from the configuration now.
std::string p2p_init_string_for(const char *device_id);

// Letters A to P only, two per byte, and short enough for the session's field.
bool is_valid_init_string(const std::string &text);
