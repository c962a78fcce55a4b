#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quillon::cli {

bool ParsedArguments::has(const std::string& name) const {
    for (const auto& option : options)
        if (option.first == name) return true;
    return false;
}

std::optional<std::string> ParsedArguments::value(const std::string& name) const {
    std::optional<std::string> found;
    for (const auto& option : options)
        if (option.first == name) found = option.second;
    return found;
}

std::vector<std::string> ParsedArguments::values(const std::string& name) const {
    std::vector<std::string> found;
    for (const auto& option : options)
        if (option.first == name) found.push_back(option.second);
    return found;
}

std::optional<std::string> parseArguments(const std::vector<std::string>& words,
                                          std::span<const OptionSpec> specs, ParsedArguments& out) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            out.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h") {
            out.options.emplace_back("help", "");
            continue;
        }
        if (word.rfind("--", 0) != 0) return "unknown option '" + word + "'";
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : specs)
            if (name == candidate.name) spec = &candidate;
        if (spec == nullptr) return "unknown option '--" + name + "'";
        if (!spec->takesValue) {
            if (inlineValue) return "option '--" + name + "' takes no value";
            out.options.emplace_back(name, "");
            continue;
        }
        if (inlineValue) {
            out.options.emplace_back(name, *inlineValue);
        } else if (i + 1 < words.size()) {
            out.options.emplace_back(name, words[++i]);
        } else {
            return "option '--" + name + "' needs a value";
        }
    }
    return std::nullopt;
}

bool parseInteger(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

bool parseUnsigned(const std::string& text, unsigned long minimum, unsigned long maximum,
                   unsigned long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    if (parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

bool parseFiniteDouble(const std::string& text, double& value) {
    if (text.empty() || text.find_first_of(" \t\n") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

}  // namespace quillon::cli
