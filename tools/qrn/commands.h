// The tool's commands, as the dispatcher sees them.
#pragma once

#include "arguments.h"

#include <string>
#include <vector>

namespace qrn {

struct Command {
    const char *name;
    const char *summary;  // one line in `qrn --help`
    std::string usage;    // the text of `qrn NAME --help`
    std::vector<OptionRule> options;
    int (*run)(const Arguments &arguments);  // returns the exit code
};

// The last line of every command's usage text.
constexpr const char *kHelpOptionHelp = "  --help             this text\n";

const Command &scan_command();
const Command &info_command();
const Command &snapshot_command();
const Command &stream_command();
const Command &smartconfig_command();
const Command &inspect_command();

}  // namespace qrn
