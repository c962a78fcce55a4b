#include "cli_formats.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace quillon::test {
namespace {

bool eat(const std::string& s, size_t& i, char c) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return i < s.size() && s[i] == c && ++i;
}

bool jsonString(const std::string& s, size_t& i, std::string& out) {
    if (!eat(s, i, '"')) return false;
    for (; i < s.size() && s[i] != '"'; ++i) {
        if (static_cast<unsigned char>(s[i]) < 0x20) return false;
        if (s[i] == '\\' && (++i >= s.size() || !std::strchr("\"\\/bfnrtu", s[i]))) return false;
        out += s[i];
    }
    return eat(s, i, '"');
}

bool jsonValue(const std::string& s, size_t& i, Json& out) {
    if (eat(s, i, '{')) {
        if (eat(s, i, '}')) return true;
        do {
            std::string key;
            if (!jsonString(s, i, key) || !eat(s, i, ':') || !jsonValue(s, i, out.members[key]))
                return false;
        } while (eat(s, i, ','));
        return eat(s, i, '}');
    }
    if (eat(s, i, '[')) {
        if (eat(s, i, ']')) return true;
        do {
            if (!jsonValue(s, i, out.items.emplace_back())) return false;
        } while (eat(s, i, ','));
        return eat(s, i, ']');
    }
    if (i < s.size() && s[i] == '"') return jsonString(s, i, out.text);
    for (const char* word : {"null", "true", "false"})
        if (s.compare(i, std::strlen(word), word) == 0) return i += std::strlen(word), true;
    const char* begin = s.c_str() + i;
    char* end = nullptr;
    out.number = std::strtod(begin, &end);
    // strtod also takes nan, inf and hex, none of which is JSON.
    if (end == begin || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '-') ||
        std::string(begin, static_cast<const char*>(end)).find_first_of("xXnNiI") !=
            std::string::npos)
        return false;
    i += static_cast<size_t>(end - begin);
    return true;
}

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json none;
    auto it = members.find(key);
    return it == members.end() ? none : it->second;
}

std::vector<double> Json::numbers() const {
    std::vector<double> out;
    for (const Json& item : items) out.push_back(item.number);
    return out;
}

bool parseJson(const std::string& text, Json& out) {
    size_t i = 0;
    return jsonValue(text, i, out) && text.find_first_not_of(" \t\r\n", i) == std::string::npos;
}

bool xmlNests(const std::string& text) {
    std::vector<std::string> open;
    bool rootSeen = false;
    for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i)) {
        const size_t end = text.find('>', i);
        if (end == std::string::npos) return false;
        const std::string tag = text.substr(i + 1, end - i - 1);
        i = end;
        if (tag.empty()) return false;
        if (tag[0] == '?' || tag[0] == '!') continue;
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) return false;
            open.pop_back();
            continue;
        }
        if (open.empty() && rootSeen) return false;
        rootSeen = true;
        if (tag.back() != '/') open.push_back(tag.substr(0, tag.find_first_of(" \t\n")));
    }
    return rootSeen && open.empty();
}

}  // namespace quillon::test
