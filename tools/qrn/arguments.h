// The options and operands of one command's command line.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qrn {

struct OptionRule {
    std::string name;  // with its dashes: "--port"
    bool takes_value;
};

class Arguments {
public:
    // Accepts "--name value", "--name=value" and "--" before operands that
    // start with a dash. Throws UsageError for anything else.
    static Arguments parse(const std::vector<std::string> &words, const std::vector<OptionRule> &options);

    bool has(const std::string &option) const;
    std::optional<std::string> value(const std::string &option) const;
    const std::vector<std::string> &operands() const { return operands_; }

    // Throws UsageError unless there are between minimum and maximum operands.
    void expect_operands(size_t minimum, size_t maximum) const;

private:
    std::map<std::string, std::string> options_;
    std::vector<std::string> operands_;
};

// True when --help comes before any "--".
bool asks_for_help(const std::vector<std::string> &words);

// A non-negative decimal integer from minimum (0 or more) to maximum; throws
// UsageError naming the option.
int parse_integer(const std::string &text, int minimum, int maximum, const std::string &option);

// The option's value as an integer, or fallback when it is absent.
int integer_option(const Arguments &arguments, const std::string &option, int minimum, int maximum, int fallback);

}  // namespace qrn
