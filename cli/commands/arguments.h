// Command-line words into options and positional values, plus strict number
// parsing: a value that is not wholly a number is a usage error, never a 0.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::cli {

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takesValue;
};

struct ParsedArguments {
    std::vector<std::string> positional;
    // In command-line order; an option given twice appears twice.
    std::vector<std::pair<std::string, std::string>> options;

    bool has(const std::string& name) const;
    // The last value given for `name`, if any.
    std::optional<std::string> value(const std::string& name) const;
    std::vector<std::string> values(const std::string& name) const;
};

// Accepts "--name value", "--name=value", and "--" to end the options. Returns
// an explanation when a word is an unknown option or a value is missing.
std::optional<std::string> parseArguments(const std::vector<std::string>& words,
                                          std::span<const OptionSpec> specs, ParsedArguments& out);

// Whole-text conversions; false when the text is not a number in range.
bool parseUnsigned(const std::string& text, unsigned long minimum, unsigned long maximum,
                   unsigned long& value);
bool parseInteger(const std::string& text, long minimum, long maximum, long& value);
bool parseFiniteDouble(const std::string& text, double& value);

}  // namespace quillon::cli
