// Where a call reaches the module: the address it was given, or the
// KELVO_ML_ADDRESS override, as an HTTP base URL.
#pragma once

#include <optional>
#include <string>

namespace mlcam {

// "http://a.b.c.d:port" for "a.b.c.d[:port]"; nothing for a NULL or bad
// address. Only numeric IPv4 addresses are taken: no name lookups.
std::optional<std::string> module_base_url(const char *address);

}  // namespace mlcam
