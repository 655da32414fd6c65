#include "arguments.h"

#include "failures.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace qrn {

namespace {

const OptionRule *find_option(const std::vector<OptionRule> &options, const std::string &name)
{
    const auto found =
        std::find_if(options.begin(), options.end(), [&](const OptionRule &rule) { return rule.name == name; });
    return found == options.end() ? nullptr : &*found;
}

}  // namespace

Arguments Arguments::parse(const std::vector<std::string> &words, const std::vector<OptionRule> &options)
{
    Arguments parsed;
    bool options_ended = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (options_ended || word.size() < 2 || word[0] != '-') {
            parsed.operands_.push_back(word);
            continue;
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        const auto equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const OptionRule *rule = find_option(options, name);
        if (!rule)
            throw UsageError("unknown option '" + name + "'");
        if (parsed.options_.count(name))
            throw UsageError(name + " given twice");
        std::string value;
        if (!rule->takes_value) {
            if (equals != std::string::npos)
                throw UsageError(name + " takes no value");
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            value = words[++i];
        } else {
            throw UsageError(name + " needs a value");
        }
        parsed.options_[name] = value;
    }
    return parsed;
}

bool Arguments::has(const std::string &option) const
{
    return options_.count(option) != 0;
}

std::optional<std::string> Arguments::value(const std::string &option) const
{
    const auto found = options_.find(option);
    if (found == options_.end())
        return std::nullopt;
    return found->second;
}

void Arguments::expect_operands(size_t minimum, size_t maximum) const
{
    if (operands_.size() < minimum)
        throw UsageError("missing operand");
    if (operands_.size() > maximum)
        throw UsageError("unexpected operand '" + operands_[maximum] + "'");
}

bool asks_for_help(const std::vector<std::string> &words)
{
    for (const std::string &word : words) {
        if (word == "--")
            return false;
        if (word == "--help")
            return true;
    }
    return false;
}

int parse_integer(const std::string &text, int minimum, int maximum, const std::string &option)
{
    const std::string expected =
        option + " expects a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(expected + ", got '" + text + "'");
    errno = 0;
    const unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || number < static_cast<unsigned long long>(minimum) ||
        number > static_cast<unsigned long long>(maximum))
        throw UsageError(expected + ", got '" + text + "'");
    return static_cast<int>(number);
}

int integer_option(const Arguments &arguments, const std::string &option, int minimum, int maximum, int fallback)
{
    const auto text = arguments.value(option);
    return text ? parse_integer(*text, minimum, maximum, option) : fallback;
}

}  // namespace qrn
