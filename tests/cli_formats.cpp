#include "cli_formats.h"

#include <vector>

namespace quillon::test {

bool parseJson(const std::string& text, Json& out) {
    out = Json::parse(text, nullptr, false);
    return !out.is_discarded();
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
