#include "cli_formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace quillon::test {

bool parseJson(const std::string& text, Json& out) {
    out = Json::parse(text, nullptr, false);
    return !out.is_discarded();
}

std::string Jcamp::value(const std::string& label) const {
    for (const auto& [name, text] : records)
        if (name == label) return text;
    return "(absent)";
}

bool parseJcamp(const std::string& text, Jcamp& out) {
    std::istringstream in(text);
    std::vector<double> numbers;  // of the lines after ##XYPOINTS=
    bool inData = false;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find("$$"));  // a comment runs to the line end
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("##", 0) != 0 && !inData) {  // a value goes on up to the next record
            if (out.records.empty()) return false;
            out.records.back().second += " " + line;
        } else if (line.rfind("##", 0) != 0) {
            std::replace_if(
                line.begin(), line.end(), [](char c) { return c == ',' || c == ';'; }, ' ');
            std::istringstream words(line);
            for (std::string word; words >> word;) {
                char* end = nullptr;
                numbers.push_back(word == "?" ? NAN : std::strtod(word.c_str(), &end));
                if (word != "?" && (*end != '\0' || end == word.c_str())) return false;
            }
        } else {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) return false;
            std::string label, value = line.substr(eq + 1);
            for (char c : line.substr(2, eq - 2))
                if (!std::strchr(" -/_", c)) label += static_cast<char>(std::toupper(c));
            value.erase(0, value.find_first_not_of(' '));
            out.records.emplace_back(label, value.erase(value.find_last_not_of(' ') + 1));
            inData = label == "XYPOINTS";
            if (inData && value != "(XY..XY)") return false;
        }
    }
    if (out.records.empty() || out.records.front().first != "TITLE" ||
        out.records.back().first != "END" || numbers.size() % 2 != 0)
        return false;
    const double xFactor = std::stod(out.value("XFACTOR")),
                 yFactor = std::stod(out.value("YFACTOR"));
    for (size_t i = 0; i < numbers.size(); i += 2) {
        out.x.push_back(numbers[i] * xFactor);
        out.y.push_back(numbers[i + 1] * yFactor);
    }
    return true;
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
