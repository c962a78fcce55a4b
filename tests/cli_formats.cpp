#include "cli_formats.h"

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
    std::vector<std::string> data;  // the lines after ##XYPOINTS=
    bool inData = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (const size_t comment = line.find("$$"); comment != std::string::npos)
            line.resize(comment);
        if (line.rfind("##", 0) != 0) {
            // A value goes on in the lines up to the next record.
            if (inData)
                data.push_back(line);
            else if (!out.records.empty())
                out.records.back().second += " " + line;
            else
                return false;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        std::string label;
        for (char c : line.substr(2, eq - 2))
            if (!std::strchr(" -/_", c)) label += static_cast<char>(std::toupper(c));
        std::string value = line.substr(eq + 1);
        value.erase(0, value.find_first_not_of(' '));
        value.erase(value.find_last_not_of(' ') + 1);
        out.records.emplace_back(label, value);
        inData = label == "XYPOINTS";
        if (inData && value != "(XY..XY)") return false;
    }
    if (out.records.empty() || out.records.front().first != "TITLE" ||
        out.records.back().first != "END")
        return false;
    const double xFactor = std::atof(out.value("XFACTOR").c_str()),
                 yFactor = std::atof(out.value("YFACTOR").c_str());
    std::vector<double> numbers;
    for (std::string line : data) {
        for (char& c : line)
            if (c == ',' || c == ';' || c == '\t') c = ' ';
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            char* end = nullptr;
            const double v = std::strtod(word.c_str(), &end);
            if (word == "?")
                numbers.push_back(NAN);
            else if (*end != '\0' || end == word.c_str())
                return false;
            else
                numbers.push_back(v);
        }
    }
    if (numbers.size() % 2 != 0) return false;
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
